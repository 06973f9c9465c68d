#include "relay/relay.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sensor_msgs/image_encodings.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace webcam {

namespace {

// sensor_msgs encodings the relay understands: name, ours, depth, channels,
// and how it is made displayable: as it comes (kAsIs), scaled to 8 bits
// (kScaled: depth and other one-channel 16-bit or float frames), or by an
// OpenCV colour conversion (Bayer mosaics, UYVY).
constexpr int kAsIs = -1, kScaled = -2;
struct Encoding {
    std::string name;
    const char *encoding;
    int depth, channels, conversion;
};

// A row from the encoding's name: its depth and channels as sensor_msgs
// defines them (of the encodings below, only 32FC1 has 32 bits, a float).
Encoding Row(const std::string &name, const char *ours, int conversion)
{
    namespace enc = sensor_msgs::image_encodings;
    const int bits = enc::bitDepth(name);
    return {name, ours, bits == 8 ? CV_8U : bits == 16 ? CV_16U : CV_32F, enc::numChannels(name), conversion};
}

// Made once, on first use.
const std::vector<Encoding> &Encodings()
{
    namespace enc = sensor_msgs::image_encodings;
    static const std::vector<Encoding> table = {
        Row(enc::BGR8, "bgr", kAsIs),    Row(enc::RGB8, "rgb", kAsIs),     Row(enc::BGRA8, "bgra", kAsIs),
        Row(enc::RGBA8, "rgba", kAsIs),  Row(enc::MONO8, "mono", kAsIs),   Row(enc::BGR16, "bgr", kAsIs),
        Row(enc::RGB16, "rgb", kAsIs),   Row(enc::BGRA16, "bgra", kAsIs),  Row(enc::RGBA16, "rgba", kAsIs),
        Row(enc::MONO16, "mono", kAsIs), Row(enc::TYPE_8UC3, "bgr", kAsIs), Row(enc::TYPE_8UC1, "mono", kAsIs),
        Row(enc::TYPE_16UC1, "mono", kScaled), Row(enc::TYPE_32FC1, "mono", kScaled),
        Row(enc::YUV422, "bgr", cv::COLOR_YUV2BGR_UYVY),
        // OpenCV names a mosaic by the second row's second and third samples.
        Row(enc::BAYER_RGGB8, "bgr", cv::COLOR_BayerBG2BGR),  Row(enc::BAYER_BGGR8, "bgr", cv::COLOR_BayerRG2BGR),
        Row(enc::BAYER_GBRG8, "bgr", cv::COLOR_BayerGR2BGR),  Row(enc::BAYER_GRBG8, "bgr", cv::COLOR_BayerGB2BGR),
        Row(enc::BAYER_RGGB16, "bgr", cv::COLOR_BayerBG2BGR), Row(enc::BAYER_BGGR16, "bgr", cv::COLOR_BayerRG2BGR),
        Row(enc::BAYER_GBRG16, "bgr", cv::COLOR_BayerGR2BGR), Row(enc::BAYER_GRBG16, "bgr", cv::COLOR_BayerGB2BGR),
    };
    return table;
}

// A one-channel frame scaled to 8 bits from lo to hi into out; where a
// bound is NaN, the frame's own minimum or maximum is taken. 0 and NaN mark
// missing samples (as depth cameras do): they are left out and drawn black.
void Scaled(const cv::Mat &in, double lo, double hi, cv::Mat &out)
{
    cv::Mat f;
    in.convertTo(f, CV_32F);
    const cv::Mat valid = (f == f) & (f != 0);  // NaN is not equal to itself
    double mn = 0, mx = 0;
    cv::minMaxLoc(f, &mn, &mx, nullptr, nullptr, valid);
    if (!std::isnan(lo))
        mn = lo;
    if (!std::isnan(hi))
        mx = hi;
    const double scale = mx > mn ? 255.0 / (mx - mn) : 0.0;
    f.convertTo(out, CV_8U, scale, mx > mn ? -mn * scale : 128.0);
    out.setTo(0, ~valid);
}

// What a PNG's or a baseline/progressive JPEG's header says, so that a frame
// is refused before a decoder allocates what it claims.
struct CompressedHeader {
    bool jpeg = false;
    uint64_t width = 0, height = 0;
    int components = 0;  // JPEG only
};

bool ReadHeader(const uint8_t *p, size_t n, CompressedHeader &h)
{
    static const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    auto be = [p](size_t at, int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; i++)
            v = v << 8 | p[at + i];
        return v;
    };
    if (n >= 24 && std::equal(png, png + 8, p)) {  // the IHDR chunk comes first
        h.width = be(16, 4), h.height = be(20, 4);
        return true;
    }
    if (n < 4 || p[0] != 0xff || p[1] != 0xd8)
        return false;
    h.jpeg = true;
    for (size_t at = 2; at + 10 <= n && p[at] == 0xff;) {
        const uint8_t marker = p[at + 1];
        if (marker == 0xff) {  // fill byte
            at++;
            continue;
        }
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc) {
            h.height = be(at + 5, 2), h.width = be(at + 7, 2);  // start of frame
            h.components = p[at + 9];
            return true;
        }
        at += 2 + be(at + 2, 2);
    }
    return false;
}

// The largest decoded frame the relay accepts (an 8K frame is 33 M pixels).
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;

const Encoding *Find(const std::string &name)
{
    for (const Encoding &e : Encodings())
        if (name == e.name)
            return &e;
    return nullptr;
}

Relayed Dropped(std::string why)
{
    return {cv::Mat(), "", std::move(why)};
}

// Made displayable into the sink, written once: scaled, converted, put
// blue first (the viewer draws samples in the order they come and its
// window wants blue first, so red-first frames are reordered unless asked
// to keep their order), or copied as they are.
Relayed Displayable(const cv::Mat &frame, const Encoding &e, const RelayOptions &options, const FrameSink &sink)
{
    std::string encoding = e.encoding;
    int code = e.conversion;
    if (code == kAsIs && !options.keepOrder && encoding == "rgb")
        code = cv::COLOR_RGB2BGR, encoding = "bgr";
    else if (code == kAsIs && !options.keepOrder && encoding == "rgba")
        code = cv::COLOR_RGBA2BGRA, encoding = "bgra";
    try {
        if (code == kScaled) {
            cv::Mat out = sink(frame.rows, frame.cols, CV_8UC1);
            Scaled(frame, options.min, options.max, out);
            return {out, encoding, ""};
        }
        const int channels = code == kAsIs || code == cv::COLOR_RGBA2BGRA ? frame.channels() : 3;
        cv::Mat out = sink(frame.rows, frame.cols, CV_MAKETYPE(frame.depth(), channels));
        if (code == kAsIs)
            frame.copyTo(out);
        else
            cv::cvtColor(frame, out, code);
        return {out, encoding, ""};
    } catch (const cv::Exception &err) {
        return Dropped(std::string("a ") + e.name + " frame OpenCV cannot convert: " + err.what());
    }
}

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the decoding's start. Its warnings are a stream
// it can only decode in part (data cut short, or corrupt): such a frame
// would be shown half grey, so they end the decoding too, all but the one
// that many MJPEG webcams raise on every frame (extraneous bytes before a
// marker), which loses nothing. Nothing is printed: the relay says what it
// drops.
struct JpegErrors {
    jpeg_error_mgr mgr;
    jmp_buf back;
    char why[JMSG_LENGTH_MAX];
};

void JpegFail(j_common_ptr info)
{
    auto *errors = reinterpret_cast<JpegErrors *>(info->err);
    errors->mgr.format_message(info, errors->why);
    longjmp(errors->back, 1);
}

void JpegMessage(j_common_ptr info, int level)
{
    if (level < 0 && info->err->msg_code != JWRN_EXTRANEOUS_DATA)
        JpegFail(info);
}

// Decodes a JPEG of one or three components at 1/scale straight into the
// sink's rows (libjpeg gives ceil(width / scale) x ceil(height / scale)
// pixels, grey or blue first). Only plain data lives here: the error path
// jumps over this function's frames. Returns the sink's buffer, or an empty
// Mat with why (JMSG_LENGTH_MAX bytes) saying what failed.
cv::Mat JpegInto(const uint8_t *data, size_t size, int scale, const FrameSink &sink, char *why)
{
    jpeg_decompress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = JpegFail;
    errors.mgr.emit_message = JpegMessage;
    std::strcpy(errors.why, "its size is more than the relay takes");
    jpeg_create_decompress(&info);
    cv::Mat *out = new cv::Mat;  // on the heap: a longjmp skips destructors
    if (setjmp(errors.back)) {
        jpeg_destroy_decompress(&info);
        delete out;
        std::memcpy(why, errors.why, JMSG_LENGTH_MAX);
        return cv::Mat();
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (uint64_t(info.image_width) * info.image_height > kMaxPixels)  // as the header said, or it lied
        longjmp(errors.back, 1);
    const bool grey = info.num_components == 1;
    info.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    info.scale_num = 1;
    info.scale_denom = unsigned(scale);
    jpeg_start_decompress(&info);
    try {
        *out = sink(int(info.output_height), int(info.output_width), grey ? CV_8UC1 : CV_8UC3);
    } catch (const std::bad_alloc &) {
        std::strcpy(errors.why, "no memory for its samples");
        longjmp(errors.back, 1);
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->ptr<uint8_t>(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    cv::Mat result = *out;
    delete out;
    return result;
}

// A JPEG at the scale chosen for it. libjpeg decodes it directly (twice as
// fast as through imdecode here); other component counts (CMYK) go through
// OpenCV, in full.
Relayed DecodeJpeg(const std::string &format, const uint8_t *data, size_t size, const CompressedHeader &h,
                   const RelayOptions &options, const FrameSink &sink)
{
    if (h.components == 1 || h.components == 3) {
        char why[JMSG_LENGTH_MAX];
        const cv::Mat out = JpegInto(data, size, JpegScale(h.width, h.height, options), sink, why);
        if (out.empty())
            return Dropped("a '" + format + "' frame that does not decode: " + why);
        return {out, out.channels() == 1 ? "mono" : "bgr", ""};
    }
    cv::Mat frame;
    try {
        frame = cv::imdecode(cv::Mat(1, int(size), CV_8U, const_cast<uint8_t *>(data)),
                             cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    } catch (const cv::Exception &) {
    }
    if (frame.empty())
        return Dropped("cannot decode a '" + format + "' frame");
    return Displayable(frame, *Find("bgr8"), options, sink);
}

}  // namespace

std::vector<std::string> RelayedEncodings()
{
    std::vector<std::string> names;
    for (const Encoding &e : Encodings())
        names.push_back(e.name);
    return names;
}

int JpegScale(uint64_t width, uint64_t height, const RelayOptions &options)
{
    if (!options.fullJpeg)
        for (uint64_t scale : {8, 4, 2})
            if ((width + scale - 1) / scale >= uint64_t(std::max(options.fillWidth, 0)) &&
                (height + scale - 1) / scale >= uint64_t(std::max(options.fillHeight, 0)))
                return int(scale);
    return 1;
}

namespace {

Relayed Raw(const std::string &encoding, uint32_t height, uint32_t width, uint32_t step, bool bigEndian,
            const uint8_t *data, size_t size, const RelayOptions &options, const FrameSink &sink)
{
    const Encoding *e = Find(encoding);
    if (!e)
        return Dropped("a frame of encoding '" + encoding + "', which the relay does not take");
    if (height == 0 || width == 0 || height > INT_MAX || width > INT_MAX / 4)
        return Dropped("a " + encoding + " frame of " + std::to_string(width) + "x" + std::to_string(height) +
                       " pixels");
    // Mosaics and UYVY come in pixel pairs.
    if ((e->conversion != kAsIs && e->conversion != kScaled) && (width % 2 || (e->channels == 1 && height % 2)))
        return Dropped("a " + encoding + " frame of odd size " + std::to_string(width) + "x" +
                       std::to_string(height));
    const uint64_t rowBytes = uint64_t(width) * e->channels * CV_ELEM_SIZE1(e->depth);
    if (step < rowBytes || size < uint64_t(step) * height)
        return Dropped("a " + encoding + " frame whose data is shorter than its size");
    if (step % CV_ELEM_SIZE1(e->depth))  // rows would start inside a sample
        return Dropped("a " + encoding + " frame whose step " + std::to_string(step) +
                       " is not a whole number of samples");
    // Read only: the message may be shared with other subscribers.
    cv::Mat frame(int(height), int(width), CV_MAKETYPE(e->depth, e->channels), const_cast<uint8_t *>(data), step);
    if (e->depth == CV_16U && bigEndian) {
        frame = frame.clone();
        for (int y = 0; y < frame.rows; y++) {
            auto *p = frame.ptr<uint16_t>(y);
            for (int i = 0; i < frame.cols * e->channels; i++)
                p[i] = uint16_t(p[i] << 8 | p[i] >> 8);
        }
    }
    return Displayable(frame, *e, options, sink);
}

Relayed Compressed(const std::string &format, const uint8_t *data, size_t size, const RelayOptions &options,
                   const FrameSink &sink)
{
    const std::string original = format.substr(0, format.find_first_of("; "));
    const bool depth = format.find("compressedDepth") != std::string::npos;
    float a = 0, b = 0;
    if (depth) {
        if (size < 12)
            return Dropped("a compressedDepth frame shorter than its header");
        std::memcpy(&a, data + 4, 4);
        std::memcpy(&b, data + 8, 4);
        data += 12, size -= 12;
    }
    CompressedHeader h;
    if (!ReadHeader(data, size, h))
        return Dropped("a '" + format + "' frame: no JPEG or PNG header with its size");
    if (h.width * h.height > kMaxPixels)
        return Dropped("a '" + format + "' frame of " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                       " pixels (at most " + std::to_string(kMaxPixels) + ")");
    if (size > INT_MAX)
        return Dropped("a '" + format + "' frame of more than 2 GB");
    if (h.jpeg && !depth)
        return DecodeJpeg(format, data, size, h, options, sink);
    // PNG: OpenCV's reduced modes would decode in full and then resize.
    cv::Mat frame;
    try {
        frame = cv::imdecode(cv::Mat(1, int(size), CV_8U, const_cast<uint8_t *>(data)), cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception &) {
    }
    if (frame.empty())
        return Dropped("cannot decode a '" + format + "' frame");
    const char *name = nullptr;  // what the decoded samples are
    if (depth && original == "32FC1" && frame.type() == CV_16UC1) {
        cv::Mat metres(frame.size(), CV_32F);
        for (int y = 0; y < frame.rows; y++)
            for (int x = 0; x < frame.cols; x++) {
                const uint16_t q = frame.at<uint16_t>(y, x);
                metres.at<float>(y, x) = q ? a / (float(q) - b) : std::nanf("");
            }
        frame = metres, name = "32FC1";
    } else if (frame.depth() == CV_16U && frame.channels() == 1) {
        name = original == "16UC1" ? "16UC1" : "mono16";
    } else {
        static const char *const kDecoded[2][5] = {{nullptr, "mono8", nullptr, "bgr8", "bgra8"},
                                                   {nullptr, "mono16", nullptr, "bgr16", "bgra16"}};
        if ((frame.depth() == CV_8U || frame.depth() == CV_16U) && frame.channels() <= 4)
            name = kDecoded[frame.depth() == CV_16U][frame.channels()];
    }
    if (!name)
        return Dropped("a '" + format + "' frame decodes to samples it cannot show");
    return Displayable(frame, *Find(name), options, sink);
}

// A frame whose buffers cannot be had is dropped; the process goes on.
template <typename Relay> Relayed Guarded(Relay relay)
{
    try {
        return relay();
    } catch (const std::bad_alloc &) {
        return Dropped("a frame this host has no memory for");
    }
}

}  // namespace

Relayed RelayRaw(const std::string &encoding, uint32_t height, uint32_t width, uint32_t step, bool bigEndian,
                 const uint8_t *data, size_t size, const RelayOptions &options, const FrameSink &sink)
{
    return Guarded([&] { return Raw(encoding, height, width, step, bigEndian, data, size, options, sink); });
}

Relayed RelayCompressed(const std::string &format, const uint8_t *data, size_t size, const RelayOptions &options,
                        const FrameSink &sink)
{
    return Guarded([&] { return Compressed(format, data, size, options, sink); });
}

}  // namespace webcam
