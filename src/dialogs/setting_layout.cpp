#include "dialogs/setting_layout.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <tuple>

#include "config/setting.h"
#include "dialogs/ip_address_edit.h"
#include "dialogs/setting_controls.h"

namespace orvane {

namespace {

using namespace setting_id;

class Builder {
public:
    Builder(QDialog& dialog, std::map<int, QWidget*>& controls) : dialog(dialog), controls(controls) {}

    template <class W>
    W* Add(int id, const char* name, W* widget) {
        widget->setObjectName(QString::fromLatin1(name));
        controls[id] = widget;
        return widget;
    }
    QLabel* Label(int id, const char* name, const char* text) {
        auto* label = Add(id, name, new QLabel(QString::fromUtf8(text)));
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    // A list refilled at run time (minimumCharacters > 0) keeps its width whatever it holds; a list
    // of fixed items is as wide as they are.
    QComboBox* Combo(int id, const char* name, int minimumCharacters = 0) {
        auto* combo = Add(id, name, new QComboBox);
        if (minimumCharacters > 0) {
            combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
            combo->setMinimumContentsLength(minimumCharacters);
        } else {
            combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        }
        return combo;
    }
    QLineEdit* Edit(int id, const char* name, const char* widest) {
        auto* edit = Add(id, name, new QLineEdit);
        const int width = edit->fontMetrics().horizontalAdvance(QString::fromLatin1(widest)) + 16;
        edit->setMinimumWidth(width);
        edit->setMaximumWidth(width);
        return edit;
    }
    QPushButton* Button(int id, const char* name, const char* text) {
        auto* button = Add(id, name, new QPushButton(QString::fromUtf8(text)));
        // Enter must never press a button of this dialog.
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    }
    QRadioButton* Radio(int id, const char* name, const char* text, QButtonGroup* group, int unit) {
        auto* radio = Add(id, name, new QRadioButton(QString::fromUtf8(text)));
        group->addButton(radio, unit);
        return radio;
    }
    QGroupBox* Group(int id, const char* name, const char* title) {
        return Add(id, name, new QGroupBox(QString::fromUtf8(title)));
    }

    QGroupBox* DeviceGroup() {
        QGroupBox* group = Group(kDeviceGroup, "deviceGroup", "设备设置");
        auto* grid = new QGridLayout(group);
        grid->addWidget(Label(kDeviceLabel, "deviceLabel", "Device:"), 0, 0);
        grid->addWidget(Combo(kDeviceList, "deviceList", 22), 0, 1);
        auto* address = Add(kWifiAddress, "wifiAddress", new CIpAddressEdit);
        grid->addWidget(address, 0, 2);
        grid->addWidget(Label(kWifiSeparator, "wifiSeparator", ":"), 0, 3);
        grid->addWidget(Edit(kWifiPort, "wifiPort", "65535"), 0, 4);
        grid->addWidget(Label(kResolutionLabel, "resolutionLabel", "Resolution:"), 1, 0);
        grid->addWidget(Combo(kResolutionList, "resolutionList", 22), 1, 1);
        grid->addWidget(Button(kConnect, "connectButton", "Connect"), 1, 2, 1, 3, Qt::AlignRight);
        grid->setColumnStretch(1, 1);
        // The wireless fields come and go with the chosen device; the rest must not move meanwhile.
        for (int id : {kWifiAddress, kWifiSeparator, kWifiPort, kConnect}) {
            QSizePolicy policy = controls[id]->sizePolicy();
            policy.setRetainSizeWhenHidden(true);
            controls[id]->setSizePolicy(policy);
        }
        return group;
    }

    QGroupBox* TimedShotGroup() {
        QGroupBox* group = Group(kTimedShotGroup, "timedShotGroup", "Timed Shot Setting");
        auto* grid = new QGridLayout(group);
        auto* shots = new QButtonGroup(group);
        shots->setObjectName(QStringLiteral("shotsUnitGroup"));
        auto* times = new QButtonGroup(group);
        times->setObjectName(QStringLiteral("timesUnitGroup"));

        grid->addWidget(Label(kShotsLabel, "shotsLabel", "Take"), 0, 0);
        grid->addWidget(Edit(kShotsEdit, "shotsEdit", "000000"), 0, 1);
        auto* shotsRow = new QHBoxLayout;
        shotsRow->addWidget(Label(kShotsPerLabel, "shotsPerLabel", "Shots per"));
        shotsRow->addWidget(Radio(kShotsMinute, "shotsMinute", "Minute", shots, Minute));
        shotsRow->addWidget(Radio(kShotsHour, "shotsHour", "Hour", shots, Hour));
        shotsRow->addWidget(Radio(kShotsDay, "shotsDay", "Day", shots, Day));
        shotsRow->addWidget(Label(kShotsRange, "shotsRange", "(Max.300)"));
        shotsRow->addStretch(1);
        grid->addLayout(shotsRow, 0, 2);

        grid->addWidget(Label(kTimesLabel, "timesLabel", "For"), 1, 0);
        grid->addWidget(Edit(kTimesEdit, "timesEdit", "000000"), 1, 1);
        auto* timesRow = new QHBoxLayout;
        timesRow->addWidget(Radio(kTimesMinute, "timesMinute", "Minute(s)", times, Minute));
        timesRow->addWidget(Radio(kTimesHour, "timesHour", "Hour(s)", times, Hour));
        timesRow->addWidget(Radio(kTimesDay, "timesDay", "Day(s)", times, Day));
        timesRow->addWidget(Label(kTimesRange, "timesRange", "(Max.300)"));
        timesRow->addStretch(1);
        grid->addLayout(timesRow, 1, 2);
        grid->setColumnStretch(2, 1);
        return group;
    }

    QGroupBox* MovieGroup() {
        QGroupBox* group = Group(kMovieGroup, "movieGroup", "Movie Setting");
        auto* grid = new QGridLayout(group);
        grid->addWidget(Label(kMovieSizeLabel, "movieSizeLabel", "Size:"), 0, 0);
        auto* sizeRow = new QHBoxLayout;
        QComboBox* size = Combo(kMovieSizeList, "movieSizeList", 11);
        size->addItems({QStringLiteral("320X240"), QStringLiteral("640X480")});
        sizeRow->addWidget(size);
        sizeRow->addSpacing(24);
        sizeRow->addWidget(Label(kMovieFormatLabel, "movieFormatLabel", "Format:"));
        QComboBox* format = Combo(kMovieFormatList, "movieFormatList");
        format->addItems({QStringLiteral("AVI"), QStringLiteral("MP4")});
        sizeRow->addWidget(format);
        sizeRow->addStretch(1);
        grid->addLayout(sizeRow, 0, 1);

        grid->addWidget(Label(kMaxSizeLabel, "maxSizeLabel", "Maximum File Size:"), 1, 0);
        auto* maxRow = new QHBoxLayout;
        maxRow->addWidget(Edit(kMaxSizeEdit, "maxSizeEdit", "0000000000"));
        maxRow->addWidget(Label(kMaxSizeHint, "maxSizeHint", "MB(16-4096)"));
        maxRow->addStretch(1);
        grid->addLayout(maxRow, 1, 1);
        grid->setColumnStretch(1, 1);
        return group;
    }

    QGroupBox* LocationGroup() {
        QGroupBox* group = Group(kLocationGroup, "locationGroup", "保存位置");
        auto* grid = new QGridLayout(group);
        auto* folderRow = new QHBoxLayout;
        auto* folder = Add(kFolderEdit, "folderEdit", new QLineEdit);
        folder->setMinimumWidth(folder->fontMetrics().averageCharWidth() * 40);
        folderRow->addWidget(folder, 1);
        QPushButton* browse = Button(kBrowse, "browseButton", "...");
        browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 24);
        folderRow->addWidget(browse);
        grid->addLayout(folderRow, 0, 0, 1, 3);
        grid->addWidget(Label(kCreatingFolderLabel, "creatingFolderLabel", "文件夹："), 1, 0);
        grid->addWidget(Combo(kCreatingFolderList, "creatingFolderList"), 1, 1);
        grid->setColumnStretch(2, 1);
        return group;
    }

    QGroupBox* LanguageGroup() {
        QGroupBox* group = Group(kLanguageGroup, "languageGroup", "Language Setting");
        auto* row = new QHBoxLayout(group);
        row->addWidget(Combo(kLanguageList, "languageList", 20), 3);
        row->addStretch(2);
        return group;
    }

    void Build() {
        auto* columns = new QHBoxLayout(&dialog);
        auto* left = new QVBoxLayout;
        left->addWidget(DeviceGroup());
        left->addWidget(TimedShotGroup());
        left->addWidget(MovieGroup());
        left->addWidget(LocationGroup());
        left->addWidget(LanguageGroup());
        left->addStretch(1);
        columns->addLayout(left, 1);

        auto* right = new QVBoxLayout;
        for (auto [id, name, text] :
             {std::tuple{kApply, "applyButton", "Apply"}, std::tuple{kUndo, "undoButton", "Undo"},
              std::tuple{kMore, "moreButton", "More..."}, std::tuple{kDefault, "defaultButton", "Default"}}) {
            QPushButton* button = Button(id, name, text);
            button->setMinimumWidth(button->fontMetrics().averageCharWidth() * 16);
            right->addWidget(button);
        }
        right->addStretch(1);
        columns->addLayout(right);
    }

private:
    QDialog& dialog;
    std::map<int, QWidget*>& controls;
};

}  // namespace

void CSettingLayout::Build(QDialog& dialog, std::map<int, QWidget*>& controls) {
    Builder(dialog, controls).Build();
}

}  // namespace orvane
