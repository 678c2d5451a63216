#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "localization_fixture.h"

namespace orvane::test {
namespace {

const char* const kFallback = "fallback";
const char* const kNoEntries = "Faiure to get language string";

using StringsFileTest = LocalizationFixture;

TEST_F(StringsFileTest, QuotedKeyEqualsQuotedValueWithSemicolonIsAnEntry) {
    auto strings = LoadEnglish("\"ui_alert_ok\" = \"Accept\";\n");
    EXPECT_EQ(strings->GetString("ui_alert_ok", kFallback), "Accept");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(StringsFileTest, LineWithoutSemicolonIsIgnored) {
    auto strings = LoadEnglish(
        "\"ui_alert_ok\" = \"Accept\"\n"
        "\"other\" = \"x\";\n");
    EXPECT_EQ(strings->GetString("ui_alert_ok", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("other", kFallback), "x");
}

TEST_F(StringsFileTest, SemicolonMayStandAnywhereInTheLine) {
    auto strings = LoadEnglish(
        "\"inside\" = \"a;b\"\n"
        ";\"before\" = \"c\"\n");
    EXPECT_EQ(strings->GetString("inside", kFallback), "a;b");
    EXPECT_EQ(strings->GetString("before", kFallback), "c");
}

TEST_F(StringsFileTest, EmptyKeyOrValueIsIgnored) {
    auto strings = LoadEnglish(
        "\"\" = \"value\";\n"
        "\"empty_value\" = \"\";\n"
        "\"kept\" = \"yes\";\n");
    EXPECT_EQ(strings->GetString("", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("empty_value", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("kept", kFallback), "yes");
}

TEST_F(StringsFileTest, KeyCannotContainEquals) {
    auto strings = LoadEnglish(
        "\"a=b\" = \"c\";\n"
        "\"kept\" = \"yes\";\n");
    EXPECT_EQ(strings->GetString("a=b", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("a", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("b", kFallback), kFallback);
}

TEST_F(StringsFileTest, ValueMayContainEqualsAndSemicolon) {
    auto strings = LoadEnglish("\"k\" = \"x=y;z\";\n");
    EXPECT_EQ(strings->GetString("k", kFallback), "x=y;z");
}

TEST_F(StringsFileTest, LineWithoutEqualsOrQuotesIsIgnored) {
    auto strings = LoadEnglish(
        "\"no_equals\" \"value\";\n"
        "one_quote\" = \"value\";\n"
        "\"k2\" = value;\n"
        "\"k3\" = \"open;\n"
        "\"kept\" = \"yes\";\n");
    EXPECT_EQ(strings->GetString("no_equals", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("one_quote", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("k2", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("k3", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("kept", kFallback), "yes");
}

TEST_F(StringsFileTest, BlanksAndTextOutsideTheQuotesDoNotMatter) {
    auto strings = LoadEnglish(
        "\"tight\"=\"a\";\n"
        "   \t\"loose\"   =    \"b\"   ;   \n"
        "junk\"outside\"junk = junk\"c\"junk;\n");
    EXPECT_EQ(strings->GetString("tight", kFallback), "a");
    EXPECT_EQ(strings->GetString("loose", kFallback), "b");
    EXPECT_EQ(strings->GetString("outside", kFallback), "c");
}

TEST_F(StringsFileTest, ValueEndsAtItsFirstInnerQuoteAndBackslashesStay) {
    auto strings = LoadEnglish(
        "\"quoted\" = \"say \"hi\" now\";\n"
        "\"escaped\" = \"a\\tb\\n\";\n");
    EXPECT_EQ(strings->GetString("quoted", kFallback), "say ");
    EXPECT_EQ(strings->GetString("escaped", kFallback), "a\\tb\\n");
}

TEST_F(StringsFileTest, AtSignsInValuesBecomeS) {
    auto strings = LoadEnglish(
        "\"saved\" = \"Saved to %@ at %d\";\n"
        "\"mail\" = \"a@b.c\";\n"
        "\"key@\" = \"@@\";\n");
    EXPECT_EQ(strings->GetString("saved", kFallback), "Saved to %s at %d");
    EXPECT_EQ(strings->GetString("mail", kFallback), "asb.c");
    // Keys are taken as written.
    EXPECT_EQ(strings->GetString("key@", kFallback), "ss");
    EXPECT_EQ(strings->GetString("keys", kFallback), kFallback);
}

TEST_F(StringsFileTest, FirstEntryOfAKeyWins) {
    auto strings = LoadEnglish(
        "\"k\" = \"first\";\n"
        "\"k\" = \"second\";\n");
    EXPECT_EQ(strings->GetString("k", kFallback), "first");
}

TEST_F(StringsFileTest, KeysAreCaseSensitive) {
    auto strings = LoadEnglish("\"ui_alert_ok\" = \"Accept\";\n");
    EXPECT_EQ(strings->GetString("UI_ALERT_OK", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("ui_alert_ok ", kFallback), kFallback);
}

TEST_F(StringsFileTest, MissingKeyGivesTheFallbackSilently) {
    auto strings = LoadEnglish("\"k\" = \"v\";\n");
    EXPECT_EQ(strings->GetString("absent", "the fallback"), "the fallback");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(StringsFileTest, CrLfLineEndsAndAMissingLastLineEndAreRead) {
    auto strings = LoadEnglish(
        "\"a\" = \"one\";\r\n"
        "\"b\" = \"two\r\n"
        "\"c\" = \"three\";");
    EXPECT_EQ(strings->GetString("a", kFallback), "one");
    // A value is never closed by the line end.
    EXPECT_EQ(strings->GetString("b", kFallback), kFallback);
    // The last line needs no line end.
    EXPECT_EQ(strings->GetString("c", kFallback), "three");
}

TEST_F(StringsFileTest, ByteOrderMarkAndCommentsAreHarmless) {
    auto strings = LoadEnglish(
        "\xEF\xBB\xBF\"first\" = \"1\";\n"
        "/* a comment line */\n"
        "\n"
        "// another one, with an = sign\n"
        "# and one with a ; semicolon\n"
        "\"second\" = \"2\";\n");
    EXPECT_EQ(strings->GetString("first", kFallback), "1");
    EXPECT_EQ(strings->GetString("second", kFallback), "2");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(StringsFileTest, Utf8TextsArriveUnchanged) {
    auto strings = LoadEnglish("\"ui_alert_ok\" = \"确定\";\n\"键\" = \"值 %@\";\n");
    EXPECT_EQ(strings->GetString("ui_alert_ok", kFallback), "确定");
    EXPECT_EQ(strings->GetString("键", kFallback), "值 %s");
}

TEST_F(StringsFileTest, InvalidUtf8IsReplaced) {
    auto strings = LoadEnglish(
        "\"bad_value\" = \"a\xFF-b\";\n"
        "\"bad_key\xC3\" = \"v\";\n"
        "\"cut\" = \"ab\xE4\";\n"
        "\"overlong\" = \"\xC0\xAF\";\n"
        "\"kept\" = \"yes\";\n");
    EXPECT_EQ(strings->GetString("bad_value", kFallback), "a\xEF\xBF\xBD-b");
    EXPECT_EQ(strings->GetString("bad_key\xEF\xBF\xBD", kFallback), "v");
    // A cut-off sequence does not swallow the closing quote.
    EXPECT_EQ(strings->GetString("cut", kFallback), "ab\xEF\xBF\xBD");
    EXPECT_EQ(strings->GetString("overlong", kFallback), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(strings->GetString("kept", kFallback), "yes");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(StringsFileTest, BinaryJunkLinesAreNoEntries) {
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919 + 13) % 256);
    std::string content =
        junk + "\n\"kept\" = \"yes\";\n" + std::string("\0\0\"z\"\0=\0\"y\";\0\n", 14) + junk;
    auto strings = LoadEnglish(content);
    EXPECT_EQ(strings->GetString("kept", kFallback), "yes");
    // NUL bytes outside the quotes are ordinary bytes.
    EXPECT_EQ(strings->GetString("z", kFallback), "y");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(StringsFileTest, LineOf999BytesIsRead) {
    const std::string head = "\"long\" = \"";
    const std::string tail = "\";";
    std::string value(999 - head.size() - tail.size(), 'x');
    ASSERT_EQ((head + value + tail).size(), 999u);
    auto strings = LoadEnglish(head + value + tail + "\r\n\"next\" = \"n\";\n");
    EXPECT_EQ(strings->GetString("long", kFallback), value);
    EXPECT_EQ(strings->GetString("next", kFallback), "n");
}

TEST_F(StringsFileTest, LineOver999BytesIsSkippedAsAWhole) {
    const std::string head = "\"long\" = \"";
    const std::string tail = "\";";
    std::string value(1000 - head.size() - tail.size(), 'x');
    auto strings = LoadEnglish("\"before\" = \"b\";\n" + head + value + tail + "\n" +
                               // The entry at the start of a long line is not taken either.
                               "\"hidden\" = \"h\";" + std::string(5000, ' ') + "\"more\" = \"m\";\n" +
                               "\"after\" = \"a\";\n");
    EXPECT_EQ(strings->GetString("long", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("hidden", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("more", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("before", kFallback), "b");
    EXPECT_EQ(strings->GetString("after", kFallback), "a");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(StringsFileTest, HugeLastLineWithoutLineEndEndsTheFile) {
    std::string content = "\"before\" = \"b\";\n\"huge\" = \"" + std::string(8 * 1024 * 1024, 'y') + "\";";
    auto strings = LoadEnglish(content);
    EXPECT_EQ(strings->GetString("before", kFallback), "b");
    EXPECT_EQ(strings->GetString("huge", kFallback), kFallback);
}

TEST_F(StringsFileTest, EmptyFileAlertsOnceAndGivesFallbacks) {
    auto strings = LoadEnglish("");
    EXPECT_EQ(strings->GetString("ui_alert_ok", "OK?"), "OK?");
    EXPECT_EQ(strings->GetString("ui_alert_ok", "OK?"), "OK?");
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{kNoEntries});
}

TEST_F(StringsFileTest, FileWithoutValidEntryAlertsOnce) {
    auto strings = LoadEnglish(
        "/* only comments */\n"
        "\"ui_alert_ok\" = \"Accept\"\n"
        "\"\" = \"\";\n"
        "\"" +
        std::string(2000, 'k') + "\" = \"v\";\n" + "\xFF\xFE\x01\x02\n");
    EXPECT_EQ(strings->GetString("ui_alert_ok", kFallback), kFallback);
    EXPECT_EQ(strings->GetString("other", kFallback), kFallback);
    EXPECT_EQ(alerts.Alerts(), std::vector<std::string>{kNoEntries});
}

TEST_F(StringsFileTest, ReloadRereadsTheFile) {
    auto strings = LoadEnglish("\"k\" = \"old\";\n");
    EXPECT_EQ(strings->GetString("k", kFallback), "old");
    WriteStrings("English", "\"k\" = \"new\";\n");
    // An unchanged language never touches the file.
    EXPECT_EQ(strings->GetString("k", kFallback), "old");
    strings->Reload();
    EXPECT_EQ(strings->GetString("k", kFallback), "new");
}

}  // namespace
}  // namespace orvane::test
