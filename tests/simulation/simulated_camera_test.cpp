#include "simulation/simulated_camera.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <linux/videodev2.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "capture/frame_converter.h"
#include "capture/real_device_file.h"

namespace orvane {
namespace {

using Colour = SimulatedCamera::Colour;
using namespace std::chrono_literals;

// The calls answer 0 or the errno they left, so that a failure reads as its name.
class SimulatedCameraTest : public ::testing::Test {
protected:
    SimulatedCameraTest()
        : sim({SimulatedCameraDefinition::UsbCamera("Test Microscope", "0c45", "6366", "SN42", "1"),
               SimulatedCameraDefinition::WifiCamera(),
               SimulatedCameraDefinition::UsbCamera("Test Microscope", "0c45", "6366", "", "2")}) {}

    ~SimulatedCameraTest() override {
        for (const Mapping& mapping : mappings) device.Munmap(mapping.address, mapping.length);
        for (int fd : open) device.Close(fd);
        EXPECT_EQ(sim.MappedAreas(), 0u);
        EXPECT_EQ(sim.OpenDescriptors(), 0u);
    }

    int OpenNode(const std::string& node, int flags = O_RDWR | O_NONBLOCK) {
        const int fd = device.Open(node, flags);
        if (fd >= 0) open.push_back(fd);
        return fd;
    }
    void CloseNode(int fd) {
        std::erase(open, fd);
        EXPECT_EQ(device.Close(fd), 0);
    }
    template <class T>
    int Call(int fd, unsigned long request, T& arg) {
        return device.Ioctl(fd, request, &arg) < 0 ? errno : 0;
    }

    v4l2_pix_format SetFormat(int fd, uint32_t pixelFormat, uint32_t width, uint32_t height, int expect = 0,
                              unsigned long request = VIDIOC_S_FMT) {
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.pixelformat = pixelFormat;
        format.fmt.pix.width = width;
        format.fmt.pix.height = height;
        EXPECT_EQ(Call(fd, request, format), expect);
        return format.fmt.pix;
    }

    // REQBUFS, QUERYBUF, mmap and QBUF of every buffer, then STREAMON.
    void StartStreaming(int fd, uint32_t count = 4) {
        v4l2_requestbuffers request{};
        request.count = count;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        ASSERT_EQ(Call(fd, VIDIOC_REQBUFS, request), 0);
        ASSERT_EQ(request.count, count);
        for (uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer buffer = Buffer(i);
            ASSERT_EQ(Call(fd, VIDIOC_QUERYBUF, buffer), 0);
            void* address =
                device.Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
            ASSERT_NE(address, MAP_FAILED);
            mappings.push_back({static_cast<uint8_t*>(address), buffer.length});
            ASSERT_EQ(Call(fd, VIDIOC_QBUF, buffer), 0);
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ASSERT_EQ(Call(fd, VIDIOC_STREAMON, type), 0);
    }

    static v4l2_buffer Buffer(uint32_t index = 0) {
        v4l2_buffer buffer{};
        buffer.index = index;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        return buffer;
    }

    // Waits for the next frame as a backend does: poll, then DQBUF.
    v4l2_buffer NextFrame(int fd) {
        pollfd wait{fd, POLLIN, 0};
        EXPECT_EQ(device.Poll(&wait, 1, 5000), 1);
        EXPECT_EQ(wait.revents, POLLIN);
        v4l2_buffer buffer = Buffer();
        EXPECT_EQ(Call(fd, VIDIOC_DQBUF, buffer), 0);
        return buffer;
    }

    void Requeue(int fd, v4l2_buffer buffer) { EXPECT_EQ(Call(fd, VIDIOC_QBUF, buffer), 0); }

    bool Convert(CFrameConverter& converter, const v4l2_buffer& buffer, std::vector<uint8_t>& bgr) {
        bgr.assign(converter.OutputSize(), 0);
        return converter.Convert(mappings.at(buffer.index).address, buffer.bytesused, bgr.data());
    }

    std::vector<DeviceEvent> Events(int monitor) {
        std::vector<DeviceEvent> events;
        DeviceEvent event;
        while (device.ReadEvent(monitor, event)) events.push_back(event);
        return events;
    }

    struct Mapping {
        uint8_t* address;
        size_t length;
    };
    SimulatedDeviceFile sim;
    IDeviceFile& device = sim;
    SimulatedCamera& camera = sim.Camera(0);
    std::vector<int> open;
    std::vector<Mapping> mappings;
};

// The colour at picture coordinates (first row = top) of a bottom-up BGR24 frame.
Colour At(const std::vector<uint8_t>& bgr, int width, int height, int x, int y) {
    const uint8_t* p = &bgr[(static_cast<size_t>(height - 1 - y) * width + x) * 3];
    return {p[2], p[1], p[0]};
}

bool Near(Colour a, Colour b, int tolerance) {
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
           std::abs(a.blue - b.blue) <= tolerance;
}

// Marker top left, top colour above bottom colour: the picture is neither upside down nor mirrored.
void ExpectUprightPattern(const std::vector<uint8_t>& bgr, int width, int height, int tolerance) {
    const int marker = height / 8;
    EXPECT_TRUE(
        Near(At(bgr, width, height, marker / 2, marker / 2), SimulatedCamera::kMarkerColour, tolerance));
    EXPECT_TRUE(Near(At(bgr, width, height, width - 1 - marker / 2, marker / 2), SimulatedCamera::kTopColour,
                     tolerance));
    EXPECT_TRUE(Near(At(bgr, width, height, marker / 2, height / 4), SimulatedCamera::kTopColour, tolerance));
    EXPECT_TRUE(
        Near(At(bgr, width, height, marker / 2, height * 3 / 4), SimulatedCamera::kBottomColour, tolerance));
    EXPECT_TRUE(Near(At(bgr, width, height, width / 8, height - 1 - marker / 2),
                     SimulatedCamera::kBottomColour, tolerance));
}

// Where the bar stands in the middle row; -1 when it is nowhere.
int BarColumn(const std::vector<uint8_t>& bgr, int width, int height) {
    for (int x = 0; x < width; ++x) {
        if (Near(At(bgr, width, height, x, height / 4), SimulatedCamera::kBarColour, 30)) return x;
    }
    return -1;
}

TEST_F(SimulatedCameraTest, NodesCarryTheUdevIdentityOfTheirCamera) {
    const std::vector<DeviceNode> video = device.ListNodes("video4linux");
    ASSERT_EQ(video.size(), 5u);  // two USB cameras with a metadata node each, and the wireless one
    EXPECT_EQ(video[0].node, camera.VideoNode());
    EXPECT_EQ(video[1].node, camera.MetadataNode());
    EXPECT_EQ(video[0].Property("ID_VENDOR_ID"), "0c45");
    EXPECT_EQ(video[0].Property("ID_MODEL_ID"), "6366");
    EXPECT_EQ(video[0].Property("ID_SERIAL_SHORT"), "SN42");
    EXPECT_EQ(video[0].Property("ID_BUS"), "usb");
    EXPECT_EQ(video[4].Property("ID_SERIAL_SHORT"), "");
    // Two identical cameras without a serial still differ by their port.
    EXPECT_NE(video[0].Property("ID_PATH"), video[3].Property("ID_PATH"));
    EXPECT_NE(video[0].usbDevice, video[3].usbDevice);

    const DeviceNode& wifi = video[2];
    EXPECT_EQ(wifi.node, sim.Camera(1).VideoNode());
    EXPECT_EQ(wifi.usbDevice, "");
    EXPECT_EQ(wifi.Property("ID_BUS"), "");
    EXPECT_EQ(wifi.Property("ID_VENDOR_ID"), "");

    const std::vector<DeviceNode> input = device.ListNodes("input");
    ASSERT_EQ(input.size(), 2u);
    EXPECT_EQ(input[0].node, camera.InputNode());
    EXPECT_EQ(input[0].usbDevice, video[0].usbDevice);
    EXPECT_EQ(input[0].subsystem, "input");

    // Capture and metadata node tell themselves apart by their device capabilities.
    v4l2_capability cap{};
    const int fd = OpenNode(camera.VideoNode());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(Call(fd, VIDIOC_QUERYCAP, cap), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(cap.card), "Test Microscope");
    EXPECT_NE(cap.capabilities & V4L2_CAP_DEVICE_CAPS, 0u);
    EXPECT_EQ(cap.device_caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING),
              V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING);
    const int meta = OpenNode(camera.MetadataNode());
    ASSERT_EQ(Call(meta, VIDIOC_QUERYCAP, cap), 0);
    EXPECT_EQ(cap.device_caps & V4L2_CAP_VIDEO_CAPTURE, 0u);
    EXPECT_NE(cap.device_caps & V4L2_CAP_META_CAPTURE, 0u);
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(Call(meta, VIDIOC_ENUM_FMT, desc), EINVAL);

    const int wifiFd = OpenNode(wifi.node);
    ASSERT_EQ(Call(wifiFd, VIDIOC_QUERYCAP, cap), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(cap.card), "wifi device");

    EXPECT_EQ(device.Open("/dev/video99", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    v4l2_input unknown{};
    EXPECT_EQ(Call(fd, VIDIOC_ENUMINPUT, unknown), ENOTTY);
}

TEST_F(SimulatedCameraTest, FormatsSizesAndIntervalsEnumerateInCameraOrder) {
    const int fd = OpenNode(camera.VideoNode());
    std::vector<uint32_t> formats;
    for (v4l2_fmtdesc desc{0, V4L2_BUF_TYPE_VIDEO_CAPTURE, {}, {}, 0, 0, {}};
         Call(fd, VIDIOC_ENUM_FMT, desc) == 0; ++desc.index) {
        formats.push_back(desc.pixelformat);
    }
    EXPECT_EQ(formats, (std::vector<uint32_t>{V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG}));

    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    v4l2_frmsizeenum size{};
    size.pixel_format = V4L2_PIX_FMT_YUYV;
    for (; Call(fd, VIDIOC_ENUM_FRAMESIZES, size) == 0; ++size.index) {
        EXPECT_EQ(size.type, static_cast<uint32_t>(V4L2_FRMSIZE_TYPE_DISCRETE));
        sizes.emplace_back(size.discrete.width, size.discrete.height);
    }
    EXPECT_EQ(sizes, (std::vector<std::pair<uint32_t, uint32_t>>{
                         {640, 480}, {848, 480}, {1280, 720}, {1920, 1080}, {2592, 1944}}));

    v4l2_frmivalenum interval{};
    interval.pixel_format = V4L2_PIX_FMT_MJPEG;
    interval.width = 2592;
    interval.height = 1944;
    ASSERT_EQ(Call(fd, VIDIOC_ENUM_FRAMEINTERVALS, interval), 0);
    EXPECT_EQ(interval.discrete.numerator, 1u);
    EXPECT_EQ(interval.discrete.denominator, 15u);
    interval.width = 2000;  // not a size of the camera
    EXPECT_EQ(Call(fd, VIDIOC_ENUM_FRAMEINTERVALS, interval), EINVAL);
    size.pixel_format = V4L2_PIX_FMT_H264;
    size.index = 0;
    EXPECT_EQ(Call(fd, VIDIOC_ENUM_FRAMESIZES, size), EINVAL);
}

TEST_F(SimulatedCameraTest, FormatAndRateSettleOnTheNearestTheCameraHas) {
    const int fd = OpenNode(camera.VideoNode());
    v4l2_pix_format got = SetFormat(fd, V4L2_PIX_FMT_MJPEG, 4000, 3000);
    EXPECT_EQ(got.width, 2592u);
    EXPECT_EQ(got.height, 1944u);
    got = SetFormat(fd, V4L2_PIX_FMT_YUYV, 700, 500, 0, VIDIOC_TRY_FMT);
    EXPECT_EQ(got.width, 640u);
    EXPECT_EQ(got.bytesperline, 1280u);
    got = SetFormat(fd, V4L2_PIX_FMT_H264, 1280, 720, 0, VIDIOC_TRY_FMT);  // unknown FOURCC: the first format
    EXPECT_EQ(got.pixelformat, V4L2_PIX_FMT_YUYV);

    // TRY_FMT left the format alone.
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(Call(fd, VIDIOC_G_FMT, current), 0);
    EXPECT_EQ(current.fmt.pix.pixelformat, V4L2_PIX_FMT_MJPEG);
    EXPECT_EQ(current.fmt.pix.width, 2592u);

    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(Call(fd, VIDIOC_G_PARM, parm), 0);
    EXPECT_NE(parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME, 0u);
    EXPECT_EQ(parm.parm.capture.timeperframe.denominator, 15u);
    parm.parm.capture.timeperframe = {1, 4};
    ASSERT_EQ(Call(fd, VIDIOC_S_PARM, parm), 0);
    EXPECT_EQ(parm.parm.capture.timeperframe.denominator, 5u);
}

TEST_F(SimulatedCameraTest, YuyvFramesArriveAtTheChosenRateAndConvertUpright) {
    const int fd = OpenNode(camera.VideoNode());
    SetFormat(fd, V4L2_PIX_FMT_YUYV, 640, 480);
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = {1, 15};
    ASSERT_EQ(Call(fd, VIDIOC_S_PARM, parm), 0);
    const auto started = std::chrono::steady_clock::now();
    StartStreaming(fd);

    CFrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_YUYV, 640, 480, 1280));
    std::vector<uint8_t> bgr;
    std::vector<int> bars;
    uint32_t lastSequence = 0;
    for (int frame = 0; frame < 5; ++frame) {
        const v4l2_buffer buffer = NextFrame(fd);
        EXPECT_EQ(buffer.bytesused, 640u * 480 * 2);
        if (frame > 0) {
            EXPECT_GT(buffer.sequence, lastSequence);
        }
        lastSequence = buffer.sequence;
        ASSERT_TRUE(Convert(converter, buffer, bgr));
        ExpectUprightPattern(bgr, 640, 480, 4);
        bars.push_back(BarColumn(bgr, 640, 480));
        EXPECT_GE(bars.back(), 640 / 4);
        Requeue(fd, buffer);
    }
    // Five frames at 15 per second take at least four intervals after the first.
    EXPECT_GE(std::chrono::steady_clock::now() - started, 5 * 66ms);
    EXPECT_NE(bars.front(), bars.back());
    EXPECT_GE(camera.FramesDelivered(), 5u);
}

TEST_F(SimulatedCameraTest, CorruptMjpgFramesAreDroppedAndTheStreamGoesOn) {
    const int fd = OpenNode(camera.VideoNode());
    SetFormat(fd, V4L2_PIX_FMT_MJPEG, 1280, 720);
    StartStreaming(fd);
    CFrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_MJPEG, 1280, 720));
    std::vector<uint8_t> bgr;

    v4l2_buffer buffer = NextFrame(fd);
    ASSERT_TRUE(Convert(converter, buffer, bgr));
    ExpectUprightPattern(bgr, 1280, 720, 12);
    Requeue(fd, buffer);

    // Frames already in the queue were made before the damage was ordered.
    for (int i = 0; i < 4; ++i) Requeue(fd, NextFrame(fd));
    camera.CorruptNextMjpgFrames(1, CorruptFrame::Truncated);
    int refused = 0;
    for (int i = 0; i < 8 && refused == 0; ++i) {
        buffer = NextFrame(fd);
        if (!Convert(converter, buffer, bgr)) ++refused;
        Requeue(fd, buffer);
    }
    EXPECT_EQ(refused, 1);
    camera.CorruptNextMjpgFrames(2, CorruptFrame::Garbage);
    for (int i = 0; i < 8 && refused < 3; ++i) {
        buffer = NextFrame(fd);
        if (!Convert(converter, buffer, bgr)) ++refused;
        Requeue(fd, buffer);
    }
    EXPECT_EQ(refused, 3);
    buffer = NextFrame(fd);
    EXPECT_TRUE(Convert(converter, buffer, bgr));
    ExpectUprightPattern(bgr, 1280, 720, 12);
    Requeue(fd, buffer);
}

TEST_F(SimulatedCameraTest, NonBlockingDequeueWaitsForASlowSource) {
    camera.SetSlowSource(20000);
    const int fd = OpenNode(camera.VideoNode());
    SetFormat(fd, V4L2_PIX_FMT_YUYV, 640, 480);
    v4l2_buffer buffer = Buffer();
    EXPECT_EQ(Call(fd, VIDIOC_DQBUF, buffer), EINVAL);  // not streaming yet
    StartStreaming(fd);
    EXPECT_EQ(Call(fd, VIDIOC_DQBUF, buffer), EAGAIN);
    pollfd wait{fd, POLLIN, 0};
    EXPECT_EQ(device.Poll(&wait, 1, 100), 0);

    // Back to the camera's own rate at once, not after the slow interval already begun.
    camera.SetSlowSource(0);
    EXPECT_EQ(device.Poll(&wait, 1, 2000), 1);
    buffer = NextFrame(fd);
    EXPECT_GT(buffer.bytesused, 0u);
    Requeue(fd, buffer);

    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(Call(fd, VIDIOC_STREAMOFF, type), 0);
    EXPECT_EQ(device.Poll(&wait, 1, 0), 1);
    EXPECT_EQ(wait.revents, POLLERR);
}

TEST_F(SimulatedCameraTest, ControlsEnumerateAndKeepTheirLimits) {
    const int fd = OpenNode(camera.VideoNode());
    std::vector<uint32_t> ids;
    v4l2_query_ext_ctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (Call(fd, VIDIOC_QUERY_EXT_CTRL, query) == 0) {
        ids.push_back(query.id);
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    EXPECT_EQ(ids,
              (std::vector<uint32_t>{V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST, V4L2_CID_SATURATION,
                                     V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_POWER_LINE_FREQUENCY,
                                     V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_EXPOSURE_AUTO,
                                     V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_PAN_RESET, V4L2_CID_FOCUS_ABSOLUTE,
                                     V4L2_CID_FOCUS_AUTO, V4L2_CID_ZOOM_CONTINUOUS}));

    v4l2_querymenu menu{};
    menu.id = V4L2_CID_POWER_LINE_FREQUENCY;
    menu.index = 1;
    ASSERT_EQ(Call(fd, VIDIOC_QUERYMENU, menu), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(menu.name), "50 Hz");
    menu.index = 3;
    EXPECT_EQ(Call(fd, VIDIOC_QUERYMENU, menu), EINVAL);
    menu.id = V4L2_CID_EXPOSURE_AUTO;
    menu.index = 0;  // an item this camera leaves out
    EXPECT_EQ(Call(fd, VIDIOC_QUERYMENU, menu), EINVAL);

    // Integers are rounded and clamped as the kernel does, menus and unknown controls refused.
    v4l2_control control{V4L2_CID_BRIGHTNESS, 1000};
    ASSERT_EQ(Call(fd, VIDIOC_S_CTRL, control), 0);
    EXPECT_EQ(control.value, 64);
    // As uvcvideo passes on the camera's "wrong state": no manual value while its automatic mode is on.
    control = {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 4605};
    EXPECT_EQ(Call(fd, VIDIOC_S_CTRL, control), EACCES);
    control = {V4L2_CID_AUTO_WHITE_BALANCE, 0};
    ASSERT_EQ(Call(fd, VIDIOC_S_CTRL, control), 0);
    control = {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 4605};
    ASSERT_EQ(Call(fd, VIDIOC_S_CTRL, control), 0);
    control.value = 0;
    ASSERT_EQ(Call(fd, VIDIOC_G_CTRL, control), 0);
    EXPECT_EQ(control.value, 4610);
    control = {V4L2_CID_AUTO_WHITE_BALANCE, 1};
    ASSERT_EQ(Call(fd, VIDIOC_S_CTRL, control), 0);
    control = {V4L2_CID_POWER_LINE_FREQUENCY, 3};
    EXPECT_EQ(Call(fd, VIDIOC_S_CTRL, control), ERANGE);
    control = {V4L2_CID_EXPOSURE_AUTO, 2};
    EXPECT_EQ(Call(fd, VIDIOC_S_CTRL, control), EINVAL);
    control = {V4L2_CID_HUE, 0};
    EXPECT_EQ(Call(fd, VIDIOC_G_CTRL, control), EINVAL);
    control = {V4L2_CID_PAN_RESET, 1};
    EXPECT_EQ(Call(fd, VIDIOC_S_CTRL, control), 0);
    EXPECT_EQ(Call(fd, VIDIOC_G_CTRL, control), EACCES);

    // The manual value is inactive while its automatic control is on.
    query = {};
    query.id = V4L2_CID_WHITE_BALANCE_TEMPERATURE;
    ASSERT_EQ(Call(fd, VIDIOC_QUERY_EXT_CTRL, query), 0);
    EXPECT_NE(query.flags & V4L2_CTRL_FLAG_INACTIVE, 0u);
    control = {V4L2_CID_AUTO_WHITE_BALANCE, 0};
    ASSERT_EQ(Call(fd, VIDIOC_S_CTRL, control), 0);
    ASSERT_EQ(Call(fd, VIDIOC_QUERY_EXT_CTRL, query), 0);
    EXPECT_EQ(query.flags & V4L2_CTRL_FLAG_INACTIVE, 0u);
    EXPECT_EQ(query.minimum, 2800);
    EXPECT_EQ(query.step, 10u);
}

TEST_F(SimulatedCameraTest, SnapshotButtonReportsPressAndReleaseOnItsInputNode) {
    const int fd = OpenNode(camera.InputNode());
    ASSERT_GE(fd, 0);
    char name[64] = {};
    ASSERT_GT(device.Ioctl(fd, EVIOCGNAME(sizeof name), name), 0);
    EXPECT_STREQ(name, "Test Microscope");
    input_event events[8];
    EXPECT_EQ(device.Read(fd, events, sizeof events), -1);
    EXPECT_EQ(errno, EAGAIN);

    camera.PressSnapshotButton();
    pollfd wait{fd, POLLIN, 0};
    ASSERT_EQ(device.Poll(&wait, 1, 1000), 1);
    EXPECT_EQ(device.Read(fd, events, sizeof(input_event) - 1), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(device.Read(fd, events, sizeof events), static_cast<ssize_t>(4 * sizeof(input_event)));
    EXPECT_EQ(events[0].type, EV_KEY);
    EXPECT_EQ(events[0].code, KEY_CAMERA);
    EXPECT_EQ(events[0].value, 1);
    EXPECT_EQ(events[1].type, EV_SYN);
    EXPECT_EQ(events[2].type, EV_KEY);
    EXPECT_EQ(events[2].value, 0);
    EXPECT_EQ(events[3].type, EV_SYN);
    EXPECT_EQ(device.Poll(&wait, 1, 0), 0);

    // A blocking reader wakes on the press.
    const int blocking = OpenNode(camera.InputNode(), O_RDONLY);
    auto reader =
        std::async(std::launch::async, [&] { return device.Read(blocking, events, sizeof(input_event)); });
    EXPECT_EQ(reader.wait_for(50ms), std::future_status::timeout);
    camera.PressSnapshotButton();
    EXPECT_EQ(reader.get(), static_cast<ssize_t>(sizeof(input_event)));
}

TEST_F(SimulatedCameraTest, UnplugEndsEveryOpenDescriptorAndRaisesRemove) {
    const int monitor = device.OpenMonitor();
    ASSERT_GE(monitor, 0);
    const int fd = OpenNode(camera.VideoNode(), O_RDWR);  // blocking
    const int button = OpenNode(camera.InputNode());
    SetFormat(fd, V4L2_PIX_FMT_YUYV, 640, 480);
    camera.SetSlowSource(10000);
    StartStreaming(fd);

    auto dequeue = std::async(std::launch::async, [&] {
        v4l2_buffer buffer = Buffer();
        return Call(fd, VIDIOC_DQBUF, buffer);
    });
    EXPECT_EQ(dequeue.wait_for(50ms), std::future_status::timeout);
    camera.Unplug();
    EXPECT_EQ(dequeue.get(), ENODEV);

    pollfd wait[2] = {{fd, POLLIN, 0}, {button, POLLIN, 0}};
    ASSERT_EQ(device.Poll(wait, 2, 0), 2);
    EXPECT_NE(wait[0].revents & POLLERR, 0);
    EXPECT_NE(wait[1].revents & POLLERR, 0);
    v4l2_capability cap{};
    EXPECT_EQ(Call(fd, VIDIOC_QUERYCAP, cap), ENODEV);
    input_event event{};
    EXPECT_EQ(device.Read(button, &event, sizeof event), -1);
    EXPECT_EQ(errno, ENODEV);
    // The mapped buffers stay readable until the user unmaps them.
    EXPECT_EQ(mappings[0].address[0], mappings[0].address[0]);

    EXPECT_EQ(device.ListNodes("video4linux").size(), 3u);
    EXPECT_TRUE(device.ListNodes("input").size() == 1u);
    EXPECT_EQ(device.Open(camera.VideoNode(), O_RDWR), -1);
    pollfd monitorWait{monitor, POLLIN, 0};
    ASSERT_EQ(device.Poll(&monitorWait, 1, 0), 1);
    std::vector<DeviceEvent> events = Events(monitor);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].action, "remove");
    EXPECT_EQ(events[0].subsystem, "video4linux");
    EXPECT_EQ(events[0].node, camera.VideoNode());
    EXPECT_EQ(events[2].subsystem, "input");
    EXPECT_EQ(device.Poll(&monitorWait, 1, 0), 0);

    camera.Plug();
    events = Events(monitor);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].action, "add");
    EXPECT_EQ(device.ListNodes("video4linux").size(), 5u);
    EXPECT_EQ(Call(fd, VIDIOC_QUERYCAP, cap), ENODEV);  // opened before the unplug
    const int again = OpenNode(camera.VideoNode());
    EXPECT_EQ(Call(again, VIDIOC_QUERYCAP, cap), 0);
    device.CloseMonitor(monitor);
}

TEST_F(SimulatedCameraTest, BusyDeviceAndSecondUserAreRefused) {
    const int fd = OpenNode(camera.VideoNode());
    camera.SetBusy(true);
    SetFormat(fd, V4L2_PIX_FMT_MJPEG, 640, 480, EBUSY);
    camera.SetBusy(false);
    SetFormat(fd, V4L2_PIX_FMT_MJPEG, 640, 480);
    v4l2_requestbuffers request{2, V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_MEMORY_MMAP, 0, 0, {}};
    ASSERT_EQ(Call(fd, VIDIOC_REQBUFS, request), 0);
    camera.SetBusy(true);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(Call(fd, VIDIOC_STREAMON, type), EBUSY);
    camera.SetBusy(false);

    // The buffers belong to the first descriptor: another one may look but not take part.
    const int second = OpenNode(camera.VideoNode());
    v4l2_capability cap{};
    EXPECT_EQ(Call(second, VIDIOC_QUERYCAP, cap), 0);
    EXPECT_EQ(Call(second, VIDIOC_REQBUFS, request), EBUSY);
    SetFormat(second, V4L2_PIX_FMT_YUYV, 640, 480, EBUSY);
    EXPECT_EQ(Call(second, VIDIOC_STREAMON, type), EBUSY);
    EXPECT_EQ(Call(fd, VIDIOC_STREAMON, type), 0);

    // Closing the owner while it streams frees the device for the next user.
    CloseNode(fd);
    request.count = 2;
    EXPECT_EQ(Call(second, VIDIOC_REQBUFS, request), 0);
    request.count = 0;
    EXPECT_EQ(Call(second, VIDIOC_REQBUFS, request), 0);
}

// Intervals in 100 ns units, stated as uvcvideo simplifies them; S_PARM takes the nearest one.
TEST_F(SimulatedCameraTest, ExactIntervalsAreStatedAsUvcvideoDoes) {
    SimulatedCameraDefinition definition =
        SimulatedCameraDefinition::UsbCamera("Scope", "0c45", "1", "S", "3");
    definition.formats = {{V4L2_PIX_FMT_MJPEG, "Motion-JPEG", {{1280, 720, {}, {333333, 333667, 666667}}}}};
    SimulatedCamera& scope = sim.AddCamera(definition);
    const int fd = OpenNode(scope.VideoNode());
    const std::vector<std::pair<uint32_t, uint32_t>> stated = {{1, 30}, {100, 2997}, {1, 15}};
    for (uint32_t i = 0; i < stated.size(); ++i) {
        v4l2_frmivalenum interval{};
        interval.index = i;
        interval.pixel_format = V4L2_PIX_FMT_MJPEG;
        interval.width = 1280;
        interval.height = 720;
        ASSERT_EQ(Call(fd, VIDIOC_ENUM_FRAMEINTERVALS, interval), 0);
        EXPECT_EQ(interval.discrete.numerator, stated[i].first) << i;
        EXPECT_EQ(interval.discrete.denominator, stated[i].second) << i;
    }
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = {1001, 30000};
    ASSERT_EQ(Call(fd, VIDIOC_S_PARM, parm), 0);
    EXPECT_EQ(parm.parm.capture.timeperframe.numerator, 100u);
    EXPECT_EQ(parm.parm.capture.timeperframe.denominator, 2997u);
}

TEST_F(SimulatedCameraTest, PermissionBandwidthAndSilentStreamQuirks) {
    for (int error : {EACCES, EPERM, EBUSY}) {
        camera.SetOpenError(error);
        EXPECT_EQ(device.Open(camera.VideoNode(), O_RDWR), -1);
        EXPECT_EQ(errno, error);
    }
    camera.SetOpenError(0);
    const int fd = OpenNode(camera.VideoNode());

    // YUYV 1280 x 720 at 30 fps needs 55 MB/s; 24 MB/s are left on the bus.
    camera.SetUsbBandwidth(24000000);
    SetFormat(fd, V4L2_PIX_FMT_YUYV, 1280, 720);
    v4l2_requestbuffers request{2, V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_MEMORY_MMAP, 0, 0, {}};
    ASSERT_EQ(Call(fd, VIDIOC_REQBUFS, request), 0);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(Call(fd, VIDIOC_STREAMON, type), ENOSPC);
    request.count = 0;
    ASSERT_EQ(Call(fd, VIDIOC_REQBUFS, request), 0);
    SetFormat(fd, V4L2_PIX_FMT_MJPEG, 1280, 720);
    StartStreaming(fd);
    Requeue(fd, NextFrame(fd));

    // Silent until STREAMOFF and STREAMON, without any error on the way.
    camera.StopDelivering(StallKind::UntilRestart);
    const uint64_t before = camera.FramesDelivered();
    pollfd wait{fd, POLLIN, 0};
    EXPECT_EQ(device.Poll(&wait, 1, 300), 0);
    EXPECT_EQ(camera.FramesDelivered(), before);
    ASSERT_EQ(Call(fd, VIDIOC_STREAMOFF, type), 0);
    for (uint32_t i = 0; i < 4; ++i) {
        v4l2_buffer buffer = Buffer(i);
        ASSERT_EQ(Call(fd, VIDIOC_QBUF, buffer), 0);
    }
    ASSERT_EQ(Call(fd, VIDIOC_STREAMON, type), 0);
    Requeue(fd, NextFrame(fd));
}

TEST(DeviceSeamTest, InstalledSeamIsCurrentUntilRemoved) {
    SimulatedDeviceFile sim;
    EXPECT_EQ(&CurrentDeviceFile(), &RealDeviceFile());
    SetDeviceFile(&sim);
    EXPECT_EQ(&CurrentDeviceFile(), &sim);
    SetDeviceFile(nullptr);
    EXPECT_EQ(&CurrentDeviceFile(), &RealDeviceFile());
}

TEST(DeviceSeamTest, RealSeamPassesTheKernelsAnswers) {
    IDeviceFile& real = RealDeviceFile();
    EXPECT_EQ(real.Open("/nonexistent/video0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    v4l2_capability cap{};
    EXPECT_EQ(real.Ioctl(pipeFds[0], VIDIOC_QUERYCAP, &cap), -1);
    EXPECT_EQ(errno, ENOTTY);
    pollfd wait{pipeFds[0], POLLIN, 0};
    EXPECT_EQ(real.Poll(&wait, 1, 10), 0);
    ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
    EXPECT_EQ(real.Poll(&wait, 1, 1000), 1);
    char byte = 0;
    EXPECT_EQ(real.Read(pipeFds[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'x');
    EXPECT_EQ(real.Close(pipeFds[0]), 0);
    EXPECT_EQ(real.Close(pipeFds[1]), 0);

    // No camera here; the lists may be empty but must hold only nodes.
    for (const DeviceNode& node : real.ListNodes("video4linux")) EXPECT_FALSE(node.node.empty());
    const int monitor = real.OpenMonitor();
    if (monitor >= 0) {
        DeviceEvent event;
        while (real.ReadEvent(monitor, event)) EXPECT_FALSE(event.node.empty());
        real.CloseMonitor(monitor);
    }
}

}  // namespace
}  // namespace orvane
