// Pixel operations on the picture record: depth conversion, crop, flip, insert, swap, and the
// operation frame the resizers share.
#pragma once

#include <cstdint>

#include "image/ImgRecord.h"

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
