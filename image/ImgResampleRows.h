// ImgResample for a picture that arrives row by row, top row first: only the sums of the
// current row group and one line are kept, so the picture itself never has to be in memory.
// The result is byte for byte what ImgResample gives for the same picture.
#pragma once

#include <cstdint>

#include "image/ImgBasic.h"

// The source is Width x Height 24-bit pixels; only columns [SpanFirst, SpanEnd) may hold
// anything but black, so sums skip the rest (the borders of a fitted picture).
struct ImgRowResample {
    int64_t Sw = 0, Sh = 0, Dw = 0, Dh = 0;
    int64_t Rx = 0, Ry = 0;
    int64_t SpanFirst = 0, SpanEnd = 0;
    bool Reduce = false;       // fewer output rows than source rows: rows are summed in groups
    int SumBytes = 0;          // bytes per sum (2, 4 or 8)
    int64_t Row = 0;           // source rows received
    int64_t Out = 0;           // output rows finished (height reduction)
    int64_t GroupStart = 0;    // first source row of the current group
    int64_t GroupEnd = 0;      // first source row after it
    Image* Dst = nullptr;
    uint8_t* Work = nullptr;   // the line of the width step, then the averaged row
    void* Sums = nullptr;
    bool SumsStale = true;     // the span's sums still hold the previous group: the next rows replace them
    int32_t* Starts = nullptr;
};

// Plans the resample of a srcW x srcH source to width x height and allocates dst (24 bits).
// spanFirst and spanCount give the columns that may hold picture; a negative count means all.
void ImgRowsBegin(ImgRowResample& rs, int64_t srcW, int64_t srcH, Image& dst, int width, int height,
                  int64_t spanFirst = 0, int64_t spanCount = -1);
// The next count source rows: srcW pixels each, blue green red, black outside the span.
// Rows given together are summed together, which is faster: give IMG_ROWS_BATCH at a time.
void ImgRowsPut(ImgRowResample& rs, const uint8_t* const* rows, int count);
constexpr int IMG_ROWS_BATCH = 8;
// The next count source rows, all black.
void ImgRowsPutBlack(ImgRowResample& rs, int64_t count);
// After the last row: completes dst and frees the work space.
void ImgRowsEnd(ImgRowResample& rs);
// Frees the work space (dst stays); safe after a failure and when called twice.
void ImgRowsFree(ImgRowResample& rs);
