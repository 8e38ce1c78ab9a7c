// The in-memory picture record and its basic operations.
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

// Operation codes of the operation frame.
enum {
    OP_FLIPV = 13, OP_SWAPRB = 30, OP_SPRITE = 36, OP_RESIZE = 37, OP_RESAMPLE = 38, OP_CROP = 39, OP_INSERT = 41
};

struct ImgOpInfo {
    int Code = 0;
    int WorkDepth[6] = {24, 24, 24, 24, 24, 24};  // for source depth 8, 15, 16, 24, 32, other
    bool InPlace = true;
    bool PaletteMode = false;
    bool ConvertDest = false;
    bool MatchDest = false;
};

struct ImgOpContext {
    bool FreeTemp = false;
    bool PaletteMode = false;
    bool Src8 = false;
    bool XchgAtEnd = false;
    int32_t SrcRowBytes = 0, DstRowBytes = 0;
    int64_t SrcTotalBytes = 0, DstTotalBytes = 0;
    int64_t SrcPixels = 0, DstPixels = 0;
    int64_t SrcAreaBytes = 0, DstAreaBytes = 0;
    int32_t ReqWidth = 0, ReqHeight = 0;
    Image* Src = nullptr;
    Image* Dst = nullptr;
    Image Temp;
    uint8_t* SrcBits = nullptr;
    uint8_t* DstBits = nullptr;
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

// Pixel operations (each runs in a monitor block). src and dst may be the same record
// where the operation allows it.
void ImgConvBpp(Image& src, Image& dst, int bpp);
void ImgConvBppEx(Image& src, Image& dst, int bpp, int ditherMode);
void ImgCrop(Image& src, Image& dst, int left, int top, int width, int height);
void ImgFlipV(Image& src, Image& dst);
void ImgInsert(Image& src, Image& dst, int x, int y);
void ImgSprite(Image& src, Image& dst, int x, int y, uint32_t transparentColour);
void ImgSwapRB(Image& src, Image& dst);

// The operation frame (used by this unit and the resizers).
void ImgInitInfo(ImgOpInfo& info);
void ImgInfo(ImgOpInfo& info, int code);
void ImgInitEx(ImgOpInfo& info, ImgOpContext& ctx, Image& src, int height, int width, Image* dst);
void ImgDone(ImgOpContext& ctx);

// Largest pixel block any reader may allocate; larger declared sizes are refused before allocating.
constexpr int64_t IMG_MAX_BYTES = 256ll * 1024 * 1024;
// True when width x height at bpp is positive and within IMG_MAX_BYTES.
bool ImgSizeOK(int64_t width, int64_t height, int bpp);
