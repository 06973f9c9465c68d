#include <webcam/canvas_resize.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace webcam {

namespace {

constexpr int kChannels = 3;
constexpr int kWeightScale = 2048;  // the tap weights' fixed point: 11 bits

int16_t Weight(float w)
{
    return int16_t(std::lrint(w * float(kWeightScale)));  // to nearest, ties to even
}

// One canvas sample from the s of its two source rows and their weights.
inline __attribute__((always_inline)) uint8_t Blend(int s0, int s1, int b0, int b1)
{
    const int m0 = int16_t((int32_t(s0) * b0) >> 16);
    const int m1 = int16_t((int32_t(s1) * b1) >> 16);
    const int v = (m0 + m1 + 2) >> 2;
    return uint8_t(v > 255 ? 255 : v);
}

struct Buffers {
    uint8_t *taps;  // two rows of looked-up taps
    int16_t *rows;  // two rows of s
};

// The taps of a row, a pixel at a time: through the tables, or as one
// 4-byte move (the fourth byte is overwritten by the next pixel's, or is
// the padding behind the row's samples) where the row has a byte behind
// the pixel.
template <bool kLut>
inline __attribute__((always_inline)) void Gather(const uint8_t *row, const int32_t *offset, int pixels, int wide,
                                                  const CanvasLut *lut, uint8_t *out)
{
    int dx = 0;
    if (!kLut)
        for (; dx < wide; dx++)
            std::memcpy(out + kChannels * dx, row + offset[dx], 4);
    for (; dx < pixels; dx++) {
        const uint8_t *px = row + offset[dx];
        for (int c = 0; c < kChannels; c++)
            out[kChannels * dx + c] = kLut ? (*lut)[c][px[c]] : px[c];
    }
}

// A source row's s for every canvas sample: its taps gathered, then
// weighted.
enum class Lookup { None, EachSample, RowMap };

#if defined(__x86_64__)
// The taps of a row by byte permutes, a block of 64 samples at a time: each
// window of 128 bytes of the row that the block's samples lie in is one
// permute of two loads, and the windows' results are merged by the
// window each sample lies in. After the last whole block, byte by byte.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void GatherVbmi(const uint8_t *row, const int32_t *offset,
                                                                      int pixels,
                                                                      const CanvasResize::Plan::Blocks &blocks,
                                                                      uint8_t *out)
{
    const int n = pixels * kChannels, whole = n / 64;
    for (int k = 0; k < whole; k++) {
        const uint8_t *from = row + blocks.base[size_t(k)];
        const __m512i index = _mm512_loadu_si512(blocks.index.data() + 64 * size_t(k));
        uint8_t *to = out + 64 * k;
        const int windows = blocks.windows[size_t(k)];
        if (!windows) {
            for (int x = 64 * k; x < 64 * k + 64; x++)
                out[x] = row[offset[x / kChannels] + x % kChannels];
            continue;
        }
        __m512i v = _mm512_permutex2var_epi8(_mm512_loadu_si512(from), index, _mm512_loadu_si512(from + 64));
        if (windows > 1) {
            const __m512i window = _mm512_loadu_si512(blocks.window.data() + 64 * size_t(k));
            for (int w = 1; w < windows; w++) {
                const __m512i t = _mm512_permutex2var_epi8(_mm512_loadu_si512(from + 128 * w), index,
                                                           _mm512_loadu_si512(from + 128 * w + 64));
                v = _mm512_mask_mov_epi8(v, _mm512_cmpeq_epi8_mask(window, _mm512_set1_epi8(char(w))), t);
            }
        }
        _mm512_storeu_si512(to, v);
    }
    for (int x = 64 * whole; x < n; x++)
        out[x] = row[offset[x / kChannels] + x % kChannels];
}
#endif

// Taps through byte permutes where the path has them.
template <Lookup kLut, bool kVbmi>
inline __attribute__((always_inline)) void GatherTaps(const uint8_t *row, const int32_t *offset, int pixels, int wide,
                                                      const CanvasResize::Plan::Blocks &blocks, const CanvasLut *lut,
                                                      uint8_t *out)
{
#if defined(__x86_64__)
    if constexpr (kVbmi && kLut != Lookup::EachSample) {
        if (blocks.every) {
            GatherVbmi(row, offset, pixels, blocks, out);
            return;
        }
    }
#endif
    (void)blocks;
    Gather<kLut == Lookup::EachSample>(row, offset, pixels, wide, lut, out);
}

template <Lookup kLut, bool kVbmi>
inline __attribute__((always_inline)) void SourceRow(const CanvasResize::Plan &p, const uint8_t *row,
                                                     const CanvasLut *lut, CanvasRowMap map, uint8_t *L, uint8_t *R,
                                                     int16_t *s)
{
    const int n = p.dstCols * kChannels;
    const int16_t *a0 = p.a0.data(), *a1 = p.a1.data();
    // With a row map the taps are gathered as they are and mapped after,
    // a row at a time.
    GatherTaps<kLut, kVbmi>(row, p.left.data(), p.dstCols, p.wideLeft, p.leftBlocks, lut, L);
    if (kLut == Lookup::RowMap)
        map(L, L, p.dstCols, *lut);
    if (p.oneTap) {
        for (int x = 0; x < n; x++)
            s[x] = int16_t((L[x] * a0[x]) >> 4);
        return;
    }
    GatherTaps<kLut, kVbmi>(row, p.right.data(), p.dstCols, p.wideRight, p.rightBlocks, lut, R);
    if (kLut == Lookup::RowMap)
        map(R, R, p.dstCols, *lut);
    for (int x = 0; x < n; x++)
        s[x] = int16_t((L[x] * a0[x] + R[x] * a1[x]) >> 4);
}

template <Lookup kLut, bool kVbmi>
inline __attribute__((always_inline)) void Scale(const CanvasResize::Plan &p, const ConstCanvasImage &src,
                                                 const CanvasImage &dst, const CanvasLut *lut, CanvasRowMap map,
                                                 Buffers b)
{
    const int n = p.dstCols * kChannels;
    uint8_t *L = b.taps, *R = b.taps + n;
    int held[2] = {-1, -1};  // the source rows whose s the two buffers hold
    // The s of source row r, made unless one of the two buffers holds it,
    // into the one that does not hold keep.
    auto rowOf = [&](int r, int keep) -> const int16_t * {
        for (int k = 0; k < 2; k++)
            if (held[k] == r)
                return b.rows + k * n;
        const int k = held[0] == keep ? 1 : 0;
        SourceRow<kLut, kVbmi>(p, src.data + size_t(r) * src.stride, lut, map, L, R, b.rows + k * n);
        held[k] = r;
        return b.rows + k * n;
    };
    if (p.srcCols == p.dstCols && p.srcRows == p.dstRows) {
        // Every weight pair is (2048, 0): the canvas is the frame.
        for (int dy = 0; dy < p.dstRows; dy++) {
            const uint8_t *in = src.data + size_t(dy) * src.stride;
            uint8_t *out = dst.data + size_t(dy) * dst.stride;
            if (kLut == Lookup::None)
                std::memcpy(out, in, size_t(n));
            else if (kLut == Lookup::RowMap)
                map(in, out, p.dstCols, *lut);
            else
                for (int x = 0; x < n; x++)
                    out[x] = (*lut)[x % kChannels][in[x]];
        }
        return;
    }
    for (int dy = 0; dy < p.dstRows; dy++) {
        const int r0 = p.row0[dy], r1 = p.row1[dy];
        const int b0 = p.b0[dy], b1 = p.b1[dy];
        const int16_t *s0 = rowOf(r0, r1);
        const int16_t *s1 = b1 == 0 || r1 == r0 ? s0 : rowOf(r1, r0);
        uint8_t *out = dst.data + size_t(dy) * dst.stride;
        for (int x = 0; x < n; x++)
            out[x] = Blend(s0[x], s1[x], b0, b1);
    }
}

// One body for every path: the compiler vectorizes the weighting and the
// blend for the target of the function it is inlined into.
#define CANVAS_PATH(name, vbmi, attributes)                                                                   \
    attributes void name(const CanvasResize::Plan &p, const ConstCanvasImage &src, const CanvasImage &dst,  \
                         const CanvasLut *lut, CanvasRowMap map, Buffers b)                                 \
    {                                                                                                       \
        if (lut && map)                                                                                     \
            Scale<Lookup::RowMap, vbmi>(p, src, dst, lut, map, b);                                          \
        else if (lut)                                                                                       \
            Scale<Lookup::EachSample, vbmi>(p, src, dst, lut, map, b);                                      \
        else                                                                                                \
            Scale<Lookup::None, vbmi>(p, src, dst, lut, map, b);                                            \
    }

CANVAS_PATH(ScalePortable, false, )
#if defined(__x86_64__)
CANVAS_PATH(ScaleAvx2, false, __attribute__((target("avx2"))))
CANVAS_PATH(ScaleAvx512, true, __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))))
#endif
#undef CANVAS_PATH

}  // namespace

const char *CanvasPathName(CanvasPath path)
{
    switch (path) {
    case CanvasPath::Portable:
        return "portable";
    case CanvasPath::Avx2:
        return "avx2";
    case CanvasPath::Avx512:
        return "avx512";
    case CanvasPath::Neon:
        return "neon";
    }
    return "?";
}

bool CanvasPathAvailable(CanvasPath path)
{
    switch (path) {
    case CanvasPath::Portable:
        return true;
#if defined(__x86_64__)
    case CanvasPath::Avx2:
        return __builtin_cpu_supports("avx2");
    case CanvasPath::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
#endif
#if defined(__aarch64__)
    case CanvasPath::Neon:
        return true;  // the portable body, built for Advanced SIMD, which every 64-bit ARM core has
#endif
    default:
        return false;
    }
}

CanvasPath CanvasBestPath()
{
    static const CanvasPath best = [] {
        for (CanvasPath p : {CanvasPath::Neon, CanvasPath::Avx512, CanvasPath::Avx2})
            if (CanvasPathAvailable(p))
                return p;
        return CanvasPath::Portable;
    }();
    return best;
}

bool CanvasResize::Handles(int srcCols, int srcRows, int dstCols, int dstRows)
{
    static const int kSizes[][2] = {{320, 240},   {640, 480},   {800, 600},   {960, 540},  {1024, 768},
                                    {1280, 720},  {1280, 960},  {1280, 1024}, {1920, 1080}, {2048, 1536},
                                    {3840, 2160}};
    if (dstCols != 640 || dstRows != 480)
        return false;
    return std::any_of(std::begin(kSizes), std::end(kSizes),
                       [&](const int(&s)[2]) { return s[0] == srcCols && s[1] == srcRows; });
}

namespace {

// Where each block of 64 taps lies in a row of cols pixels: loads of 64
// bytes from the block's first tap, all within the row.
void Blocks(const std::vector<int32_t> &offset, int cols, CanvasResize::Plan::Blocks &blocks)
{
    constexpr int kWindows = 4;  // up to 512 bytes of a row: a 6:1 scale
    const int n = int(offset.size()) * kChannels, whole = n / 64;
    blocks.base.assign(size_t(whole), 0);
    blocks.windows.assign(size_t(whole), 0);
    blocks.index.assign(size_t(whole) * 64, 0);
    blocks.window.assign(size_t(whole) * 64, 0);
    blocks.every = true;
    for (int k = 0; k < whole; k++) {
        // From the block's first pixel's first sample: where an upscale
        // repeats pixels, a later sample can lie before the block's first.
        const int x0 = 64 * k, base = offset[size_t(x0 / kChannels)];
        const int last = offset[size_t((x0 + 63) / kChannels)] + (x0 + 63) % kChannels;
        const int windows = (last - base) / 128 + 1;
        if (windows > kWindows || base + 128 * windows > kChannels * cols) {
            if (k < whole - 1)
                blocks.every = false;  // the last one byte by byte at most
            continue;
        }
        blocks.base[size_t(k)] = base;
        blocks.windows[size_t(k)] = uint8_t(windows);
        for (int j = 0; j < 64; j++) {
            const int at = offset[size_t((x0 + j) / kChannels)] + (x0 + j) % kChannels - base;
            blocks.index[size_t(x0 + j)] = uint8_t(at % 128);
            blocks.window[size_t(x0 + j)] = uint8_t(at / 128);
        }
    }
}

}  // namespace

void CanvasResize::MakePlan(int srcCols, int srcRows, int dstCols, int dstRows, Plan &p)
{
    p.srcCols = srcCols, p.srcRows = srcRows, p.dstCols = dstCols, p.dstRows = dstRows;
    const double scaleX = 1.0 / (double(dstCols) / srcCols), scaleY = 1.0 / (double(dstRows) / srcRows);
    p.left.resize(size_t(dstCols));
    p.right.resize(size_t(dstCols));
    p.a0.resize(size_t(dstCols) * kChannels);
    p.a1.resize(size_t(dstCols) * kChannels);
    p.oneTap = true;
    for (int dx = 0; dx < dstCols; dx++) {
        float fx = float((dx + 0.5) * scaleX - 0.5);
        int sx = int(std::floor(fx));
        fx -= float(sx);
        if (sx < 0)
            fx = 0, sx = 0;
        if (sx >= srcCols - 1)
            fx = 0, sx = srcCols - 1;
        p.left[size_t(dx)] = kChannels * sx;
        p.right[size_t(dx)] = kChannels * std::min(sx + 1, srcCols - 1);
        const int16_t w0 = Weight(1.f - fx), w1 = Weight(fx);
        for (int c = 0; c < kChannels; c++) {
            p.a0[size_t(kChannels * dx + c)] = w0;
            p.a1[size_t(kChannels * dx + c)] = w1;
        }
        p.oneTap = p.oneTap && w1 == 0;
    }
    // The pixels (a prefix: the offsets grow) with a byte of the row behind them.
    auto wide = [&](const std::vector<int32_t> &offset) {
        return int(std::count_if(offset.begin(), offset.end(),
                                 [&](int32_t o) { return o + 4 <= kChannels * srcCols; }));
    };
    p.wideLeft = wide(p.left);
    p.wideRight = wide(p.right);
    Blocks(p.left, srcCols, p.leftBlocks);
    Blocks(p.right, srcCols, p.rightBlocks);
    p.row0.resize(size_t(dstRows));
    p.row1.resize(size_t(dstRows));
    p.b0.resize(size_t(dstRows));
    p.b1.resize(size_t(dstRows));
    for (int dy = 0; dy < dstRows; dy++) {
        float fy = float((dy + 0.5) * scaleY - 0.5);
        const int sy = int(std::floor(fy));
        fy -= float(sy);
        p.row0[size_t(dy)] = std::clamp(sy, 0, srcRows - 1);
        p.row1[size_t(dy)] = std::clamp(sy + 1, 0, srcRows - 1);
        p.b0[size_t(dy)] = Weight(1.f - fy);
        p.b1[size_t(dy)] = Weight(fy);
    }
}

void CanvasResize::operator()(const ConstCanvasImage &src, const CanvasImage &dst, const CanvasLut *lut)
{
    (*this)(src, dst, lut, CanvasBestPath());
}

void CanvasResize::operator()(const ConstCanvasImage &src, const CanvasImage &dst, const CanvasLut *lut,
                              CanvasPath path)
{
    if (src.cols <= 0 || src.rows <= 0 || dst.cols <= 0 || dst.rows <= 0)
        return;
    if (plan_.srcCols != src.cols || plan_.srcRows != src.rows || plan_.dstCols != dst.cols ||
        plan_.dstRows != dst.rows) {
        MakePlan(src.cols, src.rows, dst.cols, dst.rows, plan_);
        taps_.resize(size_t(dst.cols) * kChannels * 2 + 1);  // the last 4-byte move's fourth byte
        rows_.resize(size_t(dst.cols) * kChannels * 2);
    }
    const Buffers b{taps_.data(), rows_.data()};
    switch (CanvasPathAvailable(path) ? path : CanvasPath::Portable) {
#if defined(__x86_64__)
    case CanvasPath::Avx512:
        ScaleAvx512(plan_, src, dst, lut, map_, b);
        return;
    case CanvasPath::Avx2:
        ScaleAvx2(plan_, src, dst, lut, map_, b);
        return;
#endif
    default:
        ScalePortable(plan_, src, dst, lut, map_, b);
        return;
    }
}

void CanvasResize::Reference(const ConstCanvasImage &src, const CanvasImage &dst, const CanvasLut *lut)
{
    if (src.cols <= 0 || src.rows <= 0 || dst.cols <= 0 || dst.rows <= 0)
        return;
    Plan p;
    MakePlan(src.cols, src.rows, dst.cols, dst.rows, p);
    auto sample = [&](int row, int offset, int c) {
        const uint8_t v = src.data[size_t(row) * src.stride + size_t(offset + c)];
        return lut ? (*lut)[c][v] : v;
    };
    for (int dy = 0; dy < dst.rows; dy++)
        for (int dx = 0; dx < dst.cols; dx++)
            for (int c = 0; c < kChannels; c++) {
                const size_t x = size_t(kChannels * dx + c);
                const int l = p.left[size_t(dx)], r = p.right[size_t(dx)];
                const int h0 = sample(p.row0[size_t(dy)], l, c) * p.a0[x] + sample(p.row0[size_t(dy)], r, c) * p.a1[x];
                const int h1 = sample(p.row1[size_t(dy)], l, c) * p.a0[x] + sample(p.row1[size_t(dy)], r, c) * p.a1[x];
                dst.data[size_t(dy) * dst.stride + x] =
                    Blend(int16_t(h0 >> 4), int16_t(h1 >> 4), p.b0[size_t(dy)], p.b1[size_t(dy)]);
            }
}

}  // namespace webcam
