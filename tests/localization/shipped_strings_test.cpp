#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/module_folder.h"
#include "base/text.h"
#include "localization/string_keys.h"
#include "localization_fixture.h"

namespace orvane::test {
namespace {

const char* const kLanguages[] = {"English", "zh-Hans"};
const char* const kMissing = "\x01missing";

std::string ShippedFile(const std::string& language) {
    return GetModuleFolder() + "Resource/" + language + ".lproj/Localizable.strings";
}

// The printf placeholders of a format text, in order ("%s", "%d", ...); "%%" is no placeholder.
std::vector<std::string> Placeholders(const std::string& text) {
    std::vector<std::string> found;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        if (text[pos] != '%') continue;
        size_t end = pos + 1;
        while (end < text.size() && std::string("0123456789-+ #.").find(text[end]) != std::string::npos)
            ++end;
        if (end >= text.size()) break;
        if (text[end] != '%') found.push_back(text.substr(pos, end - pos + 1));
        pos = end;
    }
    return found;
}

// The keys of a strings file as its lines write them, counting repeats; lines that do not start with
// a quote are comments or blank.
std::map<std::string, int> KeysOfFile(const std::string& content) {
    std::map<std::string, int> keys;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] != '"') continue;
        size_t close = line.find('"', 1);
        if (close == std::string::npos) continue;
        ++keys[line.substr(1, close - 1)];
    }
    return keys;
}

using ShippedStringsTest = LocalizationFixture;

TEST_F(ShippedStringsTest, AKeyWithTwoUsesHasTheSamePlaceholdersInBoth) {
    std::map<std::string, std::string> fallbackOf;
    for (const StringKey& entry : kAllStringKeys) {
        auto [it, first] = fallbackOf.emplace(entry.key, entry.fallback);
        if (!first) {
            EXPECT_EQ(Placeholders(it->second), Placeholders(entry.fallback)) << entry.key;
        }
    }
    EXPECT_EQ(fallbackOf.size(), 118u);
}

TEST_F(ShippedStringsTest, BothFilesHoldExactlyTheKeysTheProgramLooksUp) {
    std::set<std::string> expected;
    for (const StringKey& entry : kAllStringKeys) expected.insert(entry.key);
    std::map<std::string, std::set<std::string>> keysOf;
    for (const char* language : kLanguages) {
        std::string content = ReadFile(ShippedFile(language));
        ASSERT_FALSE(content.empty()) << ShippedFile(language);
        for (const auto& [key, count] : KeysOfFile(content)) {
            EXPECT_EQ(count, 1) << language << ": " << key << " written more than once";
            keysOf[language].insert(key);
        }
        EXPECT_EQ(keysOf[language], expected) << language;
    }
    EXPECT_EQ(keysOf["English"], keysOf["zh-Hans"]);
}

TEST_F(ShippedStringsTest, FilesAreCleanUtf8WithShortLinesAndQuietComments) {
    for (const char* language : kLanguages) {
        std::string content = ReadFile(ShippedFile(language));
        EXPECT_EQ(SanitizeUtf8(content), content) << language;
        std::istringstream lines(content);
        std::string line;
        int number = 0;
        while (std::getline(lines, line)) {
            ++number;
            EXPECT_LE(line.size(), 999u) << language << " line " << number;
            EXPECT_EQ(line.find('\r'), std::string::npos) << language << " line " << number;
            if (line.empty() || line[0] != '"') {
                // A comment must never read as an entry.
                EXPECT_FALSE(line.find(';') != std::string::npos && line.find('=') != std::string::npos)
                    << language << " line " << number;
                continue;
            }
            // "@" only ever as part of a %@ placeholder, since every "@" becomes "s".
            for (size_t at = line.find('@'); at != std::string::npos; at = line.find('@', at + 1)) {
                EXPECT_TRUE(at > 0 && line[at - 1] == '%') << language << " line " << number;
            }
        }
    }
}

TEST_F(ShippedStringsTest, EveryKeyResolvesWithTheFallbacksPlaceholders) {
    for (int index = 0; index < 2; ++index) {
        SetLanguage(index);
        CLocalizableString strings(&settings, GetModuleFolder());
        for (const StringKey& entry : kAllStringKeys) {
            std::string text = strings.GetString(entry.key, kMissing);
            ASSERT_NE(text, kMissing) << kLanguages[index] << ": " << entry.key;
            EXPECT_FALSE(text.empty()) << kLanguages[index] << ": " << entry.key;
            EXPECT_EQ(Placeholders(text), Placeholders(entry.fallback))
                << kLanguages[index] << ": " << entry.key;
        }
        EXPECT_EQ(strings.GetFilePath(), ShippedFile(kLanguages[index]));
    }
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(ShippedStringsTest, EnglishFileGivesEnglishTexts) {
    CLocalizableString strings(&settings, GetModuleFolder());
    EXPECT_EQ(strings.GetString("ui_alert_ok", "确定"), "OK");
    EXPECT_EQ(strings.GetString("ui_view_btn_more_resources", "更多..."), "More...");
    EXPECT_EQ(strings.GetString("ui_setting_lab_creating_folder", "文件夹:"), "Folder:");
    EXPECT_EQ(strings.GetString("ui_prompt_doing_timed_shot", ""),
              "Taking timed shots at resolution %s, duration  %d minutes, %d minutes left");
    EXPECT_EQ(Format(strings.GetString("ui_alert_savefile", "Save file %s failure"), "/tmp/a.jpg"),
              "Failed to save the file /tmp/a.jpg");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(ShippedStringsTest, TextsOnceFixedInOneLanguageReadInEither) {
    const std::pair<StringKey, const char*> english[] = {
        {keys::kAlertNoApplicationToOpen, "No application is set up to open this file"},
        {keys::kAboutBtnSeeMore, "See more..."},
        {keys::kViewMenuAbout, "&About Orvane..."},
        {keys::kSettingChooseFolderTitle, "Choose a folder"},
        {keys::kAlertError, "error"},
    };
    const std::pair<StringKey, const char*> chinese[] = {
        {keys::kAlertNoApplicationToOpen, "没有设置用于打开此文件的应用程序"},
        {keys::kAboutBtnSeeMore, "查看更多..."},
        {keys::kViewMenuAbout, "关于 Orvane(&A)..."},
        {keys::kSettingChooseFolderTitle, "选择文件夹"},
        {keys::kAlertError, "错误"},
    };
    CLocalizableString strings(&settings, GetModuleFolder());
    for (const auto& [key, text] : english) EXPECT_EQ(strings.GetString(key), text) << key.key;
    SetLanguage(1);
    for (const auto& [key, text] : chinese) EXPECT_EQ(strings.GetString(key), text) << key.key;
    EXPECT_EQ(Format(strings.GetString(keys::kAlertRegisterXvid), 13),
              "无法运行程序：写入 XviD 设置出错，错误代码 = 13");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(ShippedStringsTest, ChineseFileGivesChineseTexts) {
    SetLanguage(1);
    CLocalizableString strings(&settings, GetModuleFolder());
    EXPECT_EQ(strings.GetString("ui_alert_ok", "OK"), "确定");
    EXPECT_EQ(strings.GetString("ui_view_btn_more_resources", ""), "更多...");
    EXPECT_EQ(Format(strings.GetString("ui_prompt_doing_preview", ""), "1280 X 720"),
              "系统正在以分辨率1280 X 720进行预览");
    EXPECT_EQ(Format(strings.GetString("ui_prompt_doing_timed_shot", ""), "640 X 480", 10, 4),
              "正在以分辨率640 X 480进行定时摄像，定时时间  10 分钟，剩余时间 4 分钟");
    EXPECT_TRUE(alerts.Alerts().empty());
}

}  // namespace
}  // namespace orvane::test
