// Camera frames as image_source's relay gets them, from arbitrary bytes: raw
// frames of every encoding with any size and step, and compressed frames of
// every format. Each is either dropped with a reason, or relayed into the
// message that carries it, at its own size (a JPEG at its decoding scale)
// with an encoding and depth the viewer draws. The received bytes are never
// written: other subscribers in the process share them.
#include <image_msgs/CvBridge.h>
#include "relay/relay.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

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
    options.fullJpeg = in.ConsumeBool();
    if (in.ConsumeBool()) {
        options.min = in.ConsumeIntegralInRange(-70000, 70000);
        options.max = in.ConsumeIntegralInRange(-70000, 70000);
    }
    const bool compressed = in.ConsumeBool();
    // Every encoding the relay takes, and one it does not.
    static const std::vector<std::string> encodings = [] {
        std::vector<std::string> names = webcam::RelayedEncodings();
        names.push_back("64FC1");
        return names;
    }();
    const std::string name = compressed ? in.PickValueInArray(kFormats)
                                        : encodings[in.ConsumeIntegralInRange<size_t>(0, encodings.size() - 1)];
    const uint32_t height = compressed ? 0 : Number(in), width = compressed ? 0 : Number(in);
    const uint32_t step = compressed ? 0 : Number(in);
    const bool bigEndian = in.ConsumeBool();
    // Exactly the message's bytes, as roscpp hands them over: ASan guards the end.
    const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[rest.size()]);
    std::copy(rest.begin(), rest.end(), bytes.get());
    image_msgs::Image msg;
    int sinks = 0;
    const webcam::FrameSink sink = [&](int rows, int cols, int type) {
        sinks++;
        return image_msgs::ImageFrame(msg, rows, cols, type);
    };
    const webcam::Relayed out =
        compressed ? webcam::RelayCompressed(name, bytes.get(), rest.size(), options, sink)
                   : webcam::RelayRaw(name, height, width, step, bigEndian, bytes.get(), rest.size(), options, sink);
    if (!std::equal(rest.begin(), rest.end(), bytes.get()) || sinks > 1)
        abort();
    if (out.frame.empty()) {
        if (out.why.empty())
            abort();
        return 0;
    }
    // The samples are in the message, which the viewer's bridge reads back.
    image_msgs::CvBridge bridge;
    if (!bridge.fromImage(msg, "") || bridge.toIpl().data != out.frame.data || bridge.toIpl().size() != out.frame.size())
        abort();
    if (!compressed && (uint32_t(out.frame.rows) != height || uint32_t(out.frame.cols) != width))
        abort();
    const std::string &e = out.encoding;
    if ((e != "bgr" && e != "rgb" && e != "bgra" && e != "rgba" && e != "mono") ||
        (out.frame.depth() != CV_8U && out.frame.depth() != CV_16U))
        abort();
    return 0;
}
