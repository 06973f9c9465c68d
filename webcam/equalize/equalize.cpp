#include <webcam/equalize_core.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#if defined(__aarch64__)
#include <arm_neon.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace webcam {

namespace {

constexpr int kChannels = 3;
constexpr int kValues = 256;
constexpr double kClipLimit = 0.1;  // share of the pixels, not a count
constexpr double kOutputScale = 255.0;

// Turns the counts in p into the channel's transfer table T, both in
// double precision: normalize, clip and sum; spread the clipped mass once;
// accumulate.
void TransferTable(double (&p)[kValues], double pixels, double (&T)[kValues])
{
    double sum = 0;
    for (int k = 0; k < kValues; k++) {
        p[k] = p[k] / pixels;
        if (p[k] > kClipLimit)
            p[k] = kClipLimit;
        sum = sum + p[k];
    }
    for (int k = 0; k < kValues; k++)
        p[k] = p[k] + (1.0 - sum) / 256.0;
    T[0] = p[0] * kOutputScale;
    for (int k = 1; k < kValues; k++)
        T[k] = T[k - 1] + p[k] * kOutputScale;
}

uint8_t Truncate(double t)
{
    return uint8_t(std::min(255, int(t)));
}

double PixelCount(int rows, int cols)
{
    return double(int64_t(cols) * rows);
}

uint8_t *Row(uint8_t *data, size_t stride, int r)
{
    return data + size_t(r) * stride;
}

using Lut = uint8_t[kChannels][kValues];

// The plain way, for pixels no faster loop takes (small frames, rows' ends).
void CountPixels(const uint8_t *px, int n, uint32_t (&counts)[kChannels][kValues])
{
    for (; n > 0; n--, px += kChannels)
        for (int c = 0; c < kChannels; c++)
            counts[c][px[c]]++;
}

void RemapPixels(const uint8_t *in, uint8_t *out, int n, const Lut &lut)
{
    for (; n > 0; n--, in += kChannels, out += kChannels)
        for (int c = 0; c < kChannels; c++)
            out[c] = lut[c][in[c]];
}

// Where the remap reads and writes: the same rows for the in-place
// equalization, or a source and a destination of the same size.
struct Planes {
    const uint8_t *src;
    size_t srcStride;
    uint8_t *dst;
    size_t dstStride;
    int rows, cols;
    const uint8_t *in(int r) const { return src + size_t(r) * srcStride; }
    uint8_t *out(int r) const { return dst + size_t(r) * dstStride; }
};

// Counts every channel's values with two counter increments per pixel
// instead of three: a pixel's blue and green samples count as one 16-bit
// pair, whose table's rows and columns sum to the two channels' counts, and
// red counts on its own, in four sub-histograms so that a run of one colour
// does not wait on one counter. Counting is bound by how many increments the
// core retires (about one a cycle), not by memory. A second pair table for
// red would save more increments but lose more to cache misses: the 256 KB
// of one pair table already leave L1 where sensor noise spreads the pairs.
struct PairTable {
    uint32_t blueGreen[kValues * kValues];
};

// Whether the four pixels from px on are one colour: bytes 0..7 equal
// bytes 3..10, and byte 8 equals byte 11.
inline bool OneColour(const uint8_t *px)
{
    uint64_t a, b;
    std::memcpy(&a, px, 8);
    std::memcpy(&b, px + 3, 8);
    return a == b && px[8] == px[11];
}

// Whether most four-pixel blocks of every 16th row are one colour (a test
// pattern, a rendered scene, a saturated sky). Then counting by blocks pays;
// on camera noise the check would only cost.
bool MostlyFlat(const uint8_t *data, int rows, int cols, size_t stride)
{
    int64_t flat = 0, blocks = 0;
    for (int r = 0; r < rows; r += 16) {
        const uint8_t *px = data + size_t(r) * stride;
        for (int i = 0; i + 4 <= cols; i += 4, px += 4 * kChannels, blocks++)
            flat += OneColour(px);
    }
    return flat * 2 > blocks;
}

// Counts the rows' pixels in fours: a blue-green pair and red per pixel, or,
// where kBlocks and the four are one colour, four at once. Leftover pixels
// of a row go into counts sample by sample.
template <bool kBlocks>
void CountPairs(const uint8_t *data, int rows, int cols, size_t stride, uint32_t *bg, uint32_t (&red)[4][kValues],
                uint32_t (&counts)[kChannels][kValues])
{
    for (int r = 0; r < rows; r++) {
        const uint8_t *px = data + size_t(r) * stride;
        int i = 0;
        for (; i + 4 <= cols; i += 4, px += 4 * kChannels) {
            if (kBlocks && OneColour(px)) {
                bg[px[0] | px[1] << 8] += 4;
                red[0][px[2]] += 4;
                continue;
            }
            for (int k = 0; k < 4; k++) {
                bg[px[kChannels * k] | px[kChannels * k + 1] << 8]++;
                red[k][px[kChannels * k + 2]]++;
            }
        }
        CountPixels(px, cols - i, counts);
    }
}

void Count(const uint8_t *data, int rows, int cols, size_t stride, uint32_t (&counts)[kChannels][kValues])
{
    std::fill(&counts[0][0], &counts[0][0] + kChannels * kValues, 0u);
    // Clearing and summing the pair table costs about what counting 64 K
    // pixels does: smaller frames are counted sample by sample.
    if (int64_t(rows) * cols < (1 << 16)) {
        for (int r = 0; r < rows; r++)
            CountPixels(data + size_t(r) * stride, cols, counts);
        return;
    }
    // Allocated once per thread that equalizes, not per frame.
    thread_local std::unique_ptr<PairTable> table;
    if (!table)
        table.reset(new PairTable);
    uint32_t *bg = table->blueGreen;
    std::fill(bg, bg + kValues * kValues, 0u);
    uint32_t red[4][kValues] = {};
    if (MostlyFlat(data, rows, cols, stride))
        CountPairs<true>(data, rows, cols, stride, bg, red, counts);
    else
        CountPairs<false>(data, rows, cols, stride, bg, red, counts);
    for (int v = 0; v < kValues; v++)
        counts[2][v] += red[0][v] + red[1][v] + red[2][v] + red[3][v];
    for (int green = 0; green < kValues; green++)
        for (int blue = 0; blue < kValues; blue++) {
            const uint32_t n = bg[green << 8 | blue];
            counts[0][blue] += n;
            counts[1][green] += n;
        }
}

// The byte tables of a frame: the double-precision ones, truncated.
// Counting in integers is exact, and so is their conversion: the tables are
// the reference's to the bit.
void ByteTables(const uint32_t (&counts)[kChannels][kValues], double pixels, Lut &lut)
{
    for (int c = 0; c < kChannels; c++) {
        double p[kValues], T[kValues];
        std::copy(counts[c], counts[c] + kValues, p);
        TransferTable(p, pixels, T);
        for (int v = 0; v < kValues; v++)
            lut[c][v] = Truncate(T[v]);
    }
}

// The remap, four pixels (three 32-bit words) at a time: the three
// interleaved channels repeat every twelve bytes.
void RemapPortable(const Planes &f, const Lut &lut)
{
    for (int r = 0; r < f.rows; r++) {
        const uint8_t *src = f.in(r);
        uint8_t *dst = f.out(r);
        int i = 0;
        for (; i + 4 <= f.cols; i += 4, src += 4 * kChannels, dst += 4 * kChannels) {
            uint8_t in[12], out[12];
            std::memcpy(in, src, 12);
            for (int k = 0; k < 12; k++)
                out[k] = lut[k % 3][in[k]];
            std::memcpy(dst, out, 12);
        }
        RemapPixels(src, dst, f.cols - i, lut);
    }
}

#if defined(__x86_64__)
// The positions of a channel's samples in 64 bytes that start at a byte
// offset of phase (mod 3) in a row, as bits.
constexpr uint64_t PositionsOf(int channel, int phase)
{
    uint64_t bits = 0;
    for (int j = 0; j < 64; j++)
        if ((phase + j) % kChannels == channel)
            bits |= uint64_t(1) << j;
    return bits;
}

// AVX-512 VBMI: vpermi2b looks up 64 bytes at once in a 128-byte table, so a
// channel's 256-byte table is two lookups and a blend on bit 7 of the
// sample. All three channels' tables stay in registers; a 64-byte block of
// interleaved samples is looked up in each and the results are blended by
// the channel of each position, which cycles with the block's offset
// modulo 3.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void RemapVbmi(const Planes &f, const Lut &lut)
{
    __m512i lo[kChannels], hi[kChannels];
    for (int c = 0; c < kChannels; c++) {
        lo[c] = _mm512_loadu_si512(lut[c]);   // entries 0..63 | 64..127 via vpermi2b's second table
        hi[c] = _mm512_loadu_si512(lut[c] + 128);
    }
    __m512i lo2[kChannels], hi2[kChannels];
    for (int c = 0; c < kChannels; c++) {
        lo2[c] = _mm512_loadu_si512(lut[c] + 64);
        hi2[c] = _mm512_loadu_si512(lut[c] + 192);
    }
    // Masks of the positions of channels 1 and 2 in a block starting at a
    // byte offset of phase (mod 3); the rest are channel 0.
    constexpr __mmask64 one[3] = {PositionsOf(1, 0), PositionsOf(1, 1), PositionsOf(1, 2)};
    constexpr __mmask64 two[3] = {PositionsOf(2, 0), PositionsOf(2, 1), PositionsOf(2, 2)};
    for (int r = 0; r < f.rows; r++) {
        const uint8_t *in = f.in(r);
        uint8_t *out = f.out(r);
        const size_t bytes = size_t(f.cols) * kChannels;
        size_t b = 0;
        for (; b + 64 <= bytes; b += 64) {
            const int phase = int(b % 3);
            const __m512i v = _mm512_loadu_si512(in + b);
            const __mmask64 high = _mm512_movepi8_mask(v);  // bit 7: the upper half of the table
            __m512i looked[kChannels];
            for (int c = 0; c < kChannels; c++) {
                const __m512i low = _mm512_permutex2var_epi8(lo[c], v, lo2[c]);
                const __m512i upper = _mm512_permutex2var_epi8(hi[c], v, hi2[c]);
                looked[c] = _mm512_mask_blend_epi8(high, low, upper);
            }
            __m512i res = _mm512_mask_blend_epi8(one[phase], looked[0], looked[1]);
            res = _mm512_mask_blend_epi8(two[phase], res, looked[2]);
            _mm512_storeu_si512(out + b, res);
        }
        for (; b < bytes; b++)
            out[b] = lut[b % 3][in[b]];
    }
}

// AVX2: 32 pixels at a time are split into their three channels with
// byte shuffles (each 128-bit lane takes 16 pixels), each channel is looked
// up in its 256-byte table, and the channels are interleaved again. vpshufb
// looks up 16 entries by the low nibble and gives 0 where bit 7 of the index
// is set, so a table is looked up as two halves of eight 16-entry rows: the
// index minus 16k selects row k or above, and rows stored as the XOR of
// neighbours telescope to the row the high nibble names. Bit 7 of the
// sample picks the half.
// Lane-local shuffles, the same in both lanes (16 pixels are 48 bytes,
// three vectors): split gathers a channel's samples from each input vector,
// join puts them back into each output vector.
struct Avx2Shuffles {
    alignas(32) uint8_t split[kChannels][kChannels][32] = {};  // [input vector][channel]
    alignas(32) uint8_t join[kChannels][kChannels][32] = {};   // [output vector][channel]
    constexpr Avx2Shuffles()
    {
        for (int v = 0; v < kChannels; v++)
            for (int c = 0; c < kChannels; c++)
                for (int j = 0; j < 16; j++) {
                    const int from = kChannels * j + c - 16 * v, to = 16 * v + j;
                    split[v][c][j] = split[v][c][j + 16] = uint8_t(from >= 0 && from < 16 ? from : 0x80);
                    join[v][c][j] = join[v][c][j + 16] = uint8_t(to % kChannels == c ? to / kChannels : 0x80);
                }
    }
};
constexpr Avx2Shuffles kAvx2Shuffles;

// A frame's tables as vpshufb rows: [channel][row], lower half 0..7, upper 8..15.
using Avx2Rows = uint8_t[kChannels][16][32];

void BuildAvx2Rows(const Lut &lut, Avx2Rows &rows)
{
    for (int c = 0; c < kChannels; c++)
        for (int k = 0; k < 16; k++)
            for (int j = 0; j < 16; j++) {
                const bool first = k % 8 == 0;
                const uint8_t entry = uint8_t(lut[c][16 * k + j] ^ (first ? 0 : lut[c][16 * (k - 1) + j]));
                rows[c][k][j] = rows[c][k][j + 16] = entry;
            }
}

__attribute__((target("avx2"))) inline __m256i Load32(const uint8_t *p)
{
    return _mm256_load_si256(reinterpret_cast<const __m256i *>(p));
}

__attribute__((target("avx2"))) inline __m256i LookUpAvx2(const uint8_t (&rows)[16][32], __m256i x)
{
    const __m256i sixteen = _mm256_set1_epi8(16);
    __m256i lower = x, upper = _mm256_xor_si256(x, _mm256_set1_epi8(char(0x80)));
    __m256i lo = _mm256_shuffle_epi8(Load32(rows[0]), lower);
    __m256i hi = _mm256_shuffle_epi8(Load32(rows[8]), upper);
    for (int k = 1; k < 8; k++) {
        lower = _mm256_sub_epi8(lower, sixteen);
        upper = _mm256_sub_epi8(upper, sixteen);
        lo = _mm256_xor_si256(lo, _mm256_shuffle_epi8(Load32(rows[k]), lower));
        hi = _mm256_xor_si256(hi, _mm256_shuffle_epi8(Load32(rows[8 + k]), upper));
    }
    return _mm256_blendv_epi8(lo, hi, x);
}

__attribute__((target("avx2"))) void RemapAvx2(const Planes &f, const Lut &lut)
{
    const Avx2Shuffles &t = kAvx2Shuffles;
    alignas(32) Avx2Rows tables;
    BuildAvx2Rows(lut, tables);
    for (int r = 0; r < f.rows; r++) {
        const uint8_t *src = f.in(r);
        uint8_t *px = f.out(r);
        int i = 0;
        for (; i + 32 <= f.cols; i += 32, src += 32 * kChannels, px += 32 * kChannels) {
            __m256i in[kChannels], plane[kChannels];
            for (int v = 0; v < kChannels; v++)
                in[v] = _mm256_loadu2_m128i(reinterpret_cast<const __m128i *>(src + 48 + 16 * v),
                                            reinterpret_cast<const __m128i *>(src + 16 * v));
            for (int c = 0; c < kChannels; c++) {
                __m256i p = _mm256_shuffle_epi8(in[0], Load32(t.split[0][c]));
                p = _mm256_or_si256(p, _mm256_shuffle_epi8(in[1], Load32(t.split[1][c])));
                p = _mm256_or_si256(p, _mm256_shuffle_epi8(in[2], Load32(t.split[2][c])));
                plane[c] = LookUpAvx2(tables[c], p);
            }
            for (int v = 0; v < kChannels; v++) {
                __m256i out = _mm256_shuffle_epi8(plane[0], Load32(t.join[v][0]));
                out = _mm256_or_si256(out, _mm256_shuffle_epi8(plane[1], Load32(t.join[v][1])));
                out = _mm256_or_si256(out, _mm256_shuffle_epi8(plane[2], Load32(t.join[v][2])));
                _mm256_storeu2_m128i(reinterpret_cast<__m128i *>(px + 48 + 16 * v),
                                     reinterpret_cast<__m128i *>(px + 16 * v), out);
            }
        }
        RemapPixels(src, px, f.cols - i, lut);
    }
}
#endif

#if defined(__aarch64__)
// NEON: sixteen pixels are split into their three channels (vld3q), each
// channel is looked up in its 256-byte table as four 64-byte tables
// (tbl, then tbx for the indices the earlier ones did not cover), and the
// channels are interleaved again (vst3q). Rows are taken in chunks so that
// each channel's table stays in registers for a whole chunk.
void RemapNeon(const Planes &f, const Lut &lut)
{
    constexpr int kChunk = 256;  // pixels
    alignas(16) uint8_t plane[kChannels][kChunk];
    const uint8x16_t k64 = vdupq_n_u8(64);
    for (int r = 0; r < f.rows; r++) {
        const uint8_t *in = f.in(r);
        uint8_t *row = f.out(r);
        const int blocks = f.cols / 16 * 16;
        for (int start = 0; start < blocks; start += kChunk) {
            const int n = std::min(kChunk, blocks - start);
            const uint8_t *src = in + size_t(start) * kChannels;
            uint8_t *px = row + size_t(start) * kChannels;
            for (int k = 0; k < n; k += 16) {
                const uint8x16x3_t v = vld3q_u8(src + kChannels * k);
                for (int c = 0; c < kChannels; c++)
                    vst1q_u8(plane[c] + k, v.val[c]);
            }
            for (int c = 0; c < kChannels; c++) {
                const uint8x16x4_t t0 = vld1q_u8_x4(lut[c]), t1 = vld1q_u8_x4(lut[c] + 64),
                                   t2 = vld1q_u8_x4(lut[c] + 128), t3 = vld1q_u8_x4(lut[c] + 192);
                for (int k = 0; k < n; k += 16) {
                    uint8x16_t idx = vld1q_u8(plane[c] + k);
                    uint8x16_t out = vqtbl4q_u8(t0, idx);
                    idx = vsubq_u8(idx, k64);
                    out = vqtbx4q_u8(out, t1, idx);
                    idx = vsubq_u8(idx, k64);
                    out = vqtbx4q_u8(out, t2, idx);
                    idx = vsubq_u8(idx, k64);
                    out = vqtbx4q_u8(out, t3, idx);
                    vst1q_u8(plane[c] + k, out);
                }
            }
            for (int k = 0; k < n; k += 16) {
                uint8x16x3_t v;
                for (int c = 0; c < kChannels; c++)
                    v.val[c] = vld1q_u8(plane[c] + k);
                vst3q_u8(px + kChannels * k, v);
            }
        }
        RemapPixels(in + size_t(blocks) * kChannels, row + size_t(blocks) * kChannels, f.cols - blocks, lut);
    }
}
#endif

}  // namespace

const char *EqualizePathName(EqualizePath path)
{
    switch (path) {
    case EqualizePath::Portable:
        return "portable";
    case EqualizePath::Avx2:
        return "avx2";
    case EqualizePath::Avx512:
        return "avx512";
    case EqualizePath::Neon:
        return "neon";
    }
    return "?";
}

bool EqualizePathAvailable(EqualizePath path)
{
    switch (path) {
    case EqualizePath::Portable:
        return true;
    case EqualizePath::Avx2:
#if defined(__x86_64__)
        return __builtin_cpu_supports("avx2");
#else
        return false;
#endif
    case EqualizePath::Neon:
#if defined(__aarch64__)
        return true;  // Advanced SIMD is part of every 64-bit ARM core
#else
        return false;
#endif
    case EqualizePath::Avx512:
#if defined(__x86_64__)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi");
#else
        return false;
#endif
    }
    return false;
}

EqualizePath EqualizeBestPath()
{
    static const EqualizePath best = [] {
        for (EqualizePath p : {EqualizePath::Neon, EqualizePath::Avx512, EqualizePath::Avx2})
            if (EqualizePathAvailable(p))
                return p;
        return EqualizePath::Portable;
    }();
    return best;
}

namespace {

void Remap(const Planes &f, const Lut &lut, EqualizePath path)
{
    switch (EqualizePathAvailable(path) ? path : EqualizePath::Portable) {
#if defined(__aarch64__)
    case EqualizePath::Neon:
        RemapNeon(f, lut);
        return;
#endif
#if defined(__x86_64__)
    case EqualizePath::Avx512:
        RemapVbmi(f, lut);
        return;
    case EqualizePath::Avx2:
        RemapAvx2(f, lut);
        return;
#endif
    default:
        RemapPortable(f, lut);
        return;
    }
}

}  // namespace

void EqualizeTables(const uint8_t *src, size_t stride, int rows, int cols, uint8_t (&lut)[3][256])
{
    if (rows <= 0 || cols <= 0) {
        for (auto &curve : lut)
            for (int v = 0; v < kValues; v++)
                curve[v] = uint8_t(v);
        return;
    }
    uint32_t counts[kChannels][kValues];
    Count(src, rows, cols, stride, counts);
    ByteTables(counts, PixelCount(rows, cols), lut);
}

void EqualizeRemap(const uint8_t *in, uint8_t *out, int pixels, const uint8_t (&lut)[3][256], EqualizePath path)
{
    if (pixels > 0)
        Remap(Planes{in, 0, out, 0, 1, pixels}, lut, path);
}

void EqualizeRemap(const uint8_t *in, uint8_t *out, int pixels, const uint8_t (&lut)[3][256])
{
    EqualizeRemap(in, out, pixels, lut, EqualizeBestPath());
}

void EqualizeClipped(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, int rows, int cols,
                     EqualizePath path)
{
    if (rows <= 0 || cols <= 0)
        return;
    Lut lut;
    EqualizeTables(src, srcStride, rows, cols, lut);
    Remap(Planes{src, srcStride, dst, dstStride, rows, cols}, lut, path);
}

void EqualizeClipped(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, int rows, int cols)
{
    EqualizeClipped(src, srcStride, dst, dstStride, rows, cols, EqualizeBestPath());
}

void EqualizeClipped(uint8_t *data, int rows, int cols, size_t stride, EqualizePath path)
{
    EqualizeClipped(data, stride, data, stride, rows, cols, path);
}

void EqualizeClipped(uint8_t *data, int rows, int cols, size_t stride)
{
    EqualizeClipped(data, rows, cols, stride, EqualizeBestPath());
}

void EqualizeClippedReference(uint8_t *data, int rows, int cols, size_t stride)
{
    if (rows <= 0 || cols <= 0)
        return;
    double p[kChannels][kValues] = {}, T[kChannels][kValues] = {};
    for (int r = 0; r < rows; r++)
        for (int i = 0; i < cols; i++)
            for (int c = 0; c < kChannels; c++)
                p[c][Row(data, stride, r)[kChannels * i + c]] += 1.0;
    for (int c = 0; c < kChannels; c++)
        TransferTable(p[c], PixelCount(rows, cols), T[c]);
    for (int r = 0; r < rows; r++)
        for (int i = 0; i < cols; i++)
            for (int c = 0; c < kChannels; c++) {
                uint8_t &sample = Row(data, stride, r)[kChannels * i + c];
                sample = Truncate(T[c][sample]);
            }
}

}  // namespace webcam
