#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <string>

#include "base/module_folder.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "localization/localizable_string.h"
#include "media/saving_loaction_manage.h"
#include "media/ui/resources_browser_dlg.h"
#include "media_files.h"
#include "support/sandbox.h"

namespace orvane::test {

// Settings kept in sandbox files with the user folder <sandbox>/Media and its storage tree made, the
// English strings of the program, and the date fixed at 31 January 2024.
class MediaUiTest : public ::testing::Test {
protected:
    MediaUiTest()
        : hive(box / "settings.conf", box / "factory.conf"),
          settings(&hive),
          saving(&settings),
          strings(&settings, GetModuleFolder()) {
        MakeFolders(box / "Media");
        UseSettings(false, box / "Media");
        saving.CreateResourceFolders();
    }

    void UseSettings(bool nested, const std::string& userFolder) {
        CSettingParam param = settings.GetUsingParam();
        param.SetResourcesPath(userFolder);
        param.autocreatingfolder = nested ? 1 : 0;
        settings.SetUsingParam(param);
    }
    void UseNested(bool nested) { UseSettings(nested, settings.GetUsingParam().GetResourcesPath()); }

    std::string Root() const { return settings.GetUsingParam().GetRootPath(); }
    std::string Singles() const { return settings.GetUsingParam().GetSingleShotsFolder(); }
    std::string Timed() const { return settings.GetUsingParam().GetTimedShotsFolder(); }
    std::string Movies() const { return settings.GetUsingParam().GetMoviesFolder(); }

    // Runs the interface thread's events until `done` holds, for at most three seconds.
    static bool SpinUntil(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > 10000) return done();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        return true;
    }
    // Paints the panel until every thumbnail it shows is made (a movie without a picture frees its row
    // for the next item, which is then made too), so that the next paint shows the final picture.
    static bool SettlePanel(CResourcesBrowserDlg& panel) {
        for (int round = 0; round < 20; ++round) {
            const uint64_t made = panel.Loader().MadeCount();
            panel.grab();
            if (!SpinUntil([&] { return panel.Loader().Idle(); })) return false;
            Drain();
            if (panel.Loader().MadeCount() == made) return true;
        }
        return false;
    }
    // Runs what is posted to the interface thread now.
    static void Drain() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }

    Sandbox box;
    AlertRecorder alerts;
    ManualClock clock;  // 2024-01-31
    CRegistryHive hive;
    CSettingParamManage settings;
    CSavingLoactionManage saving;
    CLocalizableString strings;
};

}  // namespace orvane::test
