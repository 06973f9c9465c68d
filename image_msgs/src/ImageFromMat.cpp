#include <image_msgs/CvBridge.h>

#include <stdexcept>

namespace image_msgs {

namespace {

template <class MultiArray> void Fill(MultiArray &array, const cv::Mat &frame)
{
    using Elem = typename decltype(array.data)::value_type;
    const uint32_t rows = frame.rows, cols = frame.cols, channels = frame.channels();
    const char *labels[] = {"height", "width", "channel"};
    const uint32_t sizes[] = {rows, cols, channels};
    const uint32_t strides[] = {rows * cols * channels, cols * channels, channels};
    array.layout.dim.resize(3);
    for (int i = 0; i < 3; i++) {
        array.layout.dim[i].label = labels[i];
        array.layout.dim[i].size = sizes[i];
        array.layout.dim[i].stride = strides[i];
    }
    array.layout.data_offset = 0;
    array.data.resize(size_t(rows) * cols * channels);
    for (uint32_t r = 0; r < rows; r++) {
        const Elem *src = frame.ptr<Elem>(int(r));
        std::copy(src, src + size_t(cols) * channels, array.data.begin() + size_t(r) * cols * channels);
    }
}

}  // namespace

Image ToImage(const cv::Mat &frame, const std::string &encoding)
{
    Image img;
    img.encoding = encoding;
    if (frame.depth() == CV_8U) {
        img.depth = "uint8";
        Fill(img.uint8_data, frame);
    } else if (frame.depth() == CV_16U) {
        img.depth = "uint16";
        Fill(img.uint16_data, frame);
    } else {
        throw std::invalid_argument("ToImage: only 8- and 16-bit unsigned frames");
    }
    return img;
}

}  // namespace image_msgs
