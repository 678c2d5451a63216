#include "viewer/orvane_app.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "base/text.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "localization/localizable_string.h"
#include "viewer/alert_presenter.h"
#include "viewer/main_viewer_dlg.h"
#include "viewer/qt_translations.h"
#include "widgets/event_loop_probe.h"

namespace orvane {

namespace {

std::string ProgramName() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return "orvane";
    std::string name(path, static_cast<size_t>(length));
    name = name.substr(name.rfind('/') + 1);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot != 0) name.resize(dot);
    return name.empty() ? std::string("orvane") : name;
}

}  // namespace

COrvaneApp::COrvaneApp() : COrvaneApp(Options{}) {}

COrvaneApp::COrvaneApp(Options options_) : options(std::move(options_)) {}

COrvaneApp::~COrvaneApp() {}

int COrvaneApp::Run(int& argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    // Measures the interface thread's responsiveness when ORVANE_EVENT_PROBE names a log file.
    const std::unique_ptr<CEventLoopProbe> probe = CEventLoopProbe::FromEnvironment();
    InitInstance();
    return 0;
}

void COrvaneApp::Alert(const std::string& text) {
    if (options.alert) {
        options.alert(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(CAlertPresenter::kCaption),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

std::string COrvaneApp::LockFilePath() const {
    std::string folder = options.lockFolder;
    if (folder.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        folder = runtime != nullptr && runtime[0] == '/' ? runtime : "/tmp";
    }
    const std::string name = options.programName.empty() ? ProgramName() : options.programName;
    return folder + "/" + name + ".lock";
}

bool COrvaneApp::IsSingleInstance() {
    if (lockFd) return true;
    // Close-on-exec: a program started from the viewer (the file manager, a movie player) must not
    // keep the lock after the viewer has ended.
    UniqueFd fd(::open(LockFilePath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) return true;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
        lockFd = std::move(fd);
        return true;
    }
    const int error = errno;
    fd.Reset();
    if (error != EWOULDBLOCK) return true;
    CLocalizableString& strings =
        options.viewer.strings != nullptr ? *options.viewer.strings : *CLocalizableString::GetInstance();
    Alert(strings.GetString(keys::kAlertHaveRunningApplication));
    return false;
}

bool COrvaneApp::SuppressXvidStatus() {
    CRegistry key(options.hive);
    int status = 0;
    if (!key.Create(kXvidKey)) {
        status = EACCES;
    } else if (!key.WriteDword(kXvidValue, 0u)) {
        status = EIO;
    } else {
        errno = 0;
        // Written through at once, so that a hive that cannot be saved is found here.
        if (key.Hive()->Flush()) return true;
        status = errno != 0 ? errno : EIO;
    }
    CLocalizableString& strings =
        options.viewer.strings != nullptr ? *options.viewer.strings : *CLocalizableString::GetInstance();
    Alert(Format(strings.GetString(keys::kAlertRegisterXvid), status));
    return false;
}

bool COrvaneApp::InitInstance() {
    // Qt's own texts in the interface's language from the first message on.
    std::unique_ptr<CQtTranslations> qtTexts;
    if (options.viewer.qtTranslations == nullptr) {
        qtTexts = std::make_unique<CQtTranslations>();
        CSettingParamManage& settings = options.viewer.settings != nullptr
                                            ? *options.viewer.settings
                                            : *CSettingParamManage::GetInstance();
        qtTexts->Apply(settings);
    }
    if (!IsSingleInstance()) return false;
    if (!SuppressXvidStatus()) return false;
    {
        ViewerServices services = options.viewer;
        if (qtTexts) services.qtTranslations = qtTexts.get();
        CMainViewerDlg viewer(services);
        viewer.exec();
    }
    return false;
}

}  // namespace orvane
