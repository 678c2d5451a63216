#include <gtest/gtest.h>

#include "base/text.h"

namespace orvane {
namespace {

TEST(TextTest, Utf16LengthCountsSurrogatePairsAndInvalidBytes) {
    EXPECT_EQ(Utf16Length("abc"), 3u);
    EXPECT_EQ(Utf16Length("简体中文"), 4u);
    EXPECT_EQ(Utf16Length("\xF0\x9F\x93\xB7"), 2u);  // camera emoji, outside the BMP
    EXPECT_EQ(Utf16Length("a\xFF" "b"), 3u);
}

TEST(TextTest, Utf8AndUtf16RoundTripAndInvalidInputIsReplaced) {
    const std::string text = "Einstellungen 设置 \xF0\x9F\x93\xB7";
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
    EXPECT_EQ(SanitizeUtf8("ok\xC3"), "ok\xEF\xBF\xBD");
    EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a lone surrogate
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(TextTest, NamesCompareWithoutRegardToCase) {
    EXPECT_TRUE(EqualsNoCase("timedShot", "TIMEDSHOT"));
    EXPECT_FALSE(EqualsNoCase("timedshot", "timedshots"));
    EXPECT_EQ(ToLowerAscii("0C45;1E4E"), "0c45;1e4e");
}

TEST(TextTest, FormatFillsKnownSpecifiersAndLeavesTheRestAlone) {
    EXPECT_EQ(Format("Save file %s failure", "/tmp/a.jpg"), "Save file /tmp/a.jpg failure");
    EXPECT_EQ(Format("%s_%04d_%03d", "S", 7, 12), "S_0007_012");
    EXPECT_EQ(Format("%d minutes, %d left", 10, -3), "10 minutes, -3 left");
    EXPECT_EQ(Format("100%% %x", 255), "100% ff");
    // Texts from a strings file can carry anything: nothing here may read past the arguments.
    EXPECT_EQ(Format("%s %s %n %p", "one"), "one %s %n %p");
    EXPECT_EQ(Format("%d", "text"), "text");
    EXPECT_EQ(Format("%s", 42), "42");
    EXPECT_EQ(Format("trailing %"), "trailing %");
}

}  // namespace
}  // namespace orvane
