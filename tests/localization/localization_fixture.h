#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "localization/localizable_string.h"
#include "support/sandbox.h"

namespace orvane::test {

// A sandbox with the factory file as installed (languages English and zh-Hans), a user hive of its
// own, a settings manager on it and a program folder whose strings files the test writes.
class LocalizationFixture : public ::testing::Test {
protected:
    LocalizationFixture()
        : hive(box.ConfigHome() + "/zentrova/settings.conf", CRegistryHive::DefaultFactoryFile()),
          settings(&hive) {
        MakeFolders(ModuleFolder() + "Resource");
        // A fixed language, whatever the locale of the machine running the tests.
        SetLanguage(0);
    }

    void SetUp() override {
        ASSERT_EQ(settings.GetUsingParam().languages.size(), 2u)
            << "factory file missing: " << CRegistryHive::DefaultFactoryFile();
    }

    // The folder standing in for the program's own, ending with "/".
    std::string ModuleFolder() const { return box / "app/"; }

    std::string StringsPath(const std::string& language) const {
        return ModuleFolder() + "Resource/" + language + ".lproj/Localizable.strings";
    }

    void WriteStrings(const std::string& language, const std::string& content) {
        MakeFolders(ModuleFolder() + "Resource/" + language + ".lproj");
        ASSERT_TRUE(WriteFile(StringsPath(language), content));
    }

    // What the settings dialog does when the user applies another language.
    void SetLanguage(int32_t index) {
        CSettingParam param = settings.GetUsingParam();
        param.language = index;
        settings.SetUsingParam(param);
    }

    std::unique_ptr<CLocalizableString> MakeStrings() {
        return std::make_unique<CLocalizableString>(&settings, ModuleFolder());
    }

    // A string table over an English file holding `content`.
    std::unique_ptr<CLocalizableString> LoadEnglish(const std::string& content) {
        WriteStrings("English", content);
        return MakeStrings();
    }

    Sandbox box;
    AlertRecorder alerts;
    CRegistryHive hive;
    CSettingParamManage settings;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name(name) {
        const char* old = std::getenv(name);
        hadOld = old != nullptr;
        if (hadOld) oldValue = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (hadOld)
            ::setenv(name, oldValue.c_str(), 1);
        else
            ::unsetenv(name);
    }

private:
    const char* name;
    bool hadOld = false;
    std::string oldValue;
};

}  // namespace orvane::test
