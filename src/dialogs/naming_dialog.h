#pragma once
// "Advanced copy options": the naming mode of copied files, in three radio buttons, and the
// form of binary copies (/B), in six. A choice takes effect at once; Cancel goes back to the
// mode and form the dialog opened with, while the close box keeps the choice. The output port,
// which shares the setting word, is never touched.

#include <optional>

#include "copy/copy_context.h"

namespace quarry {

struct Session;

namespace namingdlg {
inline constexpr int kLongNames = 400;
inline constexpr int kShortNames = 401;
inline constexpr int kRenameOnTheFly = 402;
// The binary copy formats, in the order of BinaryFormat: MacBinary I, II, III, AppleDouble,
// AppleSingle, BinHex 4.0.
inline constexpr int kMacBinaryI = 403;
inline constexpr int kBinHex = 408;
// "Folders of the Desktop file on MFS volumes": taken at the next mount.
inline constexpr int kMfsFolders = 409;
// The Options menu's File Naming.
inline constexpr int kFileNamingItem = 126;
}  // namespace namingdlg

class NamingOptionsDialogModel {
public:
    // Remembers the naming mode the dialog opens with.
    explicit NamingOptionsDialogModel(Session& session);

    // 400 + the naming mode: the radio button that is checked.
    int checkedButton() const;
    // 403 + the binary format: the format's radio button that is checked.
    int checkedFormatButton() const;
    bool mfsFoldersChecked() const;

    // 400-402 choose a mode, 403-408 a binary format, 409 turns the MFS folders on or off; OK and Enter end with 1 keeping it; Cancel and Esc restore the
    // remembered mode and end with 0; the close box ends with 0 keeping the choice. Help opens
    // "dlg_OPT".
    std::optional<int> press(int control);

private:
    Session& session_;
    unsigned remembered_;
    BinaryFormat rememberedFormat_;
    bool rememberedMfsFolders_;
};

}  // namespace quarry
