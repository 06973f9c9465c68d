#include <webcam/equalize_core.h>

#include <algorithm>
#include <cstdint>

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

}  // namespace

void EqualizeClipped(uint8_t *data, int rows, int cols, size_t stride)
{
    if (rows <= 0 || cols <= 0)
        return;
    uint32_t counts[kChannels][kValues] = {};
    for (int r = 0; r < rows; r++) {
        const uint8_t *px = Row(data, stride, r);
        for (int i = 0; i < cols; i++, px += kChannels) {
            counts[0][px[0]]++;
            counts[1][px[1]]++;
            counts[2][px[2]]++;
        }
    }
    // Counting in integers is exact, and so is their conversion: the tables
    // are the double-precision ones to the bit.
    uint8_t lut[kChannels][kValues];
    for (int c = 0; c < kChannels; c++) {
        double p[kValues], T[kValues];
        std::copy(counts[c], counts[c] + kValues, p);
        TransferTable(p, PixelCount(rows, cols), T);
        for (int v = 0; v < kValues; v++)
            lut[c][v] = Truncate(T[v]);
    }
    for (int r = 0; r < rows; r++) {
        uint8_t *px = Row(data, stride, r);
        for (int i = 0; i < cols; i++, px += kChannels) {
            px[0] = lut[0][px[0]];
            px[1] = lut[1][px[1]];
            px[2] = lut[2][px[2]];
        }
    }
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
