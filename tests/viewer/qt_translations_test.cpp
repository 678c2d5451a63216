#include "viewer/qt_translations.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include "config/setting.h"
#include "viewer_fixture.h"

namespace orvane::test {
namespace {

TEST(QtTranslationsTest, ALanguageItemNamesItsLocale) {
    EXPECT_EQ(CQtTranslations::LocaleOf(LanguageItem{"zh-Hans", "简体中文", 0x0804}).name(), "zh_CN");
    EXPECT_EQ(CQtTranslations::LocaleOf(LanguageItem{"English", "English", 0x0409}).language(),
              QLocale::English);
    // An id the table does not know: the identifier is read as a language tag.
    EXPECT_EQ(CQtTranslations::LocaleOf(LanguageItem{"zh-Hans", "", 0x8304}).language(), QLocale::Chinese);
    EXPECT_EQ(CQtTranslations::LocaleOf(LanguageItem{"Klingon", "", 0x8304}).language(), QLocale::English);
}

TEST(QtTranslationsTest, AFolderWithoutCataloguesLeavesQtsEnglish) {
    Sandbox box;
    {
        CQtTranslations texts(QString::fromStdString(box.Path()));
        EXPECT_FALSE(texts.Apply(QLocale(QLocale::Chinese, QLocale::China)));
        EXPECT_TRUE(texts.InstalledFile().isEmpty());
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
    }
}

class QtOwnTextsTest : public ViewerFixture {
protected:
    void SetUp() override {
        AddCamera();
        Open();
    }
    void SwitchLanguage(int32_t index) {
        CSettingParam param = settings.GetUsingParam();
        param.language = index;
        settings.SetUsingParam(param);
        // What the viewer does after the settings dialog ended with OK.
        viewer->LoadCaptions();
    }
};

// The buttons of an open message box and an open file dialog read the interface's language, and
// follow it when it changes.
TEST_F(QtOwnTextsTest, MessageBoxAndFileDialogButtonsFollowTheLanguageLive) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Orvane"), QStringLiteral("?"),
                    QMessageBox::Ok | QMessageBox::Cancel, viewer.get());
    QFileDialog files(viewer.get());
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setFileMode(QFileDialog::Directory);
    auto fileButton = [&](QDialogButtonBox::StandardButton which) {
        return files.findChild<QDialogButtonBox*>()->button(which)->text();
    };
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), "OK");
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "Cancel");
    EXPECT_EQ(fileButton(QDialogButtonBox::Cancel), "Cancel");
    const QString englishChoose = fileButton(QDialogButtonBox::Open);

    SwitchLanguage(1);  // Simplified Chinese
    EXPECT_TRUE(WaitFor([&] { return box.button(QMessageBox::Ok)->text() == QStringLiteral("确定"); }))
        << box.button(QMessageBox::Ok)->text().toStdString();
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    EXPECT_TRUE(WaitFor([&] { return fileButton(QDialogButtonBox::Cancel) == QStringLiteral("取消"); }))
        << fileButton(QDialogButtonBox::Cancel).toStdString();
    EXPECT_NE(fileButton(QDialogButtonBox::Open), englishChoose);
    // A box opened now reads Chinese from the start.
    QMessageBox later(QMessageBox::Warning, QStringLiteral("Orvane"), QStringLiteral("!"), QMessageBox::Ok);
    EXPECT_EQ(later.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));

    SwitchLanguage(0);
    EXPECT_TRUE(WaitFor([&] { return box.button(QMessageBox::Ok)->text() == "OK"; }));
    EXPECT_TRUE(WaitFor([&] { return fileButton(QDialogButtonBox::Cancel) == "Cancel"; }));
    // Qt names the accept button anew on a change of language ("&Choose" becomes "Open"): English.
    EXPECT_TRUE(fileButton(QDialogButtonBox::Open).contains(QRegularExpression(QStringLiteral("^[ -~]+$"))))
        << fileButton(QDialogButtonBox::Open).toStdString();
}

// The viewer takes its catalogue away with it: the next window starts from Qt's English.
TEST_F(QtOwnTextsTest, TheViewerRemovesItsCatalogueWhenItEnds) {
    SwitchLanguage(1);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    viewer.reset();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
}

}  // namespace
}  // namespace orvane::test
