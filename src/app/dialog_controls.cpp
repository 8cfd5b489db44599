#include "app/dialog_controls.h"

namespace quarry::dlg {

std::string LeadingCharacters(std::string_view utf8, size_t count) {
    size_t end = 0;
    size_t characters = 0;
    while (end < utf8.size()) {
        // Every byte but a continuation byte (10xxxxxx) starts a character.
        if ((static_cast<unsigned char>(utf8[end]) & 0xC0) != 0x80) {
            if (characters == count) break;
            ++characters;
        }
        ++end;
    }
    return std::string(utf8.substr(0, end));
}

}  // namespace quarry::dlg
