#include <image_msgs/CvBridge.h>

#include <climits>
#include <cstdint>

namespace image_msgs {

namespace {

template <class T> struct CvDepthOf;
template <> struct CvDepthOf<uint8_t> { static constexpr int value = CV_8U; };
template <> struct CvDepthOf<uint16_t> { static constexpr int value = CV_16U; };

}  // namespace

// Every number here comes from the publisher: check that the last sample of
// the last row lies inside data before any pointer is formed.
template <class MultiArray> cv::Mat ArrayView(const MultiArray &array)
{
    using Elem = typename decltype(array.data)::value_type;
    const auto &dim = array.layout.dim;
    if (dim.size() != 3)
        return cv::Mat();
    const uint64_t rows = dim[0].size, cols = dim[1].size, channels = dim[2].size;
    const uint64_t rowStride = dim[1].stride;  // elements
    const uint64_t offset = array.layout.data_offset;
    if (rows == 0 || cols == 0 || channels == 0 || rows > INT_MAX || cols > INT_MAX ||
        channels > CV_CN_MAX)
        return cv::Mat();
    const uint64_t rowLen = cols * channels;  // < 2^40
    if (rowStride < rowLen)
        return cv::Mat();
    const uint64_t end = offset + (rows - 1) * rowStride + rowLen;  // < 2^64
    if (end > array.data.size())
        return cv::Mat();
    // cv::Mat has no read-only view: whether it may be written is the caller's.
    Elem *first = const_cast<Elem *>(array.data.data()) + offset;
    return cv::Mat(int(rows), int(cols), CV_MAKETYPE(CvDepthOf<Elem>::value, int(channels)), first,
                   size_t(rowStride * sizeof(Elem)));
}

template cv::Mat ArrayView(const std_msgs::UInt8MultiArray &);
template cv::Mat ArrayView(const std_msgs::UInt16MultiArray &);

bool CvBridge::fromImage(Image &img, const std::string &encoding)
{
    return fromImage(static_cast<const Image &>(img), encoding);
}

bool CvBridge::fromImage(const Image &img, const std::string &encoding)
{
    // A failed conversion must not leave a view of an earlier message behind.
    view_ = cv::Mat();
    if (!encoding.empty() && encoding != img.encoding)
        return false;
    if (img.depth == "uint8")
        view_ = ArrayView(img.uint8_data);
    else if (img.depth == "uint16")
        view_ = ArrayView(img.uint16_data);
    return !view_.empty();
}

}  // namespace image_msgs
