#pragma once
// How the volume information sheet ends. Its figures are those of volume_info.h, computed once
// when it opens.

#include <optional>

namespace quarry {

class UiPort;

// OK and Enter (OK is the default button) end with 1, the close box with 0. Esc does nothing:
// the sheet has no Cancel. Help opens "dlg_INFO".
std::optional<int> VolumeInfoDialogPress(UiPort& ui, int control);

}  // namespace quarry
