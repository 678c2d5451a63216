#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/registry_hive.h"
#include "support/sandbox.h"

namespace orvane::test {

// A sandbox with a factory file and a user file of the test's own making, and a hive over them
// installed as the current user's.
class SettingsFixture : public ::testing::Test {
protected:
    ~SettingsFixture() override { CRegistryHive::SetCurrentUser(nullptr); }

    std::string UserFile() const { return box.ConfigHome() + "/zentrova/settings.conf"; }
    std::string FactoryFile() const { return box / "factory.conf"; }

    // Builds the hive from whatever the files hold now.
    CRegistryHive* OpenHive(const std::string& factory, const std::string& user = "") {
        WriteFile(FactoryFile(), factory);
        if (!user.empty()) {
            MakeFolders(box.ConfigHome() + "/zentrova");
            WriteFile(UserFile(), user);
        }
        hive = std::make_unique<CRegistryHive>(UserFile(), FactoryFile());
        CRegistryHive::SetCurrentUser(hive.get());
        return hive.get();
    }

    Sandbox box;
    AlertRecorder alerts;
    std::unique_ptr<CRegistryHive> hive;
};

// The factory file as installed, with every group present.
inline std::string FullFactory(const std::string& systemExtra = "\"wifidevicename\"=\"lab scope\"\n"
                                                                "\"haswifi\"=dword:00000001\n") {
    std::string text =
        "[software\\zentrova\\default\\about]\n"
        "\"companyname\"=\"Lab\"\n\"producename\"=\"scope\"\n\"companywebsite\"=\"https://lab.example\"\n"
        "\"copyright\"=\"(c) Lab\"\n\"version\"=\"v9\"\n\"venderidlist\"=\"AAAA;BBBB\"\n"
        "[software\\zentrova\\default\\system]\n"
        "\"resourcespath\"=\"/media/data\"\n\"autocreatingfolder\"=dword:00000001\n"
        "\"movieresolution\"=dword:00000002\n\"moviesizemax\"=dword:00000100\n"
        "\"language\"=dword:1fffffff\n\"wifideviceip\"=dword:7f000001\n\"wifideviceport\"=dword:00000050\n" +
        systemExtra +
        "[software\\zentrova\\default\\timedshot]\n"
        "\"shotstype\"=dword:00000001\n\"timestype\"=dword:00000002\n"
        "\"shotsvalue\"=dword:00000002\n\"timesvalue\"=dword:00000003\n";
    const char* ranges[] = {"shots\\minute", "shots\\hour", "shots\\day", "times\\minute", "times\\hour",
                            "times\\day"};
    for (int i = 0; i < 6; ++i) {
        text += std::string("[software\\zentrova\\default\\timedShot\\") + ranges[i] + "]\n";
        text += "\"minvalue\"=dword:0000000" + std::to_string(i + 1) + "\n\"maxvalue\"=dword:00000010\n"
                "\"default\"=dword:00000008\n";
    }
    text +=
        "[software\\zentrova\\default\\languages]\n\"count\"=dword:00000002\n"
        "[software\\zentrova\\default\\languages\\language0]\n"
        "\"indentifier\"=\"English\"\n\"showname\"=\"English\"\n\"langid\"=dword:00000409\n"
        "[software\\zentrova\\default\\languages\\language1]\n"
        "\"indentifier\"=\"zh-Hans\"\n\"showname\"=\"简体中文\"\n\"langid\"=dword:00010804\n";
    return text;
}

}  // namespace orvane::test
