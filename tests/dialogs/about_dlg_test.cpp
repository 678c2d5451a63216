#include "dialogs/about_dlg.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <vector>

#include "dialogs/dialogs_fixture.h"
#include "dialogs/install_dialogs.h"
#include "widgets/picture_box.h"
#include "dialogs/viewer_dialogs.h"
#include "viewer/viewer_fixture.h"

namespace orvane::test {
namespace {

class AboutDlgTest : public DialogSettingsFixture {
protected:
    explicit AboutDlgTest(const std::string& factory = DialogFactory(), bool withStrings = true)
        : DialogSettingsFixture(factory, withStrings) {}

    std::unique_ptr<CAboutDlg> OpenAbout() {
        AboutDlgServices services;
        services.settings = settings.get();
        services.strings = strings.get();
        services.openUrl = [this](const QUrl& url) {
            opened.push_back(url.toString().toStdString());
            return true;
        };
        return std::make_unique<CAboutDlg>(nullptr, services);
    }
    static std::string Label(CAboutDlg& about, int id) {
        return static_cast<QLabel*>(about.Control(id))->text().toStdString();
    }

    std::vector<std::string> opened;
};

TEST_F(AboutDlgTest, ShowsTheAboutGroupOfTheSettings) {
    auto about = OpenAbout();
    EXPECT_EQ(about->windowTitle().toStdString(), Text("ui_dlg_about", "About"));
    EXPECT_EQ(Label(*about, CAboutDlg::kProductName), "labscope");
    EXPECT_EQ(Label(*about, CAboutDlg::kCompanyName), "Lab Optics");
    EXPECT_EQ(Label(*about, CAboutDlg::kCopyright), "Copyright (C) 2026 Lab Optics");
    EXPECT_EQ(Label(*about, CAboutDlg::kVersion), "v9.1.2");
    EXPECT_EQ(static_cast<QPushButton*>(about->Control(CAboutDlg::kOk))->text().toStdString(),
              Text("ui_alert_ok", "确定"));
    EXPECT_FALSE(about->Control(CAboutDlg::kWebsite)->isHidden());
    EXPECT_NE(Label(*about, CAboutDlg::kWebsite).find("https://www.lab.example"), std::string::npos);
    // The logo installed beside the program.
    EXPECT_EQ(about->Logo()->BitmapWidth(), 288);
    EXPECT_EQ(about->Logo()->BitmapHeight(), 200);
    for (int id : {CAboutDlg::kProductName, CAboutDlg::kOk, CAboutDlg::kSeeMore, CAboutDlg::kWebsite}) {
        EXPECT_FALSE(about->Control(id)->accessibleName().isEmpty()) << id;
    }

    static_cast<QLabel*>(about->Control(CAboutDlg::kWebsite))->linkActivated(QStringLiteral("ignored"));
    EXPECT_EQ(opened, std::vector<std::string>{"https://www.lab.example"});
}

TEST_F(AboutDlgTest, SeeMoreUnfoldsTheLicenceThreeHundredPixelsDown) {
    auto about = OpenAbout();
    about->show();
    QApplication::processEvents();
    const QRect before = about->geometry();
    QPlainTextEdit* licence = about->Licence();
    EXPECT_TRUE(licence->isHidden());
    const int buttonHeight = about->Control(CAboutDlg::kSeeMore)->height();

    static_cast<QPushButton*>(about->Control(CAboutDlg::kSeeMore))->click();
    QApplication::processEvents();
    EXPECT_TRUE(about->Control(CAboutDlg::kSeeMore)->isHidden());
    EXPECT_TRUE(licence->isVisible());
    EXPECT_TRUE(licence->isReadOnly());
    EXPECT_EQ(about->height(), before.height() + CAboutDlg::kLicenceGrowth);
    EXPECT_EQ(about->width(), before.width());
    EXPECT_EQ(about->geometry().topLeft(), before.topLeft());
    EXPECT_EQ(licence->height(), buttonHeight + CAboutDlg::kLicenceGrowth);
    const QString text = licence->toPlainText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("ORVANE SOFTWARE LICENCE AGREEMENT")));
    EXPECT_GT(text.size(), 4500);
    EXPECT_LT(text.size(), 5200);
    EXPECT_TRUE(text.contains(QStringLiteral("\n\n")));
}

TEST_F(AboutDlgTest, EnterDoesNotCloseTheBoxAndEscapeDoes) {
    auto about = OpenAbout();
    about->open();
    for (QWidget* target : {about->Control(CAboutDlg::kOk), about->Control(CAboutDlg::kSeeMore),
                            static_cast<QWidget*>(about.get())}) {
        PressKey(target, Qt::Key_Return);
        PressKey(target, Qt::Key_Enter);
        EXPECT_TRUE(about->isVisible()) << target->objectName().toStdString();
    }
    EXPECT_TRUE(about->Licence()->isHidden());
    PressKey(about->Control(CAboutDlg::kOk), Qt::Key_Escape);
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(about->result(), QDialog::Rejected);
}

TEST_F(AboutDlgTest, OnlyWebAddressesAreOpened) {
    CSettingParam param = Using();
    for (const char* address : {"file:///etc/passwd", "javascript:alert(1)", "mailto:x@lab.example"}) {
        SCOPED_TRACE(address);
        param.companywebsite = address;
        settings->SetUsingParam(param);
        alerts.Clear();
        auto about = OpenAbout();
        about->OpenWebsite();
        EXPECT_EQ(alerts.Alerts().size(), 1u);
    }
    EXPECT_TRUE(opened.empty());
    // A bare host name is a web address; markup in it is shown as text.
    param.companywebsite = "www.lab.example/<b>x</b>";
    settings->SetUsingParam(param);
    auto about = OpenAbout();
    EXPECT_NE(Label(*about, CAboutDlg::kWebsite).find("&lt;b&gt;"), std::string::npos);
    about->OpenWebsite();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].rfind("http://www.lab.example/", 0), 0u);
}

class AboutWithoutAboutGroupTest : public AboutDlgTest {
protected:
    AboutWithoutAboutGroupTest() : AboutDlgTest(DialogFactory(false), false) {}
};

TEST_F(AboutWithoutAboutGroupTest, ShowsTheBuiltInValuesAndFallbackTexts) {
    alerts.Clear();
    AboutDlgServices services;
    services.settings = settings.get();
    services.strings = strings.get();
    services.moduleFolder = box / "none/";
    CAboutDlg about(nullptr, services);
    EXPECT_EQ(about.windowTitle().toStdString(), "About");
    EXPECT_EQ(static_cast<QPushButton*>(about.Control(CAboutDlg::kOk))->text().toStdString(), "确定");
    EXPECT_EQ(Label(about, CAboutDlg::kProductName), "zentrova");
    EXPECT_EQ(Label(about, CAboutDlg::kCompanyName), "");
    EXPECT_EQ(Label(about, CAboutDlg::kVersion), "v3.3.32");
    const CSettingParam builtIn;
    EXPECT_EQ(Label(about, CAboutDlg::kCopyright), builtIn.copyright);
    EXPECT_FALSE(about.Control(CAboutDlg::kWebsite)->isHidden());
    // No logo file: the box stays empty.
    EXPECT_EQ(about.Logo()->BitmapWidth(), 0);
}

class AboutWithoutWebsiteTest : public AboutDlgTest {
protected:
    AboutWithoutWebsiteTest() : AboutDlgTest(DialogFactory(true, "")) {}
};

TEST_F(AboutWithoutWebsiteTest, AnEmptyWebAddressHidesTheLink) {
    auto about = OpenAbout();
    EXPECT_TRUE(about->Control(CAboutDlg::kWebsite)->isHidden());
}

using AboutThroughViewerTest = ViewerFixture;

TEST_F(AboutThroughViewerTest, TheAboutButtonAndTheContextMenuOpenTheAboutBox) {
    dialogs = ViewerDialogs();
    Open(false);
    std::vector<std::string> seen;
    auto closeAbout = [&seen](QWidget* modal) {
        seen.push_back(modal->objectName().toStdString());
        modal->close();
    };
    OnNextModal(closeAbout);
    viewer->OnAbout();
    EXPECT_EQ(seen, std::vector<std::string>{"aboutDialog"});

    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) return;
        QAction* about = menu->findChild<QAction*>(QStringLiteral("aboutAction"));
        menu->close();
        if (about == nullptr) return;
        OnNextModal(closeAbout);
        about->trigger();
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 10), viewer->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(viewer.get(), &click);
    WaitFor([&] { return seen.size() == 2; }, 3000);
    EXPECT_EQ(seen, (std::vector<std::string>{"aboutDialog", "aboutDialog"}));
}

}  // namespace
}  // namespace orvane::test
