// The in-memory picture record, its allocation through the memory registry and its copies.
// Below the quantiser and the pixel operations, which both work on it.
#pragma once

#include <cstdint>
#include <string>

// Rows top row first, packed without padding. Pal entries are blue, green, red.
struct Image {
    uint8_t* Data = nullptr;   // registered with the address of this field as owner
    int32_t Size = 0;          // Width * Height * BytesPerPixel
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BytesPerPixel = 0;
    int32_t Bpp = 0;           // 8, 15, 16, 24 or 32
    uint8_t Pal[256][3] = {};
    int32_t ExtData = 0;
};

// Allocation and bookkeeping.
void ImgAllocNamed(Image& img, int width, int height, const std::string& name, int line, int bpp);
void ImgAlloc(Image& img, int width, int height, int bpp);
void ImgFree(Image& img);
bool ImgIsValid(const Image& img);
void ImgSetInfo(Image& img, int width, int height, int bpp);
void ImgCopyInfo(const Image& src, Image& dst);
void ImgCopyPalette(const Image& src, Image& dst);
void ImgCopyData(const Image& src, Image& dst);
void ImgCopy(const Image& src, Image& dst);
void ImgXchg(Image& a, Image& b);
void ColorToRGB(uint32_t colour, uint8_t& b0, uint8_t& b1, uint8_t& b2);

// Largest pixel block any reader may allocate; larger declared sizes are refused before allocating.
constexpr int64_t IMG_MAX_BYTES = 256ll * 1024 * 1024;
// True when width x height at bpp is positive and within IMG_MAX_BYTES.
bool ImgSizeOK(int64_t width, int64_t height, int bpp);
