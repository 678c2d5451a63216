#include "dialogs/setting_dlg.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>
#include <system_error>

#include "base/alert_sink.h"
#include "base/message_sink.h"
#include "base/text.h"
#include "capture/capture_video.h"
#include "config/setting_param_manage.h"
#include "dialogs/camera_controls_dlg.h"
#include "dialogs/ip_address_edit.h"
#include "dialogs/setting_controls.h"
#include "dialogs/setting_device_section.h"
#include "dialogs/setting_layout.h"
#include "dialogs/setting_validation.h"
#include "localization/localizable_string.h"
#include "media/saving_loaction_manage.h"
#include "control/preview_control.h"

namespace orvane {

using namespace setting_id;

namespace {

CSettingParamManage& SettingsFor(IPreviewControl* viewer, const SettingDlgServices& services) {
    if (services.settings != nullptr) return *services.settings;
    return viewer != nullptr ? viewer->Settings() : *CSettingParamManage::GetInstance();
}

CLocalizableString& StringsFor(IPreviewControl* viewer, const SettingDlgServices& services) {
    if (services.strings != nullptr) return *services.strings;
    return viewer != nullptr ? viewer->Strings() : *CLocalizableString::GetInstance();
}

// The controls that must not change while a photo, series or recording runs. Connect is among them:
// connecting or disconnecting stops the preview that the running action feeds on.
constexpr int kBusyControls[] = {kFolderEdit, kMaxSizeEdit,    kMovieSizeList, kBrowse,    kDefault,
                                 kDeviceList, kResolutionList, kShotsEdit,     kTimesEdit, kConnect};

// The captions set when the dialog opens: control, key, fallback.
struct Caption {
    int id;
    StringKey text;
};
constexpr Caption kCaptions[] = {
    {kDeviceGroup, keys::kSettingLabDeviceSetting},
    {kDeviceLabel, keys::kSettingLabDevice},
    {kResolutionLabel, keys::kSettingLabResolution},
    {kTimedShotGroup, keys::kSettingLabTimedShotSettings},
    {kShotsLabel, keys::kSettingLabShotsFrontHint},
    {kShotsPerLabel, keys::kSettingLabShotsLaterHint},
    {kShotsMinute, keys::kSettingRadioShotsPreminuteTaking},
    {kShotsHour, keys::kSettingRadioShotsPrehourTaking},
    {kShotsDay, keys::kSettingRadioShotsPredayTaking},
    {kTimesLabel, keys::kSettingLabTimesFrontHint},
    {kTimesMinute, keys::kSettingRadioTimesMinuteTaking},
    {kTimesHour, keys::kSettingRadioTimesHourTaking},
    {kTimesDay, keys::kSettingRadioTimesDayTaking},
    {kMovieGroup, keys::kSettingLabMovieSetting},
    {kMovieSizeLabel, keys::kSettingLabMovieSize},
    {kMovieFormatLabel, keys::kSettingLabMovieFormat},
    {kMaxSizeLabel, keys::kSettingLabMaximumMovieSizeFrontHint},
    {kMaxSizeHint, keys::kSettingLabMaximumMovieSizeLaterHint},
    {kLocationGroup, keys::kSettingLabLocationSetting},
    {kCreatingFolderLabel, keys::kSettingLabCreatingFolder},
    {kLanguageGroup, keys::kSettingLabLanuageSetting},
    {kApply, keys::kSettingBtnApply},
    {kUndo, keys::kSettingBtnUndo},
    {kMore, keys::kSettingBtnUpload},
    {kDefault, keys::kSettingBtnReset},
};

// Edits and lists are named after the label (or group) that tells what they hold.
constexpr std::pair<int, int> kNamedBy[] = {
    {kDeviceList, kDeviceLabel},
    {kResolutionList, kResolutionLabel},
    {kShotsEdit, kShotsLabel},
    {kTimesEdit, kTimesLabel},
    {kMovieSizeList, kMovieSizeLabel},
    {kMovieFormatList, kMovieFormatLabel},
    {kMaxSizeEdit, kMaxSizeLabel},
    {kFolderEdit, kLocationGroup},
    {kCreatingFolderList, kCreatingFolderLabel},
    {kLanguageList, kLanguageGroup},
};

QString CaptionOf(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) return group->title();
    return {};
}

}  // namespace

CSettingDlg::CSettingDlg(IPreviewControl* viewer_, QWidget* parent, const SettingDlgServices& services_)
    : QDialog(parent),
      viewer(viewer_),
      settings(SettingsFor(viewer_, services_)),
      strings(StringsFor(viewer_, services_)),
      services(services_) {
    setObjectName(QStringLiteral("settingDialog"));
    setWindowTitle(QStringLiteral("Setting"));
    setModal(true);
    CSettingLayout::Build(*this, controls);
    shotsGroup = findChild<QButtonGroup*>(QStringLiteral("shotsUnitGroup"));
    timesGroup = findChild<QButtonGroup*>(QStringLiteral("timesUnitGroup"));
    deviceSection = std::make_unique<CSettingDeviceSection>(*this, viewer, settings, strings);
    ConnectCommands();

    for (int id : {kWifiAddress, kWifiPort, kWifiSeparator, kConnect}) Control(id)->hide();
    setWindowTitle(QString::fromStdString(Text(keys::kDlgSetting)));
    QComboBox* folders = ControlAs<QComboBox>(kCreatingFolderList);
    folders->addItem(QString::fromStdString(Text(keys::kSettingComoboNotAutoCreatingFolder)));
    folders->addItem(QString::fromStdString(Text(keys::kSettingComoboAutoCreatingFolder)));
    SetCaptions();
    FillDeviceList();
    FillResolutionLists();
    if (viewer != nullptr) {
        const CaptureState& state = viewer->GetCaptureState();
        if (state.recordingRunning.load() != 0 || state.timedShotRunning.load() != 0 ||
            state.shotPending.load() != 0) {
            DisableWhileBusy();
        }
    }
    deviceSection->EnableWifiFields(!deviceSection->IsPreviewingWifi());
}

CSettingDlg::~CSettingDlg() = default;

void CSettingDlg::ConnectCommands() {
    for (int id : {kApply, kUndo, kMore, kDefault, kBrowse}) {
        connect(ControlAs<QPushButton>(id), &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    }
    connect(ControlAs<QPushButton>(kConnect), &QPushButton::clicked, this,
            [this] { deviceSection->OnConnect(); });
    connect(ControlAs<QComboBox>(kDeviceList), &QComboBox::activated, this,
            [this] { deviceSection->OnDeviceSelected(); });
    connect(shotsGroup, &QButtonGroup::idClicked, this, [this](int unit) { OnShotsUnit(unit); });
    connect(timesGroup, &QButtonGroup::idClicked, this, [this](int unit) { OnTimesUnit(unit); });
}

void CSettingDlg::OnCommand(int id) {
    switch (id) {
        case kApply:
            OnApply();
            break;
        case kUndo:
        case kUndoAlias:
            OnUndo();
            break;
        case kDefault:
            OnDefault();
            break;
        case kMore:
            OnMore();
            break;
        case kBrowse:
            OnBrowse();
            break;
        default:
            break;
    }
}

QWidget* CSettingDlg::Control(int id) const {
    const auto found = controls.find(id);
    return found != controls.end() ? found->second : nullptr;
}

std::string CSettingDlg::Text(const StringKey& text) const { return strings.GetString(text); }

void CSettingDlg::SaveRecord(const CSettingParam& record) {
    // The record serves this run whatever happens; the user must know that it will not be there next
    // time, and why.
    if (const int error = settings.SetUsingParam(record); error != 0) {
        ShowAlert(Format(Text(keys::kAlertCannotWriteFile),
                         settings.GetSettingsFile() + ": " + SystemErrorText(error)));
    }
}

std::string CSettingDlg::TextOf(int id) const {
    const QWidget* widget = Control(id);
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text().toStdString();
    if (const auto* list = qobject_cast<const QComboBox*>(widget)) return list->currentText().toStdString();
    return CaptionOf(widget).toStdString();
}

void CSettingDlg::SetText(int id, const std::string& text) {
    const QString value = QString::fromStdString(text);
    QWidget* widget = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(value);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(value);
    }
}

void CSettingDlg::SelectPosition(int id, int32_t position) {
    QComboBox* list = ControlAs<QComboBox>(id);
    list->setCurrentIndex(position >= 0 && position < list->count() ? position : -1);
}

int32_t CSettingDlg::SelectedPosition(int id) const { return ControlAs<QComboBox>(id)->currentIndex(); }

// --- Opening --------------------------------------------------------------------------------------

void CSettingDlg::SetCaptions() {
    editRecord = settings.GetUsingParam();
    QComboBox* languages = ControlAs<QComboBox>(kLanguageList);
    languages->clear();
    for (const LanguageItem& item : editRecord.languages)
        languages->addItem(QString::fromStdString(item.showname));
    LoadControls(editRecord);
    for (const Caption& caption : kCaptions) SetText(caption.id, Text(caption.text));
    deviceSection->UpdateConnectCaption();
    SetAccessibleNames();
}

void CSettingDlg::SetAccessibleNames() {
    for (auto& [id, widget] : controls) {
        const QString caption = CaptionOf(widget);
        if (!caption.isEmpty()) widget->setAccessibleName(caption);
    }
    for (auto [id, labelId] : kNamedBy) {
        Control(id)->setAccessibleName(CaptionOf(Control(labelId)));
        if (auto* label = qobject_cast<QLabel*>(Control(labelId))) label->setBuddy(Control(id));
    }
    Control(kWifiAddress)->setAccessibleName(QString::fromStdString(Text(keys::kSettingLabWifiAddress)));
    Control(kWifiPort)->setAccessibleName(QString::fromStdString(Text(keys::kSettingLabWifiPort)));
}

void CSettingDlg::DisableWhileBusy() {
    busy = true;
    for (int id : kBusyControls) Control(id)->setEnabled(false);
}

bool CSettingDlg::IsHeldByBusy(int id) const {
    if (!busy) return false;
    for (int held : kBusyControls) {
        if (held == id) return true;
    }
    return false;
}

void CSettingDlg::FillDeviceList() { deviceSection->FillDeviceList(); }

void CSettingDlg::FillResolutionLists() { deviceSection->FillResolutionLists(); }

// --- Timed-shot units -----------------------------------------------------------------------------

void CSettingDlg::OnShotsUnit(int32_t unit) {
    if (!IsValidTimeUnit(unit)) return;
    const ValueRange& range = editRecord.timedshot.ranges[unit];
    shotsValue = range.defaultvalue;
    SetText(kShotsEdit, CSettingValidation::FormatInteger(shotsValue));
    SetText(kShotsRange, Format(Text(keys::kSettingLabShotsRange), range.maxvalue));
    shotsUnit = unit;
}

void CSettingDlg::OnTimesUnit(int32_t unit) {
    if (!IsValidTimeUnit(unit)) return;
    const ValueRange& range = editRecord.timedshot.ranges[3 + unit];
    timesValue = range.defaultvalue;
    SetText(kTimesEdit, CSettingValidation::FormatInteger(timesValue));
    SetText(kTimesRange, Format(Text(keys::kSettingLabTimesRange), range.maxvalue));
    timesUnit = unit;
}

void CSettingDlg::CheckUnit(QButtonGroup* group, int32_t unit) {
    if (QAbstractButton* button = group->button(unit)) {
        button->setChecked(true);
        return;
    }
    // No button stands for this unit: none is checked.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(false);
    group->setExclusive(true);
}

void CSettingDlg::ReadExchange() {
    CSettingValidation::ReadInteger(TextOf(kShotsEdit), shotsValue);
    CSettingValidation::ReadInteger(TextOf(kTimesEdit), timesValue);
    shotsUnit = shotsGroup->checkedId();
    timesUnit = timesGroup->checkedId();
}

void CSettingDlg::WriteExchange() {
    SetText(kShotsEdit, CSettingValidation::FormatInteger(shotsValue));
    SetText(kTimesEdit, CSettingValidation::FormatInteger(timesValue));
    CheckUnit(shotsGroup, shotsUnit);
    CheckUnit(timesGroup, timesUnit);
}

// --- Record and controls ------------------------------------------------------------------------------

void CSettingDlg::LoadControls(const CSettingParam& record) {
    const TimedShotSetting& timed = record.timedshot;
    OnShotsUnit(timed.shotstype);
    OnTimesUnit(timed.timestype);
    shotsUnit = IsValidTimeUnit(timed.shotstype) ? timed.shotstype : -1;
    timesUnit = IsValidTimeUnit(timed.timestype) ? timed.timestype : -1;
    CheckUnit(shotsGroup, shotsUnit);
    CheckUnit(timesGroup, timesUnit);

    timesValue = timed.timesvalue;
    shotsValue = timed.shotsvalue;
    SetText(kTimesEdit, CSettingValidation::FormatInteger(timesValue));
    SetText(kShotsEdit, CSettingValidation::FormatInteger(shotsValue));

    SelectPosition(kMovieSizeList, record.movieresolution);
    SelectPosition(kMovieFormatList, record.movieformat);
    SetText(kFolderEdit, record.GetResourcesPath());
    SelectPosition(kCreatingFolderList, record.autocreatingfolder);
    SetText(kMaxSizeEdit, CSettingValidation::FormatInteger(record.moviesizemax));
    SelectPosition(kLanguageList, record.GetLanguageIndex());
    ControlAs<CIpAddressEdit>(kWifiAddress)->SetAddress(record.wifideviceip);
    SetText(kWifiPort, CSettingValidation::FormatInteger(record.wifideviceport));
}

void CSettingDlg::CollectControls(CSettingParam& record) {
    ReadExchange();
    record.timedshot.shotstype = shotsUnit;
    record.timedshot.timestype = timesUnit;
    record.timedshot.timesvalue = timesValue;
    record.timedshot.shotsvalue = shotsValue;

    record.SetResourcesPath(TextOf(kFolderEdit));
    if (const int32_t folders = SelectedPosition(kCreatingFolderList); folders >= 0)
        record.autocreatingfolder = folders;
    const QComboBox* sizes = ControlAs<QComboBox>(kMovieSizeList);
    if (sizes->currentIndex() >= 0 && sizes->currentData().isValid()) {
        const uint32_t packed = sizes->currentData().toUInt();
        record.moviesize = CaptureResolution{static_cast<int32_t>(packed >> 16),
                                             static_cast<int32_t>(packed & 0xFFFF), 0, false};
    }
    if (const int32_t format = SelectedPosition(kMovieFormatList); format >= 0) record.movieformat = format;
    record.moviesizemax = CSettingValidation::MovieSizeMaxFromText(TextOf(kMaxSizeEdit));
    record.language = SelectedPosition(kLanguageList);
    record.captureresolution = deviceSection->GetSelectedCaptureResolution();
    record.wifideviceip = ControlAs<CIpAddressEdit>(kWifiAddress)->Address();
    record.wifideviceport = CSettingValidation::LeadingNumber(TextOf(kWifiPort));
}

bool CSettingDlg::IsShotsValueValid() const {
    return CSettingValidation::IsTimedValueValid(editRecord.timedshot, 0, shotsUnit, shotsValue,
                                                 TextOf(kShotsEdit));
}

bool CSettingDlg::IsTimesValueValid() const {
    return CSettingValidation::IsTimedValueValid(editRecord.timedshot, 3, timesUnit, timesValue,
                                                 TextOf(kTimesEdit));
}

// --- Commands ---------------------------------------------------------------------------------------

void CSettingDlg::OnApply() {
    CSettingParam record = editRecord;
    CollectControls(record);
    const CSettingParam factory = settings.GetDefaultParam();

    const bool shotsValid = IsShotsValueValid();
    const bool timesValid = IsTimesValueValid();
    if (!shotsValid || !timesValid) {
        ShowAlert(Text(keys::kAlertTimedShotSetting));
        if (!timesValid) timesValue = factory.timedshot.timesvalue;
        if (!shotsValid) shotsValue = factory.timedshot.shotsvalue;
        WriteExchange();
        return;
    }

    // Saved media need a folder that is there now, named in full; a relative name would move with
    // the program's working folder.
    const std::string& folder = record.GetResourcesPath();
    std::error_code error;
    if (folder.empty() || folder[0] != '/' || !std::filesystem::is_directory(folder, error)) {
        ShowAlert(Format(Text(keys::kAlertNotExistPhotoLocation), folder));
        SetText(kFolderEdit, factory.GetResourcesPath());
        return;
    }

    if (!CSettingValidation::IsMovieSizeMaxValid(record.moviesizemax)) {
        ShowAlert(Text(keys::kAlertMovieMaxinumFile));
        SetText(kMaxSizeEdit, CSettingValidation::FormatInteger(factory.moviesizemax));
        return;
    }

    if (!CSettingValidation::IsPortValid(record.wifideviceport)) {
        ShowAlert(Text(keys::kAlertWifiPort));
        SetText(kWifiPort, CSettingValidation::FormatInteger(factory.wifideviceport));
        return;
    }

    SaveRecord(record);
    CSavingLoactionManage(&settings).CreateResourceFolders();
    accept();
}

void CSettingDlg::OnUndo() { reject(); }

void CSettingDlg::OnDefault() {
    editRecord = settings.GetDefaultParam();
    LoadControls(editRecord);

    const QString unset = QString::fromStdString(CSettingDeviceSection::SizeText(0, 0));
    QComboBox* formatList = ControlAs<QComboBox>(kResolutionList);
    for (int i = 0; i < formatList->count(); ++i) {
        if (formatList->itemText(i).startsWith(unset, Qt::CaseInsensitive)) {
            formatList->setCurrentIndex(i);
            break;
        }
    }
    // LoadControls picks the movie size by its old list position, which names nothing in the
    // camera's own list of sizes; pick it by size as the dialog does on opening.
    CaptureResolution movie = editRecord.moviesize;
    if (movie.width == 0 && movie.height == 0) movie = settings.GetUsingParam().GetCaptureResolution();
    deviceSection->SelectMovieSize(movie);
}

void CSettingDlg::OnMore() {
    if (services.showCameraControls) {
        services.showCameraControls(this);
        return;
    }
    if (viewer == nullptr) return;
    CCaptureVideo& session = viewer->CaptureSession();
    // The dialog stays on screen beneath the camera controls: hiding a dialog that runs modally
    // would end it.
    session.SetDevicePropertiesHandler([this, &session] {
        CCameraControlsDlg controlsDialog(session, this, &strings);
        controlsDialog.exec();
    });
    session.ShowDeviceProperties();
    session.SetDevicePropertiesHandler({});
}

void CSettingDlg::OnBrowse() {
    const QString title = QString::fromStdString(Text(keys::kSettingChooseFolderTitle));
    const QString start = ControlAs<QLineEdit>(kFolderEdit)->text();
    QString chosen;
    if (services.chooseFolder) {
        chosen = services.chooseFolder(this, title, start);
    } else {
        chosen = QFileDialog::getExistingDirectory(this, title, start, QFileDialog::ShowDirsOnly);
    }
    if (!chosen.isEmpty()) ControlAs<QLineEdit>(kFolderEdit)->setText(chosen);
}

// --- Events -----------------------------------------------------------------------------------------

bool CSettingDlg::event(QEvent* e) {
    if (static_cast<uint32_t>(e->type()) == WM_PREVIEW_STARTED) {
        deviceSection->OnPreviewStarted();
        return true;
    }
    return QDialog::event(e);
}

void CSettingDlg::keyPressEvent(QKeyEvent* e) {
    // Enter and Escape have reached here only because the focused control left them alone; the
    // dialog's own handling (default button, reject) must not see them.
    switch (e->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            e->accept();
            return;
        default:
            QDialog::keyPressEvent(e);
    }
}

}  // namespace orvane
