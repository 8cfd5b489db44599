#pragma once
// "File Attributes" (DLG_ATTR) and its "Advanced" page (DLG_ATT2): the attributes of one file,
// shown in fields. On a volume that may be changed, Write writes the name, type, creator and
// dates as the fields hold them (commands/main_changes.h) and closes the sheet; elsewhere it
// stays disabled. The values and how each dialog ends are those of commands/attributes.h.

#include "gui/dialog_base.h"

#include "volume/volume_entry.h"

namespace quarry {
struct Session;
struct CommandStates;
}  // namespace quarry

namespace quarry::gui {

class AttributesDialog : public ModelDialog {
    Q_OBJECT
public:
    AttributesDialog(QWidget* owner, QtUi& ui, Session& session, const VolumeEntry& file, CommandStates* states = nullptr);

protected:
    std::optional<int> pressControl(int control) override;

private:
    Session& session_;
    VolumeEntry file_;
    CommandStates* states_;
};

class AdvancedAttributesDialog : public ModelDialog {
    Q_OBJECT
public:
    AdvancedAttributesDialog(QWidget* owner, QtUi& ui, const Session& session, const VolumeEntry& file);

protected:
    std::optional<int> pressControl(int control) override;
};

// Command 115 and the dump window's File Parameter: shows the attributes of the named file of
// the current folder; nothing for a folder or a name not found. `states`, when given, is
// refreshed after a Write.
void showAttributesOf(QWidget* owner, QtUi& ui, Session& session, const std::string& key, CommandStates* states = nullptr);

}  // namespace quarry::gui
