#pragma once

#include <map>

class QDialog;
class QWidget;

namespace orvane {

// Builds the controls of the settings dialog with their template texts, in the order and grouping
// of the dialog: the device, timed-shot, movie, location and language groups on the left, the
// Apply, Undo, More... and Default buttons on the right. Qt layouts place them, so the dialog reads
// well at any font size. Every control is registered under its id (setting_controls.h).
class CSettingLayout {
public:
    static void Build(QDialog& dialog, std::map<int, QWidget*>& controls);
};

}  // namespace orvane
