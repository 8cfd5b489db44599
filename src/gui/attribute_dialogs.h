#pragma once
// "File Attributes" (DLG_ATTR) and its "Advanced" page (DLG_ATT2): the attributes of one file,
// shown in fields; Write stays disabled, so nothing changes on the volume. The values and how
// each dialog ends are those of commands/attributes.h.

#include "gui/dialog_base.h"

namespace quarry {
struct Session;
struct VolumeEntry;
}  // namespace quarry

namespace quarry::gui {

class AttributesDialog : public ModelDialog {
    Q_OBJECT
public:
    AttributesDialog(QWidget* owner, QtUi& ui, const Session& session, const VolumeEntry& file);

protected:
    std::optional<int> pressControl(int control) override;
};

class AdvancedAttributesDialog : public ModelDialog {
    Q_OBJECT
public:
    AdvancedAttributesDialog(QWidget* owner, QtUi& ui, const Session& session, const VolumeEntry& file);

protected:
    std::optional<int> pressControl(int control) override;
};

// Command 115 and the dump window's File Parameter: shows the attributes of the named file of
// the current folder; nothing for a folder or a name not found.
void showAttributesOf(QWidget* owner, QtUi& ui, Session& session, const std::string& key);

}  // namespace quarry::gui
