#pragma once

#include <QComboBox>
#include <QPushButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/registry.h"
#include "dialogs/dialogs_fixture.h"
#include "dialogs/setting_device_section.h"
#include "dialogs/viewer_dialogs.h"
#include "viewer/viewer_fixture.h"

namespace orvane::test {

// A main viewer over simulated cameras with the settings dialog opened over it, either on its own
// or through the viewer's Settings command, which runs it modally and sends it WM_PREVIEW_STARTED.
class DeviceDialogFixture : public ViewerFixture {
protected:
    ~DeviceDialogFixture() override {
        dialog.reset();
    }

    void SetWifi(int32_t hasWifi) {
        CSettingParam param = settings.GetUsingParam();
        param.haswifi = hasWifi;
        settings.SetUsingParam(param);
    }

    CSettingDlg& OpenDialog() {
        dialog = std::make_unique<CSettingDlg>(viewer.get(), viewer.get());
        return *dialog;
    }

    // Runs the viewer's Settings command; `steps` run inside the dialog's modal loop, after which the
    // dialog is closed with Apply (apply) or Undo unless the steps closed it.
    void RunSettings(const std::function<void(CSettingDlg&)>& steps, bool apply = false) {
        ViewerDialogFactories factories;
        factories.settings = [this](QWidget* parent, IPreviewControl& preview) -> std::unique_ptr<IViewerSettingsDialog> {
            auto made = std::make_unique<CSettingDlg>(&preview, parent);
            running = made.get();
            return made;
        };
        dialogs = std::move(factories);
        ranSteps = false;
        QTimer::singleShot(0, [this, steps, apply] {
            ASSERT_NE(running, nullptr);
            steps(*running);
            ranSteps = true;
            if (running->isVisible()) {
                if (apply) running->OnApply();
                if (running->isVisible()) running->OnUndo();
            }
        });
        viewer->OnSettings();
        running = nullptr;
        EXPECT_TRUE(ranSteps);
    }

    static QComboBox* List(CSettingDlg& dlg, int id) { return dlg.ControlAs<QComboBox>(id); }
    static std::vector<std::string> Items(CSettingDlg& dlg, int id) {
        std::vector<std::string> items;
        QComboBox* list = List(dlg, id);
        for (int i = 0; i < list->count(); ++i) items.push_back(list->itemText(i).toStdString());
        return items;
    }
    // The user picks position p of the device list.
    static void Choose(CSettingDlg& dlg, int p) {
        QComboBox* list = List(dlg, setting_id::kDeviceList);
        list->setCurrentIndex(p);
        Q_EMIT list->activated(p);
    }
    static bool WifiFieldsShown(CSettingDlg& dlg) {
        using namespace setting_id;
        bool shown = true;
        for (int id : {kWifiAddress, kWifiSeparator, kWifiPort, kConnect})
            shown = shown && !dlg.Control(id)->isHidden();
        return shown;
    }
    static std::string UsingSystemKey() { return Setting::GroupKey("using", "system"); }

    std::unique_ptr<CSettingDlg> dialog;
    CSettingDlg* running = nullptr;
    bool ranSteps = false;
};

}  // namespace orvane::test
