#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "base/clock.h"
#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "media/saving_loaction_manage.h"

namespace {

using namespace orvane;

class FixedDate final : public IClock {
public:
    int64_t NowMs() override { return 1706659200000; }
    LocalDate Today() override { return {2024, 1, 31}; }
};

// A flat single-shot folder holding S20240131_0001.jpg .. _9999.jpg and _10000.jpg (the name past the
// flat limit), made once and removed at exit.
class FlatFolder {
public:
    FlatFolder() {
        char pattern[] = "/tmp/orvane-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return;
        root = pattern;
        folder = root + "/Single Shots";
        std::filesystem::create_directory(folder);
        for (int i = 1; i <= 10000; ++i) {
            std::ofstream(folder + "/" +
                          CSavingLoactionManage::FormatSavedName(SavedKind::SingleShot, "20240131", 1, i));
        }
        hive = std::make_unique<CRegistryHive>(root + "/settings.conf", root + "/factory.conf");
        settings = std::make_unique<CSettingParamManage>(hive.get());
        SetClock(&clock);
    }
    ~FlatFolder() {
        SetClock(nullptr);
        settings.reset();
        hive.reset();
        std::error_code ec;
        if (!root.empty()) std::filesystem::remove_all(root, ec);
    }

    std::string root;
    std::string folder;
    FixedDate clock;
    std::unique_ptr<CRegistryHive> hive;
    std::unique_ptr<CSettingParamManage> settings;
};

FlatFolder& Folder() {
    static FlatFolder folder;
    return folder;
}

void BM_ListFolder_Flat10000(benchmark::State& state) {
    const std::string& folder = Folder().folder;
    for (auto _ : state) {
        DIR* dir = ::opendir(folder.c_str());
        size_t count = 0;
        while (const dirent* entry = ::readdir(dir)) {
            benchmark::DoNotOptimize(entry->d_name[0]);
            ++count;
        }
        ::closedir(dir);
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_ListFolder_Flat10000);

void BM_GetSingleShotPath_Flat10000(benchmark::State& state) {
    CSavingLoactionManage saving(Folder().settings.get());
    std::string path;
    for (auto _ : state) {
        saving.GetSingleShotPath(Folder().folder, path);
        benchmark::DoNotOptimize(path);
    }
    if (path != Folder().folder + "/S20240131_10001.jpg") state.SkipWithError(("unexpected " + path).c_str());
}
BENCHMARK(BM_GetSingleShotPath_Flat10000);

}  // namespace
