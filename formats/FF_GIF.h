// GIF reader (87a and 89a): a frame reader that composes every image of a file onto a
// screen-sized 8-bit picture. There is no GIF writer.
#pragma once

#include <cstdint>
#include <string>

#include "base/Basic.h"
#include "image/ImgBasic.h"

// The reader's state; the caller keeps one per open file (usually a variable named gf).
struct GIFFile {
    int32_t Width = 0;           // logical screen
    int32_t Height = 0;
    int32_t Planes = 1;
    int32_t Bpp = 8;
    int32_t ImgCount = 0;        // images located so far
    int32_t NextImg = 0;         // index of the next image GIFLoadNext loads
    double FrameRate = 0;        // pictures per second, 0 when the file gives no delays
    int64_t FileSize = 0;
    int32_t BkgIndex = -1;       // -1 when the file has no global colour table
    int32_t PrevLeft = 0;        // previous image's window (clipped to the screen)
    int32_t PrevTop = 0;
    int32_t PrevWidth = 0;
    int32_t PrevHeight = 0;
    uint8_t* PrevImg = nullptr;  // pixels under that window, kept for disposal method 3
    int32_t PrevDisposal = 0;
    int32_t PalState1 = 0;       // -1 once an image brought its own colour table
    int32_t PalState2 = 0;
    int32_t Compose = 0;         // some image after the first does not cover the screen
    uint8_t Pal[256][3] = {};    // global palette, blue, green, red
    int32_t Handle = Undef;
};

// Opens name and locates its images: selector 0 scans the whole file (cached per name,
// size and date), any other value locates only the first image.
void GIFOpen(GIFFile& gf, const std::string& name, int selector);
// Composes the next image onto image (allocated at screen size, 8 bits per pixel). Pass the
// same image for every frame: disposal works on the picture the previous call left.
void GIFLoadNext(GIFFile& gf, Image& image);
// Frees the saved window and closes the file; safe after a failed GIFOpen.
void GIFClose(GIFFile& gf);
// Releases the process-wide position blocks and the last-file cache (program end).
void GIFDone();
