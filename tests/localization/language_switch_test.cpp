#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/alert_sink.h"
#include "base/module_folder.h"
#include "localization_fixture.h"

namespace orvane::test {
namespace {

const char* const kFallback = "fallback";

class LanguageSwitchTest : public LocalizationFixture {
protected:
    void WriteBoth() {
        WriteStrings("English", "\"greeting\" = \"Hello\";\n\"only_en\" = \"English only\";\n");
        WriteStrings("zh-Hans", "\"greeting\" = \"你好\";\n");
    }
};

TEST_F(LanguageSwitchTest, FirstLookupLoadsTheFileOfTheCurrentLanguage) {
    WriteBoth();
    SetLanguage(1);
    auto strings = MakeStrings();
    EXPECT_EQ(strings->GetString("greeting", kFallback), "你好");
    EXPECT_EQ(strings->GetFilePath(), StringsPath("zh-Hans"));
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(LanguageSwitchTest, FilePathBeforeTheFirstLookupIsTheEnglishFile) {
    auto strings = MakeStrings();
    EXPECT_EQ(strings->GetFilePath(), StringsPath("English"));
}

TEST_F(LanguageSwitchTest, MissingFileAlertsOnceThenEveryLookupFallsBack) {
    auto strings = MakeStrings();
    EXPECT_EQ(strings->GetString("greeting", "Hi"), "Hi");
    EXPECT_EQ(strings->GetString("other", "Other"), "Other");
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{"Fail to open " + StringsPath("English")});

    // The empty table is not retried while the language stays.
    WriteBoth();
    EXPECT_EQ(strings->GetString("greeting", "Hi"), "Hi");
    EXPECT_EQ(alerts.Alerts().size(), 1u);
}

TEST_F(LanguageSwitchTest, SwitchingToALanguageWithAFileLoadsItAtTheNextLookup) {
    WriteStrings("zh-Hans", "\"greeting\" = \"你好\";\n");
    auto strings = MakeStrings();
    EXPECT_EQ(strings->GetString("greeting", "Hi"), "Hi");
    ASSERT_EQ(alerts.Alerts().size(), 1u);

    SetLanguage(1);
    EXPECT_EQ(strings->GetString("greeting", "Hi"), "你好");
    EXPECT_EQ(alerts.Alerts().size(), 1u);
}

TEST_F(LanguageSwitchTest, EachLanguageChangeReloadsOnce) {
    WriteBoth();
    auto strings = MakeStrings();
    EXPECT_EQ(strings->GetString("greeting", kFallback), "Hello");
    SetLanguage(1);
    EXPECT_EQ(strings->GetString("greeting", kFallback), "你好");
    // The table holds one language only.
    EXPECT_EQ(strings->GetString("only_en", kFallback), kFallback);

    // Changed files are read at the next change of language, not before.
    WriteStrings("English", "\"greeting\" = \"Good day\";\n");
    WriteStrings("zh-Hans", "\"greeting\" = \"您好\";\n");
    EXPECT_EQ(strings->GetString("greeting", kFallback), "你好");
    SetLanguage(0);
    EXPECT_EQ(strings->GetString("greeting", kFallback), "Good day");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(LanguageSwitchTest, AlertRepeatsOncePerReloadOfAMissingFile) {
    WriteStrings("zh-Hans", "\"greeting\" = \"你好\";\n");
    auto strings = MakeStrings();
    strings->GetString("greeting", kFallback);
    SetLanguage(1);
    strings->GetString("greeting", kFallback);
    SetLanguage(0);
    strings->GetString("greeting", kFallback);
    strings->GetString("greeting", kFallback);
    const std::string missing = "Fail to open " + StringsPath("English");
    EXPECT_EQ(alerts.Alerts(), (std::vector<std::string>{missing, missing}));
}

TEST_F(LanguageSwitchTest, IndexMinusOneLoadsTheEnglishFile) {
    WriteBoth();
    SetLanguage(1);
    auto strings = MakeStrings();
    EXPECT_EQ(strings->GetString("greeting", kFallback), "你好");
    SetLanguage(-1);
    EXPECT_EQ(strings->GetString("greeting", kFallback), "Hello");
    EXPECT_EQ(strings->GetFilePath(), StringsPath("English"));
}

TEST_F(LanguageSwitchTest, IndexBeyondTheListLoadsTheEnglishFile) {
    WriteBoth();
    SetLanguage(7);
    auto strings = MakeStrings();
    EXPECT_EQ(strings->GetString("greeting", kFallback), "Hello");
    EXPECT_EQ(strings->GetFilePath(), StringsPath("English"));
}

TEST_F(LanguageSwitchTest, FollowingTheUserLanguagePicksItsFile) {
    WriteBoth();
    SetLanguage(0x1FFFFFFF);
    ScopedEnv locale("LC_ALL", "zh_CN.UTF-8");
    auto strings = MakeStrings();
    EXPECT_EQ(strings->GetString("greeting", kFallback), "你好");
}

TEST_F(LanguageSwitchTest, FollowingAnUnlistedUserLanguagePicksTheFirstItem) {
    WriteBoth();
    SetLanguage(0x1FFFFFFF);
    ScopedEnv locale("LC_ALL", "de_DE.UTF-8");
    auto strings = MakeStrings();
    EXPECT_EQ(strings->GetString("greeting", kFallback), "Hello");
}

// A sink that looks up a text of its own, as a message box needs its button caption.
class LookingUpSink final : public IAlertSink {
public:
    explicit LookingUpSink(CLocalizableString* strings) : strings(strings) {}
    void ShowAlert(const std::string& text) override {
        shown.push_back(text);
        caption = strings->GetString("ui_alert_ok", "OK");
    }
    CLocalizableString* strings;
    std::vector<std::string> shown;
    std::string caption;
};

TEST_F(LanguageSwitchTest, AlertSinkMayLookUpTextsWhileAReloadFails) {
    auto strings = MakeStrings();
    LookingUpSink sink(strings.get());
    SetAlertSink(&sink);
    std::string text = strings->GetString("greeting", "Hi");
    SetAlertSink(&alerts);
    EXPECT_EQ(text, "Hi");
    EXPECT_EQ(sink.caption, "OK");
    EXPECT_EQ(sink.shown, std::vector<std::string>{"Fail to open " + StringsPath("English")});
}

TEST_F(LanguageSwitchTest, ConcurrentLookupsWhileTheLanguageFlips) {
    WriteBoth();
    auto strings = MakeStrings();
    ASSERT_EQ(strings->GetString("greeting", kFallback), "Hello");

    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::atomic<long> lookups{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 6; ++i) {
        readers.emplace_back([&] {
            while (!stop.load(std::memory_order_acquire)) {
                std::string text = strings->GetString("greeting", kFallback);
                if (text != "Hello" && text != "你好") wrong.fetch_add(1);
                lookups.fetch_add(1);
            }
        });
    }
    for (int flip = 0; flip < 40; ++flip) {
        SetLanguage(flip % 2 == 0 ? 1 : 0);
        std::this_thread::yield();
    }
    SetLanguage(1);
    // Let the readers run a little after the last change as well.
    long seen = lookups.load();
    while (lookups.load() < seen + 1000) std::this_thread::yield();
    stop.store(true, std::memory_order_release);
    for (std::thread& reader : readers) reader.join();

    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(alerts.Alerts().empty());
    EXPECT_EQ(strings->GetString("greeting", kFallback), "你好");
}

TEST_F(LanguageSwitchTest, ProcessWideInstanceUsesTheProcessSettingsAndProgramFolder) {
    CRegistryHive::SetCurrentUser(&hive);
    CSettingParam param = CSettingParamManage::GetInstance()->GetUsingParam();
    param.language = 0;
    CSettingParamManage::GetInstance()->SetUsingParam(param);

    CLocalizableString* strings = CLocalizableString::GetInstance();
    EXPECT_EQ(CLocalizableString::GetInstance(), strings);
    EXPECT_EQ(strings->GetString("ui_alert_ok", "确定"), "OK");
    EXPECT_EQ(strings->GetFilePath(), GetModuleFolder() + "Resource/English.lproj/Localizable.strings");
    EXPECT_TRUE(alerts.Alerts().empty());
    CRegistryHive::SetCurrentUser(nullptr);
}

}  // namespace
}  // namespace orvane::test
