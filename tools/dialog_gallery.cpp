// Opens the settings dialog, the about box and the camera controls over a main viewer with
// simulated cameras, for a look on a real display. Settings live in a temporary folder.
//   orvane_dialog_gallery [--chinese] [--shots FOLDER]
// With --shots every dialog is grabbed into FOLDER as a PNG and the program ends.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <thread>

#include "base/module_folder.h"
#include "capture/wifi_device_proxy.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "dialogs/about_dlg.h"
#include "dialogs/camera_controls_dlg.h"
#include "dialogs/install_dialogs.h"
#include "dialogs/setting_controls.h"
#include "dialogs/setting_dlg.h"
#include "imaging/rotate_sample_imp.h"
#include "localization/localizable_string.h"
#include "media/saving_loaction_manage.h"
#include "simulation/simulated_camera.h"
#include "viewer/main_viewer_dlg.h"

using namespace orvane;

namespace {

void Settle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void Shoot(QWidget& window, const QString& folder, const char* name) {
    window.show();
    window.raise();
    Settle(300);
    const QString path = folder + QStringLiteral("/") + QString::fromLatin1(name) + QStringLiteral(".png");
    if (!window.grab().save(path)) std::fprintf(stderr, "could not write %s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString shots;
    bool chinese = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromUtf8(argv[i]);
        if (arg == QStringLiteral("--shots") && i + 1 < argc) shots = QString::fromUtf8(argv[++i]);
        if (arg == QStringLiteral("--chinese")) chinese = true;
    }

    QTemporaryDir home;
    const std::string root = home.path().toStdString();
    QDir().mkpath(home.path() + QStringLiteral("/media"));
    CRegistryHive hive(root + "/settings.conf", CRegistryHive::DefaultFactoryFile());
    CRegistryHive::SetCurrentUser(&hive);
    CSettingParamManage settings(&hive);
    CLocalizableString strings(&settings, GetModuleFolder());
    CSavingLoactionManage locations(&settings);
    RotateSampleImp rotation;
    CWifiDeviceProxy wifi(&settings);
    CSettingParam param = settings.GetUsingParam();
    param.language = chinese ? 1 : 0;
    param.SetResourcesPath(root + "/media");
    param.wifideviceip = 0x7F000001;  // loopback: the gallery never reaches another machine
    settings.SetUsingParam(param);

    SimulatedDeviceFile cameras(SimulatedDeviceFile::DemoCameras());
    SetDeviceFile(&cameras);
    InstallDialogs();
    int result = 0;
    {
        ViewerServices services;
        services.settings = &settings;
        services.strings = &strings;
        services.locations = &locations;
        services.rotation = &rotation;
        services.wifiLink = &wifi;
        services.device = &cameras;
        services.hive = &hive;
        CMainViewerDlg viewer(services);
        viewer.show();
        Settle(1500);

        AboutDlgServices aboutServices;
        aboutServices.settings = &settings;
        aboutServices.strings = &strings;
        CSettingDlg setting(&viewer, &viewer);
        CAboutDlg about(&viewer, aboutServices);
        CCameraControlsDlg controls(viewer.CaptureSession(), &viewer, &strings);
        if (!shots.isEmpty()) {
            const char* suffix = chinese ? "-zh" : "";
            Shoot(setting, shots, (std::string("settings-dialog") + suffix).c_str());
            QComboBox* devices = setting.ControlAs<QComboBox>(setting_id::kDeviceList);
            devices->setCurrentIndex(devices->count() - 1);
            Q_EMIT devices->activated(devices->count() - 1);
            Shoot(setting, shots, (std::string("settings-dialog-wireless") + suffix).c_str());
            setting.hide();
            Shoot(about, shots, (std::string("about-dialog") + suffix).c_str());
            about.ShowLicence();
            Shoot(about, shots, (std::string("about-dialog-licence") + suffix).c_str());
            about.hide();
            Shoot(controls, shots, (std::string("camera-controls-dialog") + suffix).c_str());
            controls.hide();
        } else {
            setting.show();
            about.show();
            controls.show();
            result = app.exec();
        }
    }
    SetDeviceFile(nullptr);
    CRegistryHive::SetCurrentUser(nullptr);
    return result;
}
