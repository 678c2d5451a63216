#include "imaging/exif_thumbnail.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imaging/jpeg_header.h"
#include "imaging/photo_writer.h"
#include "support/sandbox.h"

namespace orvane {
namespace {

using test::Sandbox;

// A bottom-up BGR frame: reddish top half, bluish bottom half (as seen upright).
std::vector<uint8_t> TwoBandFrame(int w, int h) {
    std::vector<uint8_t> bits(3 * size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = &bits[3 * size_t(h - 1 - y) * w];
        for (int x = 0; x < w; ++x) {
            const bool top = y < h / 2;
            row[3 * x + 0] = top ? 30 : 220;
            row[3 * x + 1] = 40;
            row[3 * x + 2] = top ? 220 : 30;
        }
    }
    return bits;
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> bgr;
    int Channel(int x, int y, int c) const { return bgr[3 * (size_t(y) * width + x) + c]; }
};

Picture Decode(const uint8_t* data, size_t size) {
    Picture picture;
    std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
    int subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(decoder.get(), data, size, &picture.width, &picture.height, &subsampling,
                            &colourspace) != 0)
        return {};
    picture.bgr.resize(3 * size_t(picture.width) * picture.height);
    if (tjDecompress2(decoder.get(), data, size, picture.bgr.data(), picture.width, 0, picture.height,
                      TJPF_BGR, 0) != 0)
        return {};
    return picture;
}

// The embedded JPEG of a whole file, found the way a reader finds it.
std::vector<uint8_t> EmbeddedOf(const std::string& file) {
    const auto* data = reinterpret_cast<const uint8_t*>(file.data());
    const JpegHeader header = ReadJpegHeader(data, file.size());
    if (header.exifLength == 0) return {};
    const auto found = FindExifThumbnail(data + header.exifOffset, header.exifLength);
    if (!found) return {};
    const uint8_t* jpeg = data + header.exifOffset + found->offset;
    return std::vector<uint8_t>(jpeg, jpeg + found->length);
}

TEST(ExifThumbnailTest, SizeFitsTheBoxKeepingTheAspect) {
    using Size = std::pair<int32_t, int32_t>;
    EXPECT_EQ(ExifThumbnailSize(2592, 1944), Size(160, 120));
    EXPECT_EQ(ExifThumbnailSize(1920, 1080), Size(160, 90));
    EXPECT_EQ(ExifThumbnailSize(1280, 1024), Size(150, 120));
    EXPECT_EQ(ExifThumbnailSize(1944, 2592), Size(120, 160));
    EXPECT_EQ(ExifThumbnailSize(100, 50), Size(100, 50));  // never enlarged
    EXPECT_EQ(ExifThumbnailSize(5000, 1), Size(160, 1));
    EXPECT_EQ(ExifThumbnailSize(0, 10), Size(0, 0));
}

TEST(ExifThumbnailTest, EveryPhotoCarriesASmallUprightCopyThatReadersFind) {
    Sandbox box;
    const int w = 640, h = 480;
    const std::vector<uint8_t> frame = TwoBandFrame(w, h);
    const std::string path = box / "photo.jpg";
    ASSERT_EQ(SaveFrameAsJpeg(path, frame.data(), w, h, w, h), S_OK);
    const std::string file = test::ReadFile(path);
    // Start marker, then the JFIF header TurboJPEG writes, then the Exif block.
    ASSERT_GT(file.size(), 30u);
    EXPECT_EQ(file.substr(0, 4), std::string("\xFF\xD8\xFF\xE0", 4));
    const size_t exif = 4 + ((size_t(uint8_t(file[4])) << 8) | uint8_t(file[5]));
    EXPECT_EQ(file.substr(exif, 2), std::string("\xFF\xE1", 2));
    EXPECT_EQ(file.substr(exif + 4, 6), std::string("Exif\0\0", 6));

    const std::vector<uint8_t> embedded = EmbeddedOf(file);
    ASSERT_FALSE(embedded.empty());
    const Picture small = Decode(embedded.data(), embedded.size());
    ASSERT_EQ(small.width, 160);
    ASSERT_EQ(small.height, 120);
    EXPECT_GT(small.Channel(80, 20, 2), 180);  // red at the top
    EXPECT_LT(small.Channel(80, 20, 0), 70);
    EXPECT_GT(small.Channel(80, 100, 0), 180);  // blue at the bottom
    EXPECT_LT(small.Channel(80, 100, 2), 70);

    // The photo itself is what it was: full size, upright.
    const Picture photo = Decode(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    ASSERT_EQ(photo.width, w);
    EXPECT_GT(photo.Channel(320, 10, 2), 200);
    EXPECT_GT(photo.Channel(320, 470, 0), 200);

    // The bytes the photo saver encodes before it writes them carry it too, at the written size.
    std::vector<unsigned char> encoded;
    std::string reason;
    ASSERT_EQ(EncodePhoto(frame.data(), w, h, 1280, 960, encoded, reason), S_OK) << reason;
    const std::vector<uint8_t> fromSaver =
        EmbeddedOf(std::string(reinterpret_cast<const char*>(encoded.data()), encoded.size()));
    ASSERT_FALSE(fromSaver.empty());
    const Picture savers = Decode(fromSaver.data(), fromSaver.size());
    EXPECT_EQ(savers.width, 160);
    EXPECT_EQ(savers.height, 120);
    EXPECT_GT(savers.Channel(80, 20, 2), 180);
}

TEST(ExifThumbnailTest, TheSmallCopyAveragesEveryColumnOfFineDetail) {
    // One-pixel stripes of black and white, across and down, as a microscope shows a fine grating:
    // each thumbnail pixel covers both kinds of line, so it is grey, never black or white.
    const int w = 2592, h = 1944;
    for (const bool across : {false, true}) {
        std::vector<uint8_t> frame(size_t{3} * w * h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                std::fill_n(&frame[3 * (size_t(y) * w + x)], 3, (across ? y : x) % 2 == 0 ? 0 : 255);
        }
        std::vector<unsigned char> encoded;
        std::string reason;
        ASSERT_EQ(EncodePhoto(frame.data(), w, h, w, h, encoded, reason), S_OK) << reason;
        const std::vector<uint8_t> embedded =
            EmbeddedOf(std::string(reinterpret_cast<const char*>(encoded.data()), encoded.size()));
        ASSERT_FALSE(embedded.empty());
        const Picture small = Decode(embedded.data(), embedded.size());
        ASSERT_EQ(small.width, 160);
        for (int y = 0; y < small.height; y += 7) {
            for (int x = 0; x < small.width; x += 5)
                EXPECT_NEAR(small.Channel(x, y, 1), 128, 12) << across << " " << x << "," << y;
        }
    }
}

TEST(ExifThumbnailTest, SegmentGoesAfterTheJfifHeaderOrRightAfterTheStart) {
    const std::vector<uint8_t> segment{0xFF, 0xE1, 0x00, 0x04, 0xAB, 0xCD};
    const std::vector<uint8_t> withJfif{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x11, 0x22, 0xFF, 0xD9};
    std::vector<uint8_t> out = InsertJpegSegment(withJfif.data(), withJfif.size(), segment);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x11, 0x22, 0xFF, 0xE1, 0x00,
                                         0x04, 0xAB, 0xCD, 0xFF, 0xD9}));
    const std::vector<uint8_t> bare{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xD9};
    out = InsertJpegSegment(bare.data(), bare.size(), segment);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x04, 0xAB, 0xCD, 0xFF, 0xDB, 0x00,
                                         0x02, 0xFF, 0xD9}));
    // Not a JPEG, or nothing to add: unchanged.
    const std::vector<uint8_t> other{'G', 'I', 'F', '8', '9'};
    EXPECT_EQ(InsertJpegSegment(other.data(), other.size(), segment), other);
    EXPECT_EQ(InsertJpegSegment(bare.data(), bare.size(), {}), bare);
}

TEST(ExifThumbnailTest, BigEndianBlocksAreReadToo) {
    // MM, IFD0 with no entries, IFD1 with offset and length, then a fake JPEG start.
    std::vector<uint8_t> tiff{'M',  'M',  0,    42,  0, 0, 0, 8, 0, 0, 0, 0,
                              0,    14,                                        // IFD0: 0 entries, next 14
                              0,    2,                                         // IFD1: 2 entries
                              0x02, 0x01, 0,    4,   0, 0, 0, 1, 0, 0, 0, 44,  // offset 44
                              0x02, 0x02, 0,    4,   0, 0, 0, 1, 0, 0, 0, 4,   // length 4
                              0,    0,    0,    0,                             // no further directory
                              0xFF, 0xD8, 0xFF, 0xD9};
    const auto found = FindExifThumbnail(tiff.data(), tiff.size());
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->offset, 44u);
    EXPECT_EQ(found->length, 4u);
}

class DamagedExifTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<uint8_t> frame = TwoBandFrame(320, 240);
        segment = MakeExifThumbnailSegment(frame.data(), 320, 240, 320 * 3, true);
        ASSERT_GT(segment.size(), 10u + 8u);
        tiff.assign(segment.begin() + 10, segment.end());  // after marker, length and "Exif\0\0"
        ASSERT_TRUE(FindExifThumbnail(tiff.data(), tiff.size()).has_value());
    }
    // Whatever the bytes, a found thumbnail lies inside them.
    static void ExpectInside(const std::vector<uint8_t>& bytes) {
        const auto found = FindExifThumbnail(bytes.data(), bytes.size());
        if (!found) return;
        EXPECT_LE(found->offset, bytes.size());
        EXPECT_LE(found->length, bytes.size() - found->offset);
    }
    void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (8 * i));
    }
    // The byte position of the IFD1 entry with `tag`.
    size_t EntryOf(uint16_t tag) const {
        const uint32_t ifd0 = tiff[4] | tiff[5] << 8;
        const uint16_t count0 = tiff[ifd0] | tiff[ifd0 + 1] << 8;
        const size_t link = ifd0 + 2 + 12 * size_t(count0);
        const uint32_t ifd1 = tiff[link] | tiff[link + 1] << 8 | tiff[link + 2] << 16;
        const uint16_t count1 = tiff[ifd1] | tiff[ifd1 + 1] << 8;
        for (size_t i = 0; i < count1; ++i) {
            const size_t entry = ifd1 + 2 + 12 * i;
            if ((tiff[entry] | tiff[entry + 1] << 8) == tag) return entry;
        }
        return 0;
    }

    std::vector<uint8_t> segment;
    std::vector<uint8_t> tiff;
};

TEST_F(DamagedExifTest, CutAnywhereGivesNothingOrSomethingInside) {
    for (size_t length = 0; length < tiff.size(); ++length) {
        const std::vector<uint8_t> cut(tiff.begin(), tiff.begin() + static_cast<long>(length));
        const auto found = FindExifThumbnail(cut.data(), cut.size());
        EXPECT_FALSE(found.has_value()) << "cut at " << length;
    }
    EXPECT_FALSE(FindExifThumbnail(nullptr, 100).has_value());
}

TEST_F(DamagedExifTest, OffsetsAndCountsPointingOutsideAreRefused) {
    const size_t offsetEntry = EntryOf(0x0201), lengthEntry = EntryOf(0x0202);
    ASSERT_NE(offsetEntry, 0u);
    ASSERT_NE(lengthEntry, 0u);
    const std::vector<uint8_t> good = tiff;

    Put32(tiff, offsetEntry + 8, 0xFFFFFFF0);  // offset + length wraps around
    EXPECT_FALSE(FindExifThumbnail(tiff.data(), tiff.size()).has_value());
    tiff = good;
    Put32(tiff, lengthEntry + 8, 0xFFFFFFFF);  // length beyond the block
    EXPECT_FALSE(FindExifThumbnail(tiff.data(), tiff.size()).has_value());
    tiff = good;
    Put32(tiff, lengthEntry + 4, 2);  // a count of two for a single value
    EXPECT_FALSE(FindExifThumbnail(tiff.data(), tiff.size()).has_value());
    tiff = good;
    Put32(tiff, offsetEntry + 8, 8);  // points at the directory, not at a JPEG
    EXPECT_FALSE(FindExifThumbnail(tiff.data(), tiff.size()).has_value());
    tiff = good;
    Put32(tiff, 4, 0xFFFFFF00);  // first directory far outside
    EXPECT_FALSE(FindExifThumbnail(tiff.data(), tiff.size()).has_value());
    tiff = good;
    tiff[8] = 0xFF;  // first directory claims 65535 entries
    tiff[9] = 0xFF;
    EXPECT_FALSE(FindExifThumbnail(tiff.data(), tiff.size()).has_value());
    tiff = good;
    // The second directory is the first one again: no loop, no thumbnail.
    const uint16_t count0 = tiff[8] | tiff[9] << 8;
    Put32(tiff, 8 + 2 + 12 * size_t(count0), 8);
    EXPECT_FALSE(FindExifThumbnail(tiff.data(), tiff.size()).has_value());
    tiff = good;
    tiff[2] = 43;  // not TIFF
    EXPECT_FALSE(FindExifThumbnail(tiff.data(), tiff.size()).has_value());
}

TEST_F(DamagedExifTest, RandomDamageNeverReadsOutside) {
    std::mt19937 random(20240131);
    std::uniform_int_distribution<size_t> position(0, tiff.size() - 1);
    std::uniform_int_distribution<int> value(0, 255), flips(1, 8);
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> damaged = tiff;
        // Most damage goes into the directories, where it matters.
        const int count = flips(random);
        for (int i = 0; i < count; ++i) {
            const size_t at =
                round % 2 == 0 ? position(random) % std::min<size_t>(tiff.size(), 140) : position(random);
            damaged[at] = static_cast<uint8_t>(value(random));
        }
        if (round % 7 == 0) damaged.resize(position(random));
        ExpectInside(damaged);
    }
}

TEST(JpegHeaderTest, ReadsWhatTheMarkersSayAndStopsAtDamage) {
    // A baseline frame header of 640 x 480, three components, one interleaved scan.
    const std::vector<uint8_t> baseline{
        0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03, 1, 0x22, 0, 2,    0x11, 1,
        3,    0x11, 1,    0xFF, 0xDA, 0x00, 0x0C, 3,    1,    0,    2,    0x11, 3, 0x11, 0, 0x3F, 0};
    JpegHeader header = ReadJpegHeader(baseline.data(), baseline.size());
    EXPECT_TRUE(header.valid);
    EXPECT_EQ(header.width, 640);
    EXPECT_EQ(header.height, 480);
    EXPECT_FALSE(header.Buffered());
    // The same with a scan of one component: the decoder must hold the whole picture.
    std::vector<uint8_t> multiScan = baseline;
    multiScan[25] = 1;
    EXPECT_TRUE(ReadJpegHeader(multiScan.data(), multiScan.size()).Buffered());
    // A segment length running past the end, or no start marker.
    std::vector<uint8_t> damaged = baseline;
    damaged[5] = 0xFF;
    EXPECT_FALSE(ReadJpegHeader(damaged.data(), damaged.size()).valid);
    EXPECT_FALSE(ReadJpegHeader(baseline.data() + 2, baseline.size() - 2).valid);
    for (size_t cut = 0; cut < baseline.size(); ++cut) ReadJpegHeader(baseline.data(), cut);
    EXPECT_EQ(CountJpegScans(baseline.data(), baseline.size(), 10), 1);
}

}  // namespace
}  // namespace orvane
