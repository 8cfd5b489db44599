#pragma once
// "Output Ports": where copies go, a file or one of seven ports, in one group of radio
// buttons. A click sets the port at once, and nothing undoes it: Cancel and the close box end
// the dialog with the clicked port in force. The naming mode, which shares the setting word,
// is never touched.

#include <optional>

namespace quarry {

struct Session;

namespace portdlg {
// 500 "File", 501-503 LPT1-LPT3, 504-507 COM1-COM4: the button is 500 + the port index.
inline constexpr int kFile = 500;
inline constexpr int kLastPort = 507;
// The Options menu's Output Ports.
inline constexpr int kOutputPortsItem = 127;
}  // namespace portdlg

class OutputPortsDialogModel {
public:
    explicit OutputPortsDialogModel(Session& session) : session_(session) {}

    // 500 + the port index: the radio button that is checked.
    int checkedButton() const;

    // 500-507 choose the port; OK and Enter end with 1; Cancel, Esc and the close box end with
    // 0 and restore nothing. Help opens "dlg_PORT".
    std::optional<int> press(int control);

private:
    Session& session_;
};

}  // namespace quarry
