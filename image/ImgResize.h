// Scalers: fast nearest-neighbour resize and the averaging/interpolating resample.
#pragma once

#include "image/ImgBasic.h"

// Fixed-point unit of the scale ratios: a ratio of 100 000 is one source pixel per output pixel.
constexpr int64_t IMG_RATIO_UNIT = 100000;

// Nearest-neighbour scaling; 8-bit images stay 8-bit, every other depth gives 24 bits.
void ImgResize(Image& src, Image& dst, int width, int height);
// Averages groups when reducing, doubles and stretches when enlarging; the result is 24-bit.
void ImgResample(Image& src, Image& dst, int width, int height);
