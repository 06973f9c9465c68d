// What image_source's relay makes of a camera's frame: the sensor_msgs
// encodings and compressed formats it takes, turned into samples the viewer
// draws right (blue first, 8-bit grey for depth). No ROS here, so that the
// fuzzer drives it directly.
#pragma once

#include <opencv2/core.hpp>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace webcam {

struct RelayOptions {
    bool keepOrder = false;      // red-first frames stay red-first
    double min = std::nan("");   // fixed bounds for depth frames; NaN: the frame's own
    double max = std::nan("");
};

// A relayed frame: samples and their image_msgs encoding ("bgr", "mono", ...),
// or, when frame is empty, why it was dropped.
struct Relayed {
    cv::Mat frame;
    std::string encoding;
    std::string why;
};

// The sensor_msgs encodings RelayRaw takes.
std::vector<std::string> RelayedEncodings();

// A sensor_msgs/Image's samples (rows of step bytes).
Relayed RelayRaw(const std::string &encoding, uint32_t height, uint32_t width, uint32_t step, bool bigEndian,
                 const uint8_t *data, size_t size, const RelayOptions &options);

// A sensor_msgs/CompressedImage's bytes, by its format ("jpeg", "png",
// "bgr8; jpeg compressed bgr8", "16UC1; compressedDepth png", ...).
Relayed RelayCompressed(const std::string &format, const uint8_t *data, size_t size, const RelayOptions &options);

}  // namespace webcam
