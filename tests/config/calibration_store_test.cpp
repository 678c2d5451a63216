#include "config/calibration_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "config/registry_hive.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

using test::ReadFile;
using test::WriteFile;

const std::string kCameraA = "usb#vid_0c45&pid_6366#SN0001";
const std::string kCameraB = "pci-0000:00:14.0-usb-0:1:1.0";

Calibration Make(const std::string& name, double metresPerPixel, int32_t width = 1920,
                 LengthUnit unit = LengthUnit::Micrometre) {
    return {name, metresPerPixel, width, unit};
}

std::vector<std::string> Names(const std::vector<Calibration>& list) {
    std::vector<std::string> names;
    for (const Calibration& c : list) names.push_back(c.name);
    return names;
}

class CalibrationStoreTest : public ::testing::Test {
protected:
    CalibrationStoreTest() { Reload(); }

    std::string UserFile() const { return box.ConfigHome() + "/zentrova/settings.conf"; }
    // Reads the hive file afresh, as the next start of the program does.
    void Reload() {
        store.reset();
        hive.reset();
        hive = std::make_unique<CRegistryHive>(UserFile(), "");
        store = std::make_unique<CCalibrationStore>(hive.get());
    }

    test::Sandbox box;
    test::AlertRecorder alerts;
    std::unique_ptr<CRegistryHive> hive;
    std::unique_ptr<CCalibrationStore> store;
};

TEST_F(CalibrationStoreTest, CalibrationsAreKeptPerCameraAndSurviveARestart) {
    EXPECT_TRUE(store->List(kCameraA).empty());
    EXPECT_FALSE(store->Active(kCameraA));

    ASSERT_TRUE(store->Add(kCameraA, Make("40x objective", 0.0925e-6)));
    ASSERT_TRUE(store->Add(kCameraA, Make("10x objective", 0.37e-6, 1920, LengthUnit::Micrometre)));
    ASSERT_TRUE(store->Add(kCameraA, Make("stage", 0.01e-3, 1280, LengthUnit::Millimetre)));
    ASSERT_TRUE(store->Add(kCameraB, Make("wafer", 3.3e-9, 640, LengthUnit::Nanometre)));
    ASSERT_TRUE(store->SetActive(kCameraA, "10x objective"));
    // The same name again replaces the one kept.
    ASSERT_TRUE(store->Add(kCameraA, Make("40x objective", 0.09e-6)));

    Reload();
    const std::vector<Calibration> a = store->List(kCameraA);
    EXPECT_EQ(Names(a), (std::vector<std::string>{"10x objective", "40x objective", "stage"}));
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].metresPerPixel, 0.37e-6) << "kept to the last bit";
    EXPECT_EQ(a[0].atWidth, 1920);
    EXPECT_EQ(a[1].metresPerPixel, 0.09e-6);
    EXPECT_EQ(a[2].unit, LengthUnit::Millimetre);
    EXPECT_EQ(a[2].atWidth, 1280);
    ASSERT_TRUE(store->Active(kCameraA));
    EXPECT_EQ(store->Active(kCameraA)->name, "10x objective");

    const std::vector<Calibration> b = store->List(kCameraB);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].unit, LengthUnit::Nanometre);
    EXPECT_FALSE(store->Active(kCameraB)) << "each camera has its own choice";
    EXPECT_TRUE(store->List("usb#vid_0c45&pid_6366#SN0002").empty());

    // Kept beside the device values.
    EXPECT_NE(ReadFile(UserFile()).find("[Software\\zentrova\\Calibrations\\"), std::string::npos);
}

TEST_F(CalibrationStoreTest, RenameRemoveAndTheActiveChoice) {
    ASSERT_TRUE(store->Add(kCameraA, Make("4x", 0.9e-6)));
    ASSERT_TRUE(store->Add(kCameraA, Make("10x", 0.37e-6)));
    ASSERT_TRUE(store->SetActive(kCameraA, "10x"));

    EXPECT_FALSE(store->SetActive(kCameraA, "missing"));
    EXPECT_EQ(store->Active(kCameraA)->name, "10x");
    EXPECT_FALSE(store->Rename(kCameraA, "10x", "4x")) << "the name is taken";
    EXPECT_FALSE(store->Rename(kCameraA, "missing", "new"));
    EXPECT_FALSE(store->Rename(kCameraA, "10x", ""));
    ASSERT_TRUE(store->Rename(kCameraA, "10x", "10x Plan"));
    EXPECT_EQ(store->Active(kCameraA)->name, "10x Plan") << "the active one stays active";
    EXPECT_EQ(store->Active(kCameraA)->metresPerPixel, 0.37e-6);

    EXPECT_FALSE(store->Remove(kCameraA, "10x"));
    ASSERT_TRUE(store->Remove(kCameraA, "10x Plan"));
    EXPECT_FALSE(store->Active(kCameraA)) << "removing the active one leaves none";
    EXPECT_EQ(Names(store->List(kCameraA)), std::vector<std::string>{"4x"});

    ASSERT_TRUE(store->SetActive(kCameraA, "4x"));
    ASSERT_TRUE(store->SetActive(kCameraA, ""));
    EXPECT_FALSE(store->Active(kCameraA));

    // A new one after a removal does not take over what was removed.
    ASSERT_TRUE(store->Add(kCameraA, Make("20x", 0.185e-6)));
    Reload();
    EXPECT_EQ(Names(store->List(kCameraA)), (std::vector<std::string>{"20x", "4x"}));
}

TEST_F(CalibrationStoreTest, AnyNameAndAnyIdentityIsKeptAsItIs) {
    const std::vector<std::string> names = {
        "a\\b\\c", "[Section]", "\"quoted\" = \"x\"", "line\nbreak", "10x", "10X", "  spaced  ",
        "\xE7\x89\xA9\xE9\x95\x9C 10\xC3\x97", std::string(300, 'n'), "Active", "%41"};
    const std::string odd = "usb#vid_1234&pid_5678#A\\B[1]\"%";
    for (size_t i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(store->Add(odd, Make(names[i], (i + 1) * 1e-7))) << names[i];
    }
    ASSERT_TRUE(store->Add("", Make("wireless", 2e-6)));
    ASSERT_TRUE(store->SetActive(odd, "a\\b\\c"));
    Reload();
    const std::vector<Calibration> list = store->List(odd);
    ASSERT_EQ(list.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        bool found = false;
        for (const Calibration& c : list) found = found || (c.name == names[i] && c.metresPerPixel == (i + 1) * 1e-7);
        EXPECT_TRUE(found) << names[i];
    }
    EXPECT_EQ(store->Active(odd)->name, "a\\b\\c");
    EXPECT_EQ(Names(store->List("")), std::vector<std::string>{"wireless"});
    EXPECT_TRUE(store->List("usb#vid_1234&pid_5678#A").empty()) << "a backslash does not split the identity";
    EXPECT_TRUE(store->Rename(odd, "10X", "10x also"));
    EXPECT_EQ(store->List(odd).size(), names.size()) << "names that differ in case are different";
}

TEST_F(CalibrationStoreTest, UnusableCalibrationsAreRefusedAndDamagedOnesLeftOut) {
    EXPECT_FALSE(store->Add(kCameraA, Make("", 1e-6)));
    EXPECT_FALSE(store->Add(kCameraA, Make("zero", 0)));
    EXPECT_FALSE(store->Add(kCameraA, Make("negative", -1e-6)));
    EXPECT_FALSE(store->Add(kCameraA, Make("nan", std::nan(""))));
    EXPECT_FALSE(store->Add(kCameraA, Make("no width", 1e-6, 0)));
    EXPECT_TRUE(store->List(kCameraA).empty());

    ASSERT_TRUE(store->Add(kCameraA, Make("good", 1e-6)));
    hive->Flush();
    // Hand-edited entries: a size that is no number, a missing width, an unknown unit, a second one
    // of a name already there, and values of the wrong type.
    std::string text = ReadFile(UserFile());
    const std::string key = "[Software\\zentrova\\Calibrations\\usb#vid_0c45&pid_6366#SN0001";
    text += "\n" + key + "\\7]\n\"Name\"=\"bad size\"\n\"MetresPerPixel\"=\"1e-6x\"\n\"Width\"=dword:00000780\n\"Unit\"=\"um\"\n";
    text += "\n" + key + "\\8]\n\"Name\"=\"no width\"\n\"MetresPerPixel\"=\"1e-6\"\n\"Unit\"=\"um\"\n";
    text += "\n" + key + "\\9]\n\"Name\"=\"bad unit\"\n\"MetresPerPixel\"=\"1e-6\"\n\"Width\"=dword:00000780\n\"Unit\"=\"furlong\"\n";
    text += "\n" + key + "\\10]\n\"Name\"=\"good\"\n\"MetresPerPixel\"=\"5e-6\"\n\"Width\"=dword:00000780\n\"Unit\"=\"um\"\n";
    text += "\n" + key + "\\11]\n\"Name\"=dword:00000001\n\"MetresPerPixel\"=\"-1\"\n\"Width\"=\"wide\"\n\"Unit\"=\"um\"\n";
    text += "\n" + key + "\\12]\n\"Name\"=\"huge width\"\n\"MetresPerPixel\"=\"1e-6\"\n\"Width\"=dword:ffffffff\n\"Unit\"=\"um\"\n";
    text += "\n" + key + "\\x]\n\"Name\"=\"fine\"\n\"MetresPerPixel\"=\"2e-6\"\n\"Width\"=dword:00000500\n\"Unit\"=\"mm\"\n";
    ASSERT_TRUE(WriteFile(UserFile(), text));
    Reload();
    const std::vector<Calibration> list = store->List(kCameraA);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"fine", "good"}));
    EXPECT_EQ(list[1].metresPerPixel, 1e-6) << "the first of two of one name counts";
    EXPECT_FALSE(store->SetActive(kCameraA, "bad unit"));
    // A new calibration finds a free place beside the hand-made ones.
    ASSERT_TRUE(store->Add(kCameraA, Make("new", 3e-6)));
    Reload();
    EXPECT_EQ(Names(store->List(kCameraA)), (std::vector<std::string>{"fine", "good", "new"}));
}

}  // namespace
}  // namespace orvane
