// Colour quantiser: reduces an image of any depth to 8 bits with an optimised palette.
//
// A 6-bit-per-channel histogram is cut into boxes by halving the box and axis with the largest
// weighted spread; each box gives one palette colour and the histogram then becomes the inverse
// map from colour cell to palette index. Sequence: PalInit -> PalCountColors (one or more
// images) -> PalReduce -> PalRemap -> PalDone. The work area is one process-wide instance, so
// one quantisation runs at a time.
#pragma once

#include <cstdint>

#include "image/ImgRecord.h"

constexpr int PAL_CELLS = 262144;  // 64 x 64 x 64 colour cells
constexpr int PAL_MAX_BOXES = 256;

// Remap modes of PalRemap.
enum { PAL_REMAP_NONE = 0, PAL_REMAP_ORDERED = 1, PAL_REMAP_DIFFUSION = 2 };
// Forms of CalcBoxColor.
enum { PAL_FORM_STATS = 0, PAL_FORM_PALETTE = 1 };

// Weights of the colour distance (squares of 30, 59 and 11).
constexpr int PAL_WEIGHT_R = 900;
constexpr int PAL_WEIGHT_G = 3481;
constexpr int PAL_WEIGHT_B = 121;

// Cell of an 8-bit colour: (R >> 2) + (G >> 2) * 64 + (B >> 2) * 4096.
inline int PalCell(int r, int g, int b) { return (r >> 2) | ((g >> 2) << 6) | ((b >> 2) << 12); }

// All in cell units (0..63 per axis); bounds inclusive.
struct PalBox {
    int32_t LowR, HighR, LowG, HighG, LowB, HighB;
    int32_t ExtentR, ExtentG, ExtentB;
    int32_t Volume;  // (extents squared, summed) * 121; 0 for a single cell
    double SpreadR, SpreadG, SpreadB;
    int32_t MiddleR, MiddleG, MiddleB;
};

struct PalWork {
    // While counting: pixels of the colour minus one (-1 empty, saturating at INT32_MAX).
    // After PalReduce: the palette index of the cell, -1 when no box covers it (filled in
    // lazily by the nearest-colour search during remapping).
    int32_t Hist[PAL_CELLS];
    int32_t Distinct;
    uint8_t Pal[256][3];  // blue, green, red
    int32_t Corr[256];    // component correction: 0..3 -> 0, others unchanged
    int32_t BoxCount;
    PalBox Boxes[PAL_MAX_BOXES];
    int32_t Wanted;
};

// The work area, allocated by PalInit through the memory registry, nullptr otherwise.
extern PalWork* quantP;

void PalInit();
void PalClearVars();
void PalCountColors(const Image& img);
void PalReduce(int wanted);
// Writes the 8-bit destination. Mode 0 plain, 1 ordered dither, 2 error diffusion (which adds
// the errors into a 24/32-bit source's pixels). Other modes end quietly, dst untouched.
void PalRemap(Image& src, Image& dst, int mode);
void PalDone();
// PalInit, PalCountColors, PalReduce(256), PalRemap, PalDone.
void ConvTo8bit(Image& src, Image& dst, int mode);
// Nearest of the first count entries by weighted distance; ties go to the lower index.
int PalNearest(int r, int g, int b, int count, const uint8_t palette[][3]);

// Steps of the quantiser, on the work area.
void Count8(const Image& img);
void SplitBoxes();
void ShrinkBox(PalBox& box);
void CalcBoxColor(const PalBox& box, int form, int& r, int& g, int& b);
void CreateInverseBoxMap(const PalBox& box, int index);
void CreateHighPalette();
void CreateLowPalette();
void SetDarkColorFirst();
