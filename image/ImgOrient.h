// Turning a picture upright by the orientation its file carries (the EXIF values 1 to 8:
// 1 upright, 2 mirrored, 3 turned half round, 4 upside down, 5 mirrored and turned a quarter
// counter-clockwise, 6 turned a quarter clockwise, 7 mirrored and turned a quarter clockwise,
// 8 turned a quarter counter-clockwise, each to be shown upright).
#pragma once

#include <cstdint>

#include "image/ImgBasic.h"

// A value outside 1..8 stands for 1.
int ImgOrientValid(int32_t orientation);
// True when the orientation swaps width and height.
bool ImgOrientSwaps(int32_t orientation);
// The same on bare pixels: w x h pixels of bytesPerPixel (1..4) at src into dst (w * h pixels).
void ImgOrientBytes(const uint8_t* src, int64_t w, int64_t h, int bytesPerPixel, int32_t orientation, uint8_t* dst);
// dst becomes src shown upright (any depth, palette kept); src and dst may be the same record.
void ImgOrient(Image& src, Image& dst, int32_t orientation);
// The rectangle of the stored w x h picture that the upright rectangle (left, top, rw, rh)
// shows; the rectangle may reach outside the picture.
void ImgOrientRect(int32_t orientation, int64_t w, int64_t h, int64_t& left, int64_t& top, int64_t& rw, int64_t& rh);
