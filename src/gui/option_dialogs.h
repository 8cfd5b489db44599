#pragma once
// The dialogs of the Options menu, bound to their models: file naming (DLG_OPT), output ports
// (DLG_PORT) and the log file (DLG_FLOG).

#include <memory>

#include "gui/dialog_base.h"

class QCheckBox;
class QLineEdit;

namespace quarry {
struct Session;
class NamingOptionsDialogModel;
class OutputPortsDialogModel;
class LogFileDialogModel;
}  // namespace quarry

namespace quarry::gui {

class NamingDialog : public ModelDialog {
    Q_OBJECT
public:
    NamingDialog(QWidget* owner, QtUi& ui, Session& session);
    ~NamingDialog() override;

protected:
    std::optional<int> pressControl(int control) override;

private:
    std::unique_ptr<NamingOptionsDialogModel> model_;
};

class PortDialog : public ModelDialog {
    Q_OBJECT
public:
    PortDialog(QWidget* owner, QtUi& ui, Session& session);
    ~PortDialog() override;

protected:
    std::optional<int> pressControl(int control) override;

private:
    std::unique_ptr<OutputPortsDialogModel> model_;
};

class LogDialog : public ModelDialog {
    Q_OBJECT
public:
    LogDialog(QWidget* owner, QtUi& ui, Session& session);
    ~LogDialog() override;

protected:
    std::optional<int> pressControl(int control) override;
    void refresh() override;

private:
    std::unique_ptr<LogFileDialogModel> model_;
    QLineEdit* name_;
    QCheckBox* manifest_;
};

}  // namespace quarry::gui
