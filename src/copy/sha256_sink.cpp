#include "copy/sha256_sink.h"

namespace quarry {

Sha256Sink::Sha256Sink() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) error_ = "SHA-256 is not available";
}

bool Sha256Sink::write(const uint8_t* data, size_t length) {
    if (error_.empty() && EVP_DigestUpdate(context_.get(), data, length) != 1) error_ = "SHA-256 failed";
    return error_.empty();
}

std::string Sha256Sink::hex() {
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!error_.empty() || EVP_DigestFinal_ex(context_.get(), sum, &length) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[sum[i] >> 4]);
        text.push_back(kHex[sum[i] & 15]);
    }
    return text;
}

}  // namespace quarry
