#include <image_msgs/CvBridge.h>

#include <stdexcept>

namespace image_msgs {

namespace {

// Lays array out for rows x cols x channels samples and returns a view of
// its data. An array that has that many samples already keeps them as they
// are: vector::resize to its own size neither allocates nor writes.
template <class MultiArray> cv::Mat Lay(MultiArray &array, int rows, int cols, int type)
{
    using Elem = typename decltype(array.data)::value_type;
    const uint32_t channels = uint32_t(CV_MAT_CN(type));
    const uint32_t sizes[] = {uint32_t(rows), uint32_t(cols), channels};
    const uint32_t strides[] = {uint32_t(rows) * uint32_t(cols) * channels, uint32_t(cols) * channels, channels};
    static const char *const labels[] = {"height", "width", "channel"};
    array.layout.dim.resize(3);
    for (int i = 0; i < 3; i++) {
        array.layout.dim[i].label = labels[i];
        array.layout.dim[i].size = sizes[i];
        array.layout.dim[i].stride = strides[i];
    }
    array.layout.data_offset = 0;
    array.data.resize(size_t(rows) * size_t(cols) * channels);
    return cv::Mat(rows, cols, type, static_cast<Elem *>(array.data.data()));
}

template <class MultiArray> void Empty(MultiArray &array)
{
    array.layout.dim.clear();
    array.layout.data_offset = 0;
    array.data.clear();  // keeps its storage for the next frame of this depth
}

}  // namespace

cv::Mat ImageFrame(Image &img, int rows, int cols, int type)
{
    if (rows <= 0 || cols <= 0 || (CV_MAT_DEPTH(type) != CV_8U && CV_MAT_DEPTH(type) != CV_16U))
        throw std::invalid_argument("ImageFrame: only 8- and 16-bit unsigned frames of some pixels");
    if (CV_MAT_DEPTH(type) == CV_8U) {
        img.depth = "uint8";
        Empty(img.uint16_data);
        return Lay(img.uint8_data, rows, cols, type);
    }
    img.depth = "uint16";
    Empty(img.uint8_data);
    return Lay(img.uint16_data, rows, cols, type);
}

Image ToImage(const cv::Mat &frame, const std::string &encoding)
{
    Image img;
    img.encoding = encoding;
    if (frame.depth() != CV_8U && frame.depth() != CV_16U)
        throw std::invalid_argument("ToImage: only 8- and 16-bit unsigned frames");
    if (!frame.empty())
        frame.copyTo(ImageFrame(img, frame.rows, frame.cols, frame.type()));
    else
        img.depth = frame.depth() == CV_8U ? "uint8" : "uint16";
    return img;
}

}  // namespace image_msgs
