// Camera frames as image_source's relay gets them, from arbitrary bytes: raw
// frames of every encoding with any size and step, and compressed frames of
// every format. Each is either dropped with a reason, or relayed at its own
// size with an encoding and depth the viewer draws.
#include <image_msgs/CvBridge.h>
#include <webcam/relay.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

const char *const kEncodings[] = {"bgr8",        "rgb8",        "bgra8",        "rgba8",        "mono8",
                                  "bgr16",       "rgb16",       "bgra16",       "rgba16",       "mono16",
                                  "8UC3",        "8UC1",        "16UC1",        "32FC1",        "yuv422",
                                  "bayer_rggb8", "bayer_bggr8", "bayer_gbrg8",  "bayer_grbg8",  "bayer_rggb16",
                                  "bayer_bggr16", "bayer_gbrg16", "bayer_grbg16", "64FC1"};
const char *const kFormats[] = {"jpeg", "png", "bgr8; jpeg compressed bgr8", "rgb8; jpeg compressed bgr8",
                                "mono16; png compressed", "16UC1; compressedDepth png", "32FC1; compressedDepth png",
                                "16UC1; compressedDepth", "16UC1; compressedDepth rvl", ""};

uint32_t Number(FuzzedDataProvider &in)
{
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 70) : in.ConsumeIntegral<uint32_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    webcam::RelayOptions options;
    options.keepOrder = in.ConsumeBool();
    if (in.ConsumeBool()) {
        options.min = in.ConsumeIntegralInRange(-70000, 70000);
        options.max = in.ConsumeIntegralInRange(-70000, 70000);
    }
    const bool compressed = in.ConsumeBool();
    const std::string name = compressed ? in.PickValueInArray(kFormats) : in.PickValueInArray(kEncodings);
    const uint32_t height = compressed ? 0 : Number(in), width = compressed ? 0 : Number(in);
    const uint32_t step = compressed ? 0 : Number(in);
    const bool bigEndian = in.ConsumeBool();
    // Exactly the message's bytes, as roscpp hands them over: ASan guards the end.
    const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[rest.size()]);
    std::copy(rest.begin(), rest.end(), bytes.get());
    const webcam::Relayed out =
        compressed ? webcam::RelayCompressed(name, bytes.get(), rest.size(), options)
                   : webcam::RelayRaw(name, height, width, step, bigEndian, bytes.get(), rest.size(), options);
    if (out.frame.empty()) {
        if (out.why.empty())
            abort();
        return 0;
    }
    if (!compressed && (uint32_t(out.frame.rows) != height || uint32_t(out.frame.cols) != width))
        abort();
    const std::string &e = out.encoding;
    if ((e != "bgr" && e != "rgb" && e != "bgra" && e != "rgba" && e != "mono") ||
        (out.frame.depth() != CV_8U && out.frame.depth() != CV_16U))
        abort();
    image_msgs::ToImage(out.frame, e);  // what the relay publishes
    return 0;
}
