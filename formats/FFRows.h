// Pictures read row by row. JPEG, PNG and WebP rows come straight from their decoders, so a picture of
// any size needs only a few rows of memory; every other picture (and interlaced PNG, CMYK JPEG)
// is loaded whole through ImgLoad and handed out a row at a time. A picture whose file asks for
// another orientation than upright comes upright: a mirrored one row by row, a turned or flipped
// one through the whole picture, unless that is more than a whole picture may hold (then its rows
// come as stored and Pending says what is left to the caller).
#pragma once

#include <cstdint>
#include <string>

#include "base/Basic.h"
#include "image/ImgBasic.h"

struct FFRowReader {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Row = 0;            // rows handed out or skipped so far
    int Kind = 0;               // where the rows come from
    int32_t Bpp = 0;            // of the decoded rows: 8 (shown through Pal) or 24
    int32_t Orientation = 1;    // what the file asks for (see ImgOrient)
    int32_t Pending = 1;        // what is left to apply: the rows of a picture too large to hold
                                // whole come as stored, all others come upright
    bool Mirror = false;        // rows are handed out right to left
    uint8_t Pal[256][3] = {};
    Image Whole;                // a picture loaded whole
    uint8_t* Native = nullptr;  // one decoded 8-bit row
    void* Codec = nullptr;      // decoder state of a streamed picture
};

// Opens the picture and reads its header; format is an identifier or Undef (FFFormatOfFile).
void FFRowsOpen(FFRowReader& rd, const std::string& name, int32_t format = Undef);
// The next row as 24-bit pixels (blue, green, red): Width * 3 bytes into row.
void FFRowsRead(FFRowReader& rd, uint8_t* row);
// Passes over count rows.
void FFRowsSkip(FFRowReader& rd, int64_t count);
// Passes over the remaining rows and checks the end of the file.
void FFRowsEnd(FFRowReader& rd);
// Releases everything; safe after a failure and when called twice.
void FFRowsClose(FFRowReader& rd);

// Resamples the w x h window at (left, top) of the picture to width x height (24 bits, as
// ImgResample would after cutting or framing the window): parts of the window outside the
// picture are black. Reads the rest of the picture (FFRowsEnd).
void FFRowsResample(FFRowReader& rd, int64_t left, int64_t top, int64_t w, int64_t h, Image& dst, int width,
                    int height);
