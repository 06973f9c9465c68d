// What image_source's relay makes of a camera's frame: the sensor_msgs
// encodings and compressed formats it takes, turned into samples the viewer
// draws right (blue first, 8-bit grey for depth). No ROS here, so that the
// fuzzer drives it directly.
#pragma once

#include <opencv2/core.hpp>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace webcam {

struct RelayOptions {
    bool keepOrder = false;      // red-first frames stay red-first
    bool fullJpeg = false;       // decode JPEGs at full size, not at the smallest scale that fills the window
    int fillWidth = 640;         // the window's canvas, which a reduced JPEG still fills
    int fillHeight = 480;
    double min = std::nan("");   // fixed bounds for depth frames; NaN: the frame's own
    double max = std::nan("");
};

// Where a relayed frame's samples go: a buffer of rows x cols of type
// (8- or 16-bit, one to four channels) that the relay then fills whole,
// such as the array of the message that will carry the frame. Asked for at
// most once per frame, and only for a frame that is not dropped.
using FrameSink = std::function<cv::Mat(int rows, int cols, int type)>;

// A relayed frame: the sink's buffer, filled, and its image_msgs encoding
// ("bgr", "mono", ...); or, when frame is empty, why it was dropped. The
// received samples are only read, never written: in a process shared with
// the camera driver other subscribers see the same message.
struct Relayed {
    cv::Mat frame;
    std::string encoding;
    std::string why;
};

// The sensor_msgs encodings RelayRaw takes.
std::vector<std::string> RelayedEncodings();

// A sensor_msgs/Image's samples (rows of step bytes).
Relayed RelayRaw(const std::string &encoding, uint32_t height, uint32_t width, uint32_t step, bool bigEndian,
                 const uint8_t *data, size_t size, const RelayOptions &options, const FrameSink &sink);

// A sensor_msgs/CompressedImage's bytes, by its format ("jpeg", "png",
// "bgr8; jpeg compressed bgr8", "16UC1; compressedDepth png", ...).
// JPEGs are decoded at 1/2, 1/4 or 1/8 of their size (inside libjpeg's
// inverse DCT) where that still fills options' fillWidth x fillHeight.
Relayed RelayCompressed(const std::string &format, const uint8_t *data, size_t size, const RelayOptions &options,
                        const FrameSink &sink);

// The scale (1, 2, 4 or 8) a width x height JPEG is decoded at.
int JpegScale(uint64_t width, uint64_t height, const RelayOptions &options);

}  // namespace webcam
