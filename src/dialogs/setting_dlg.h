#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "config/setting_param.h"
#include "localization/string_keys.h"
#include "dialogs/viewer_dialogs.h"

class QButtonGroup;

namespace orvane {

class CLocalizableString;
class IPreviewControl;
class CSettingDeviceSection;
class CSettingParamManage;

// What the settings dialog works with. A null settings or strings member means the viewer's, or the
// process-wide one when there is no viewer.
struct SettingDlgServices {
    CSettingParamManage* settings = nullptr;
    CLocalizableString* strings = nullptr;
    // The folder chooser: parent, title, folder to start in; the chosen folder or an empty text.
    // Null: QFileDialog::getExistingDirectory.
    std::function<QString(QWidget* parent, const QString& title, const QString& start)> chooseFolder;
    // Runs the camera controls of the previewed camera. Null: the camera controls dialog over this one.
    std::function<void(QWidget* parent)> showCameraControls;
};

// The modal dialog in which the user edits the settings. It edits a private copy of the current
// record, validates it on Apply and hands it to the settings manager; Undo closes without saving.
// The device section acts at once through the viewer (CSettingDeviceSection). Every text comes from
// the string table; every message goes through ShowAlert. Enter and Escape never close it.
//
// Interface thread only.
class CSettingDlg final : public QDialog, public IViewerSettingsDialog {
    Q_OBJECT

public:
    // viewer may be null: the device section then stays empty. Sets everything up as the dialog
    // opens: captions, the working copy, the controls, the device lists, the busy state.
    explicit CSettingDlg(IPreviewControl* viewer, QWidget* parent = nullptr,
                         const SettingDlgServices& services = {});
    ~CSettingDlg() override;

    CSettingDlg(const CSettingDlg&) = delete;
    CSettingDlg& operator=(const CSettingDlg&) = delete;

    // IViewerSettingsDialog
    QDialog& Dialog() override { return *this; }
    void FillDeviceList() override;
    void FillResolutionLists();

    // Commands. OnCommand routes a control id as the dialog's buttons do (kUndoAlias included).
    void OnCommand(int id);
    // Collects and validates; after the first failed check shows its message, resets that field to
    // the factory value and stays open. Otherwise saves, creates the storage folders and ends with OK.
    void OnApply();
    // Ends with Cancel; nothing is saved.
    void OnUndo();
    // The factory values into the working copy and the controls; nothing is saved.
    void OnDefault();
    // The previewed camera's own controls (the no-camera message when nothing is previewed).
    void OnMore();
    // The folder chooser; a chosen folder replaces the folder text.
    void OnBrowse();
    // A unit button of the shots or duration group: the unit's default value and range hint. Units
    // outside Minute .. Day change nothing.
    void OnShotsUnit(int32_t unit);
    void OnTimesUnit(int32_t unit);

    // The working copy into the controls.
    void LoadControls(const CSettingParam& record);
    // The controls into `record` (a copy of the working copy).
    void CollectControls(CSettingParam& record);
    // The shots (duration) value against the range of its unit and its exact spelling in the edit.
    bool IsShotsValueValid() const;
    bool IsTimesValueValid() const;

    // Disables the controls that must not change while a photo, series or recording runs.
    void DisableWhileBusy();
    bool IsBusy() const { return busy; }
    // Whether the busy state keeps the control `id` disabled.
    bool IsHeldByBusy(int id) const;

    // --- For the device section and the tests -----------------------------------------------------
    QWidget* Control(int id) const;
    template <class W>
    W* ControlAs(int id) const {
        return qobject_cast<W*>(Control(id));
    }
    CSettingDeviceSection& DeviceSection() const { return *deviceSection; }
    IPreviewControl* Viewer() const { return viewer; }
    CSettingParamManage& Settings() const { return settings; }
    const CSettingParam& EditRecord() const { return editRecord; }
    int32_t ShotsValue() const { return shotsValue; }
    int32_t TimesValue() const { return timesValue; }
    int32_t ShotsUnit() const { return shotsUnit; }
    int32_t TimesUnit() const { return timesUnit; }
    std::string Text(const StringKey& text) const;
    // Hands `record` to the settings manager; a save that failed is told with the system's reason.
    void SaveRecord(const CSettingParam& record);
    // The edit or list's text as UTF-8.
    std::string TextOf(int id) const;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ConnectCommands();
    void SetCaptions();
    void SetAccessibleNames();
    // The data exchange of the timed-shot edits and unit groups, as the dialog framework does it.
    void ReadExchange();
    void WriteExchange();
    void CheckUnit(QButtonGroup* group, int32_t unit);
    void SetText(int id, const std::string& text);
    void SelectPosition(int id, int32_t position);
    // Position of the selected item of a list; -1 when none.
    int32_t SelectedPosition(int id) const;

    IPreviewControl* const viewer;
    CSettingParamManage& settings;
    CLocalizableString& strings;
    SettingDlgServices services;
    std::map<int, QWidget*> controls;
    QButtonGroup* shotsGroup = nullptr;
    QButtonGroup* timesGroup = nullptr;
    std::unique_ptr<CSettingDeviceSection> deviceSection;

    CSettingParam editRecord;
    int32_t shotsValue = 0;
    int32_t timesValue = 0;
    int32_t shotsUnit = Minute;
    int32_t timesUnit = Minute;
    bool busy = false;
};

}  // namespace orvane
