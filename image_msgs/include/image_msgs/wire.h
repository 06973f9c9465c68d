// Bounded readers for the field types of image_msgs/Image. roscpp's own
// vector reader resizes to the claimed count before it looks at the stream
// and computes the byte count in 32 bits, so a few bytes claiming 2^29
// doubles make it allocate and zero 4 GiB. These check every claimed count
// against the bytes that remain, in 64 bits, before anything is allocated,
// and copy straight from the stream with no zero fill in between.
#pragma once

#include <ros/serialization.h>
#include <std_msgs/Header.h>
#include <std_msgs/MultiArrayLayout.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

namespace image_msgs {
namespace wire {

using ros::serialization::IStream;

// Throws, as roscpp does for a truncated message, unless bytes remain.
inline void Need(IStream &stream, uint64_t bytes)
{
    if (bytes > stream.getLength())
        throw ros::serialization::StreamOverrunException(
            "image_msgs/Image: a count claims " + std::to_string(bytes) + " bytes where " +
            std::to_string(stream.getLength()) + " remain");
}

template <class T> inline void ReadPlain(IStream &stream, T &v)
{
    Need(stream, sizeof v);
    std::memcpy(&v, stream.advance(sizeof v), sizeof v);
}

inline void Read(IStream &stream, uint32_t &v) { ReadPlain(stream, v); }

inline void Read(IStream &stream, std::string &s)
{
    uint32_t n;
    ReadPlain(stream, n);
    Need(stream, n);
    s.assign(reinterpret_cast<const char *>(stream.advance(n)), n);
}

// Walks little-endian samples that may sit at any alignment in the stream,
// so that vector::assign allocates once and copies without zeroing first.
template <class T> class Samples {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T *;
    using reference = T;

    explicit Samples(const uint8_t *p) : p_(p) {}
    T operator*() const
    {
        T v;
        std::memcpy(&v, p_, sizeof v);
        return v;
    }
    Samples &operator++() { p_ += sizeof(T); return *this; }
    Samples &operator--() { p_ -= sizeof(T); return *this; }
    Samples &operator+=(difference_type n) { p_ += n * difference_type(sizeof(T)); return *this; }
    difference_type operator-(const Samples &o) const { return (p_ - o.p_) / difference_type(sizeof(T)); }
    bool operator==(const Samples &o) const { return p_ == o.p_; }
    bool operator!=(const Samples &o) const { return p_ != o.p_; }

private:
    const uint8_t *p_;
};

template <class T> inline void Assign(std::vector<T> &v, const uint8_t *first, uint32_t n)
{
    v.assign(Samples<T>(first), Samples<T>(first + uint64_t(n) * sizeof(T)));
}

inline void Assign(std::vector<uint8_t> &v, const uint8_t *first, uint32_t n)
{
    v.assign(first, first + n);
}

inline void Assign(std::vector<int8_t> &v, const uint8_t *first, uint32_t n)
{
    v.assign(reinterpret_cast<const int8_t *>(first), reinterpret_cast<const int8_t *>(first) + n);
}

template <class T> inline void Read(IStream &stream, std::vector<T> &v)
{
    static_assert(std::is_arithmetic<T>::value, "plain samples only");
    uint32_t n;
    ReadPlain(stream, n);
    const uint64_t bytes = uint64_t(n) * sizeof(T);
    Need(stream, bytes);
    Assign(v, stream.advance(uint32_t(bytes)), n);
}

inline void Read(IStream &stream, std_msgs::Header &h)
{
    Read(stream, h.seq);
    Read(stream, h.stamp.sec);
    Read(stream, h.stamp.nsec);
    Read(stream, h.frame_id);
}

inline void Read(IStream &stream, std_msgs::MultiArrayLayout &layout)
{
    // A dimension takes at least 12 bytes: an empty label, size and stride.
    constexpr uint64_t kLeastDimension = 4 + 4 + 4;
    uint32_t n;
    ReadPlain(stream, n);
    Need(stream, n * kLeastDimension);
    layout.dim.resize(n);
    for (auto &d : layout.dim) {
        Read(stream, d.label);
        Read(stream, d.size);
        Read(stream, d.stride);
    }
    Read(stream, layout.data_offset);
}

// Any of std_msgs' *MultiArray messages.
template <class MultiArray> inline auto Read(IStream &stream, MultiArray &array) -> decltype(array.layout, void())
{
    Read(stream, array.layout);
    Read(stream, array.data);
}

}  // namespace wire
}  // namespace image_msgs
