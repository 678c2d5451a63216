#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/registry_hive.h"
#include "config/setting_param_manage.h"
#include "media/resources_browser_model.h"

namespace {

using namespace orvane;

// A shown folder of `count` photos under a storage root of its own, removed at the end, and the
// records of renaming every one of them: what the watch hands the model in a rename storm.
class StormFolder {
public:
    explicit StormFolder(int count) {
        char pattern[] = "/tmp/orvane-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return;
        box = pattern;
        hive = std::make_unique<CRegistryHive>(box + "/settings.conf", box + "/factory.conf");
        settings = std::make_unique<CSettingParamManage>(hive.get());
        CSettingParam param = settings->GetUsingParam();
        param.SetResourcesPath(box);
        settings->SetUsingParam(param);
        folder = settings->GetUsingParam().GetRootPath() + "/Single Shots";
        std::filesystem::create_directories(folder);
        for (int i = 0; i < count; ++i) {
            char from[32];
            char to[32];
            std::snprintf(from, sizeof from, "S20240131_%05d.jpg", i);
            std::snprintf(to, sizeof to, "R20240131_%05d.jpg", i);
            const int fd = ::open((folder + "/" + from).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) ::close(fd);
            records.push_back({kActionRenamedOldName, std::string("Single Shots/") + from});
            records.push_back({kActionRenamedNewName, std::string("Single Shots/") + to});
        }
    }
    ~StormFolder() {
        settings.reset();
        hive.reset();
        std::error_code ec;
        if (!box.empty()) std::filesystem::remove_all(box, ec);
    }

    std::string box;
    std::string folder;
    std::unique_ptr<CRegistryHive> hive;
    std::unique_ptr<CSettingParamManage> settings;
    std::vector<ChangeRecord> records;
};

// The list as it was kept before: every record edits the list on its own, a walk and a shift each.
void BM_RenameStorm_RecordByRecord(benchmark::State& state) {
    StormFolder storm(static_cast<int>(state.range(0)));
    CResourcesBrowserModel model(nullptr, storm.settings.get());
    for (auto _ : state) {
        state.PauseTiming();
        model.SetFolder("", false);
        model.SetFolder(storm.folder, false);
        state.ResumeTiming();
        for (const ChangeRecord& record : storm.records) model.ProcessChange(record.action, record.name);
    }
    if (model.GetItemPath(0) != storm.folder + "/R20240131_00000.jpg") state.SkipWithError("not renamed");
}
BENCHMARK(BM_RenameStorm_RecordByRecord)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same storm as one block, merged into the list in one pass.
void BM_RenameStorm_OneBlock(benchmark::State& state) {
    StormFolder storm(static_cast<int>(state.range(0)));
    CResourcesBrowserModel model(nullptr, storm.settings.get());
    for (auto _ : state) {
        state.PauseTiming();
        model.SetFolder("", false);
        model.SetFolder(storm.folder, false);
        state.ResumeTiming();
        model.ApplyChanges(storm.records);
    }
    if (model.GetItemPath(0) != storm.folder + "/R20240131_00000.jpg") state.SkipWithError("not renamed");
}
BENCHMARK(BM_RenameStorm_OneBlock)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
