// Arbitrary field values of an image_msgs/Image (layouts, sizes, strides,
// offsets, depths) through the bridge; every view it hands out is read end
// to end, made displayable and equalized, and the fast equalization must
// equal the reference on it.
#include <image_msgs/CvBridge.h>
#include "viewer/display.h"
#include "viewer/equalize.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

namespace {

volatile unsigned gViewSum;  // a volatile store the optimizer must keep

uint32_t Number(FuzzedDataProvider &in)
{
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 70) : in.ConsumeIntegral<uint32_t>();
}

template <class MultiArray> void Fill(FuzzedDataProvider &in, MultiArray &array)
{
    const int dims = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < dims; i++) {
        std_msgs::MultiArrayDimension d;
        d.size = Number(in);
        d.stride = Number(in);
        array.layout.dim.push_back(d);
    }
    array.layout.data_offset = in.ConsumeBool() ? 0 : Number(in);
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, 1 << 14);
    using Elem = typename decltype(array.data)::value_type;
    std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(n * sizeof(Elem));
    bytes.resize(n * sizeof(Elem));
    array.data.resize(n);
    if (n > 0)
        memcpy(array.data.data(), bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static const char *const kDepths[] = {"uint8", "uint16", "float32", ""};
    image_msgs::Image img;
    img.depth = kDepths[in.ConsumeIntegralInRange(0, 3)];
    img.encoding = in.ConsumeBool() ? "bgr" : in.ConsumeRandomLengthString(8);
    if (in.ConsumeBool())
        Fill(in, img.uint8_data);
    else
        Fill(in, img.uint16_data);
    const std::string target = in.ConsumeBool() ? "" : in.ConsumeBool() ? img.encoding : "rgb";

    image_msgs::CvBridge bridge;
    if (!bridge.fromImage(img, target)) {
        if (!bridge.toIpl().empty())
            abort();  // a refused conversion holds no view
        return 0;
    }
    cv::Mat view = bridge.toIpl();
    // Every byte of the view is read (ASan checks each); the sum goes where
    // the optimizer must keep it.
    unsigned sum = 0;
    for (int r = 0; r < view.rows; r++)
        for (size_t i = 0; i < size_t(view.cols) * view.elemSize(); i++)
            sum += view.ptr<uint8_t>(r)[i];
    gViewSum = sum;
    webcam::DisplayScratch scratch;
    cv::Mat shown = webcam::DisplayFrame(view, scratch);
    if (shown.empty())
        return 0;
    cv::Mat reference = shown.clone();
    webcam::EqualizeClipped(shown);
    webcam::EqualizeClippedReference(reference);
    if (cv::norm(shown, reference, cv::NORM_INF) != 0)
        abort();
    return 0;
}
