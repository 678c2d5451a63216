// Files made to cost a thumbnail maker seconds and gigabytes: each one, decoded alone in a child
// process, must end with no picture within two seconds and 256 MB.
#include <gtest/gtest.h>

#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "imaging/movie_thumbnail.h"
#include "imaging/photo_thumbnail.h"
#include "support/child_cost.h"
#include "support/hostile_media.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

constexpr auto kBudget = std::chrono::milliseconds(2000);
constexpr int64_t kMemoryBudget = int64_t{256} << 20;

class HostileThumbnailTest : public ::testing::Test {
protected:
    HostileThumbnailTest() { av_log_set_level(AV_LOG_QUIET); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = box / name;
        EXPECT_TRUE(test::WriteFile(path, bytes));
        return path;
    }
    // Decodes the file as the panel's workers do, in a child, and checks what that cost.
    void ExpectRefusedCheaply(const std::string& path, bool movie) {
        SCOPED_TRACE(path);
        const auto wanted = [](int32_t, int32_t) { return std::pair<int32_t, int32_t>(133, 100); };
        const test::ChildCost cost = test::RunInChild(
            [&] {
                const ThumbnailLimits limits = ThumbnailLimits::Within(kBudget);
                const ThumbnailStatus status =
                    movie ? DecodeMovieThumbnail(path, wanted, limits).status
                          : DecodePhotoThumbnail(path, wanted, limits, wanted).status;
                return static_cast<int>(status);
            },
            std::chrono::seconds(30), kMemoryBudget);
        ASSERT_TRUE(cost.finished) << "the child did not finish";
        EXPECT_EQ(cost.result, static_cast<int>(ThumbnailStatus::NoPicture));
        EXPECT_LT(cost.seconds, 2.0);
        EXPECT_LT(cost.peakGrowthBytes, kMemoryBudget);
        std::printf("%-28s %7.1f ms %7.1f MB\n", path.substr(path.rfind('/') + 1).c_str(),
                    cost.seconds * 1000, static_cast<double>(cost.peakGrowthBytes) / (1 << 20));
    }

    test::Sandbox box;
};

TEST_F(HostileThumbnailTest, PhotoBombsGiveNoPictureWithinTheirBudget) {
    const std::string bomb = Write("bomb_65500.jpg", test::ProgressiveJpegClaiming(65500, 65500));
    EXPECT_LT(test::ReadFile(bomb).size(), 2000u);
    ExpectRefusedCheaply(bomb, false);
    ExpectRefusedCheaply(Write("scans.jpg", test::JpegWithExtraScans(5000)), false);
    ASSERT_TRUE(test::MakeSparseFile(box / "sparse_1000MB.jpg", int64_t{1000} << 20));
    ExpectRefusedCheaply(box / "sparse_1000MB.jpg", false);
}

TEST_F(HostileThumbnailTest, MovieBombsGiveNoPictureWithinTheirBudget) {
    const std::string samples = Write("samples.mp4", test::Mp4ClaimingSamples(80'000'000));
    EXPECT_LT(test::ReadFile(samples).size(), 3000u);
    ExpectRefusedCheaply(samples, true);
    ExpectRefusedCheaply(Write("huge_mjpeg.avi", test::MjpegAvi(16000, 16000, 16000, 16000)), true);
    // Headers of a small movie, a frame that claims to be huge.
    ExpectRefusedCheaply(Write("huge_frame.avi", test::MjpegAvi(16, 16, 16000, 16000)), true);
}

TEST_F(HostileThumbnailTest, TheSameFilesWithinLimitsStillWork) {
    // The generators make real files: with a modest claim they give pictures, so the refusals above are
    // the limits' doing.
    const auto wanted = [](int32_t, int32_t) { return std::pair<int32_t, int32_t>(16, 16); };
    const ThumbnailLimits limits = ThumbnailLimits::Within(std::chrono::seconds(10));
    EXPECT_EQ(DecodeMovieThumbnail(Write("small.avi", test::MjpegAvi(16, 16, 16, 16)), wanted, limits).status,
              ThumbnailStatus::Ok);
    EXPECT_EQ(DecodePhotoThumbnail(Write("small.jpg", test::ProgressiveJpegClaiming(64, 64)), wanted, limits)
                  .status,
              ThumbnailStatus::Ok);
}

}  // namespace
}  // namespace orvane
