#include "dialogs/setting_validation.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QValidator>

#include "dialogs/ip_address_edit.h"

namespace orvane {
namespace {

TEST(SettingValidationTest, LeadingNumberReadsLikeTheCLibrary) {
    EXPECT_EQ(CSettingValidation::LeadingNumber("80"), 80);
    EXPECT_EQ(CSettingValidation::LeadingNumber("  -12abc"), -12);
    EXPECT_EQ(CSettingValidation::LeadingNumber("+7"), 7);
    EXPECT_EQ(CSettingValidation::LeadingNumber("abc"), 0);
    EXPECT_EQ(CSettingValidation::LeadingNumber(""), 0);
    EXPECT_EQ(CSettingValidation::LeadingNumber("1e3"), 1);
    EXPECT_EQ(CSettingValidation::LeadingNumber("99999999999"), 2147483647);
    EXPECT_EQ(CSettingValidation::LeadingNumber("-99999999999"), -2147483647 - 1);
}

TEST(SettingValidationTest, IntegerExchangeTakesOnlyAWholeNumber) {
    int32_t value = 5;
    EXPECT_TRUE(CSettingValidation::ReadInteger(" 060 ", value));
    EXPECT_EQ(value, 60);
    EXPECT_FALSE(CSettingValidation::ReadInteger("60a", value));
    EXPECT_FALSE(CSettingValidation::ReadInteger("", value));
    EXPECT_FALSE(CSettingValidation::ReadInteger("2147483648", value));
    EXPECT_EQ(value, 60);
}

TEST(SettingValidationTest, TimedValueNeedsAUnitARangeAndThePlainSpelling) {
    TimedShotSetting setting;
    setting.ranges[Hour] = ValueRange{1, 300, 60};
    EXPECT_TRUE(CSettingValidation::IsTimedValueValid(setting, 0, Hour, 300, "300"));
    EXPECT_FALSE(CSettingValidation::IsTimedValueValid(setting, 0, Hour, 301, "301"));
    EXPECT_FALSE(CSettingValidation::IsTimedValueValid(setting, 0, Hour, 60, "060"));
    EXPECT_FALSE(CSettingValidation::IsTimedValueValid(setting, 0, -1, 60, "60"));
    EXPECT_FALSE(CSettingValidation::IsTimedValueValid(setting, 3, 3, 60, "60"));
}

TEST(IpAddressEditTest, TakesOnlyWhatCanBecomeAnAddress) {
    CIpAddressEdit edit;
    const QValidator* validator = edit.validator();
    ASSERT_NE(validator, nullptr);
    auto judge = [&](const char* text) {
        QString input = QString::fromLatin1(text);
        int pos = 0;
        return validator->validate(input, pos);
    };
    EXPECT_EQ(judge("127.0.0.1"), QValidator::Acceptable);
    EXPECT_EQ(judge("255.255.255.255"), QValidator::Acceptable);
    EXPECT_EQ(judge("127.0."), QValidator::Intermediate);
    EXPECT_EQ(judge(""), QValidator::Intermediate);
    for (const char* wrong :
         {"256.0.0.1", "1.2.3.4.5", "01.2.3.4", "a.b.c.d", "1.2.3.4 ", "-1.2.3.4", "1234.1.1.1"}) {
        EXPECT_EQ(judge(wrong), QValidator::Invalid) << wrong;
    }
}

TEST(IpAddressEditTest, KeepsTheLastCompleteAddress) {
    CIpAddressEdit edit;
    edit.SetAddress(0x7F000001);
    EXPECT_EQ(edit.text().toStdString(), "127.0.0.1");
    edit.setText(QStringLiteral("127.1.2.3"));
    EXPECT_EQ(edit.Address(), 0x7F010203u);
    edit.setText(QStringLiteral("127.1."));
    EXPECT_EQ(edit.Address(), 0x7F010203u);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&edit, &out);
    EXPECT_EQ(edit.text().toStdString(), "127.1.2.3");
}

}  // namespace
}  // namespace orvane
