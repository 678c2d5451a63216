#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "base/module_folder.h"
#include "config/registry.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "dialogs/setting_controls.h"
#include "dialogs/setting_dlg.h"
#include "localization/localizable_string.h"
#include "support/sandbox.h"

namespace orvane::test {

// A factory file of the test's own: the about group (when asked for), the system values, the timed
// shot with the ranges 1 .. 300 (default 60) for every unit, and English and Chinese. The wireless
// address is loopback, so that nothing here could ever reach another machine.
inline std::string DialogFactory(bool withAbout = true,
                                 const std::string& website = "https://www.lab.example") {
    std::string text;
    if (withAbout) {
        text +=
            "[software\\zentrova\\default\\about]\n"
            "\"companyname\"=\"Lab Optics\"\n\"producename\"=\"labscope\"\n\"companywebsite\"=\"" +
            website +
            "\"\n\"copyright\"=\"Copyright (C) 2026 Lab Optics\"\n\"version\"=\"v9.1.2\"\n"
            "\"venderidlist\"=\"0C45;1E4E\"\n";
    }
    text +=
        "[software\\zentrova\\default\\system]\n"
        "\"resourcespath\"=\"default\"\n\"autocreatingfolder\"=dword:00000000\n"
        "\"movieresolution\"=dword:00000001\n\"moviesizemax\"=dword:00000400\n"
        "\"language\"=dword:00000000\n\"wifideviceip\"=dword:7f000001\n\"wifideviceport\"=dword:00001f90\n"
        "\"wifidevicename\"=\"zentrova wireless\"\n\"haswifi\"=dword:00000001\n"
        "[software\\zentrova\\default\\timedshot]\n"
        "\"shotstype\"=dword:00000000\n\"timestype\"=dword:00000000\n"
        "\"shotsvalue\"=dword:00000001\n\"timesvalue\"=dword:0000000a\n";
    for (const char* range :
         {"shots\\minute", "shots\\hour", "shots\\day", "times\\minute", "times\\hour", "times\\day"}) {
        text += std::string("[software\\zentrova\\default\\timedShot\\") + range + "]\n" +
                "\"minvalue\"=dword:00000001\n\"maxvalue\"=dword:0000012c\n\"default\"=dword:0000003c\n";
    }
    text +=
        "[software\\zentrova\\default\\languages]\n\"count\"=dword:00000002\n"
        "[software\\zentrova\\default\\languages\\language0]\n"
        "\"indentifier\"=\"English\"\n\"showname\"=\"English\"\n\"langid\"=dword:00000409\n"
        "[software\\zentrova\\default\\languages\\language1]\n"
        "\"indentifier\"=\"zh-Hans\"\n\"showname\"=\"简体中文\"\n\"langid\"=dword:00000804\n";
    return text;
}

// Presses a key on `target` as the keyboard would: unhandled, it travels up to the dialog.
inline void PressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

// Runs `action` on the modal window that opens next, from the event loop that window runs.
inline void OnNextModal(std::function<void(QWidget*)> action, int delayMs = 50) {
    QTimer::singleShot(delayMs, [action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr) action(modal);
    });
}

// Settings on a sandboxed hive with the factory file above; the settings dialog without a viewer.
class DialogSettingsFixture : public ::testing::Test {
protected:
    explicit DialogSettingsFixture(const std::string& factory = DialogFactory(), bool withStrings = true) {
        WriteFile(box / "factory.conf", factory);
        hive = std::make_unique<CRegistryHive>(box.ConfigHome() + "/zentrova/settings.conf",
                                               box / "factory.conf");
        CRegistryHive::SetCurrentUser(hive.get());
        settings = std::make_unique<CSettingParamManage>(hive.get());
        strings = std::make_unique<CLocalizableString>(settings.get(),
                                                       withStrings ? GetModuleFolder() : box / "none/");
        MakeFolders(box / "media");
        CSettingParam param = settings->GetUsingParam();
        param.SetResourcesPath(box / "media");
        settings->SetUsingParam(param);
    }
    ~DialogSettingsFixture() override {
        dialog.reset();
        CRegistryHive::SetCurrentUser(nullptr);
    }

    CSettingDlg& Open() {
        SettingDlgServices services;
        services.settings = settings.get();
        services.strings = strings.get();
        services.chooseFolder = [this](QWidget*, const QString& title, const QString& start) {
            chooserTitle = title;
            chooserStart = start;
            return chosenFolder;
        };
        dialog = std::make_unique<CSettingDlg>(nullptr, nullptr, services);
        return *dialog;
    }

    QLineEdit* Edit(int id) const { return dialog->ControlAs<QLineEdit>(id); }
    QComboBox* List(int id) const { return dialog->ControlAs<QComboBox>(id); }
    void Type(int id, const std::string& text) { Edit(id)->setText(QString::fromStdString(text)); }
    std::string Shown(int id) const { return dialog->TextOf(id); }
    std::string Text(const char* key, const char* fallback) { return strings->GetString(key, fallback); }
    CSettingParam Using() const { return settings->GetUsingParam(); }
    bool Accepted() const { return dialog->result() == QDialog::Accepted; }

    Sandbox box;
    AlertRecorder alerts;
    std::unique_ptr<CRegistryHive> hive;
    std::unique_ptr<CSettingParamManage> settings;
    std::unique_ptr<CLocalizableString> strings;
    std::unique_ptr<CSettingDlg> dialog;
    QString chosenFolder;
    QString chooserTitle;
    QString chooserStart;
};

}  // namespace orvane::test
