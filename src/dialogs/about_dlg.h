#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace orvane {

class CLocalizableString;
class CPictureBox;
class CSettingParamManage;

// What the about box works with; a null member means the process-wide one.
struct AboutDlgServices {
    CSettingParamManage* settings = nullptr;
    CLocalizableString* strings = nullptr;
    // The folder holding Resource/, ending with "/"; empty: the program's own folder.
    std::string moduleFolder;
    // Opens a web address; false when nothing could open it. Null: QDesktopServices::openUrl.
    std::function<bool(const QUrl&)> openUrl;
};

// The modal about box: the logo, the product and maker names, the version, the copyright line and a
// link to the maker's web address, all from the about group of the current settings; "See more..."
// unfolds the licence agreement below. Escape closes it, Enter does not. Interface thread only.
class CAboutDlg final : public QDialog {
    Q_OBJECT

public:
    // Control ids.
    static constexpr int kLogo = 1045;
    static constexpr int kProductName = 1094;
    static constexpr int kCompanyName = 1095;
    static constexpr int kWebsite = 1082;
    static constexpr int kOk = 1071;
    static constexpr int kCopyright = 1107;
    static constexpr int kVersion = 1108;
    static constexpr int kSeeMore = 1122;
    static constexpr int kLicence = 1126;

    // How much the box and the licence text grow when the licence is unfolded, in pixels.
    static constexpr int kLicenceGrowth = 300;
    static constexpr const char* kLogoFile = "Resource/image/log.bmp";

    explicit CAboutDlg(QWidget* parent = nullptr, const AboutDlgServices& services = {});

    // Hides "See more...", makes the box and the text box kLicenceGrowth pixels taller and shows the
    // licence text in it.
    void ShowLicence();
    // Opens the maker's web address (http and https addresses only); a failure is shown as an alert.
    void OpenWebsite();

    // The licence agreement the program carries.
    static QString LicenceText();

    QWidget* Control(int id) const;
    CPictureBox* Logo() const { return logo; }
    QPlainTextEdit* Licence() const { return licence; }
    // The web address as it was read from the settings.
    const QString& Website() const { return website; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    CSettingParamManage& settings;
    CLocalizableString& strings;
    AboutDlgServices services;

    CPictureBox* logo = nullptr;
    QLabel* productName = nullptr;
    QLabel* companyName = nullptr;
    QLabel* websiteLink = nullptr;
    QPushButton* okButton = nullptr;
    QLabel* copyright = nullptr;
    QLabel* version = nullptr;
    QPushButton* seeMore = nullptr;
    QPlainTextEdit* licence = nullptr;
    QWidget* moreArea = nullptr;
    QString website;
};

}  // namespace orvane
