// Scalers: fast nearest-neighbour resize and the averaging/interpolating resample.
#pragma once

#include "image/ImgBasic.h"

// Loops bound by moving sums get wider vectors where the processor has them.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define IMG_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define IMG_WIDE_VECTORS
#endif

// Fixed-point unit of the scale ratios: a ratio of 100 000 is one source pixel per output pixel.
constexpr int64_t IMG_RATIO_UNIT = 100000;

// Nearest-neighbour scaling; 8-bit images stay 8-bit, every other depth gives 24 bits.
void ImgResize(Image& src, Image& dst, int width, int height);
// Averages groups when reducing, doubles and stretches when enlarging; the result is 24-bit.
void ImgResample(Image& src, Image& dst, int width, int height);

// Steps of ImgResample, shared with the row-by-row resample (ImgResampleRows).
// Start pixels of a reducing step (ratio r > IMG_RATIO_UNIT) into starts[0..count).
void ImgReduceStarts(int32_t* starts, int64_t count, int64_t r, int64_t limit);
// One 24-bit row of sw pixels to dw pixels at ratio rx: group averages (starts from
// ImgReduceStarts) when reducing, else doubling and stretching in line (max(sw, dw) pixels).
void ImgResampleLine(const uint8_t* in, uint8_t* out, const int32_t* starts, uint8_t* line, int64_t sw, int64_t dw,
                     int64_t rx);
// Height enlargement in place: block has dh rows of rowBytes, the first sh of them filled.
void ImgEnlargeRows(uint8_t* block, size_t rowBytes, int64_t sh, int64_t dh);
// Box averaging: out = acc div count, byte by byte (T is uint16_t, uint32_t or uint64_t).
template <class T> void ImgSumDiv(uint8_t* out, const T* acc, size_t n, uint64_t count);
// Bytes per accumulator that sums of up to maxGroup rows need (2, 4 or 8).
int ImgSumBytes(int64_t maxGroup);
