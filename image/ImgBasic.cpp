// Depth conversion, the operation frame, crop, flip, insert, swap.
#include "image/ImgBasic.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/PalOpt.h"

static void* const* OwnerC_(const Image& img) { return reinterpret_cast<void* const*>(&img.Data); }

static int BytesOf_(int bpp) { return (bpp + 7) / 8; }

static int DepthIndex_(int bpp)
{
    switch (bpp) {
    case 8: return 0;
    case 15: return 1;
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 5;
    }
}

// ---------------------------------------------------------------- depth conversion

static inline uint16_t To15_(unsigned b, unsigned g, unsigned r)
{
    return static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
}
static inline uint16_t To16_(unsigned b, unsigned g, unsigned r)
{
    return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}
static inline uint16_t Word_(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
static inline void PutWord_(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

static void ToGrey_(const Image& src, Image& dst, int64_t n)
{
    TRACE("ImgBasic.ToGrey_");
    uint8_t table[768];
    for (int k = 0; k < 768; ++k) table[k] = static_cast<uint8_t>(k < 9 ? 0 : k / 3);
    for (int i = 0; i < 256; ++i) dst.Pal[i][0] = dst.Pal[i][1] = dst.Pal[i][2] = static_cast<uint8_t>(i);
    const uint8_t* s = src.Data;
    uint8_t* d = dst.Data;
    switch (src.Bpp) {
    case 15:
        for (int64_t i = 0; i < n; ++i, s += 2) {
            const unsigned v = Word_(s);
            const unsigned sum = (((v >> 10) & 31) * 8 + 7) + ((v & 31) * 8 + 7) + ((((v >> 5) & 31) * 8) | 14);
            d[i] = table[sum];
        }
        break;
    case 16:
        for (int64_t i = 0; i < n; ++i, s += 2) {
            const unsigned v = Word_(s);
            const unsigned sum = ((v >> 11) * 8 + 7) + ((v & 31) * 8 + 7) + ((((v >> 5) & 63) * 4) | 6);
            d[i] = table[sum];
        }
        break;
    case 24:
    case 32: {
        const int step = src.BytesPerPixel;
        for (int64_t i = 0; i < n; ++i, s += step) d[i] = table[s[0] + s[1] + s[2]];
        break;
    }
    default: MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    }
}

static void ConvTo8_(Image& src, Image& dst, int mode, int64_t n)
{
    TRACE("ImgBasic.ConvTo8_");
    switch (mode) {
    case 1: ConvTo8bit(src, dst, PAL_REMAP_DIFFUSION); break;
    case 2: ConvTo8bit(src, dst, PAL_REMAP_ORDERED); break;
    case 3: ToGrey_(src, dst, n); break;
    default: ConvTo8bit(src, dst, PAL_REMAP_NONE); break;
    }
}

static void ConvPalToWord_(const Image& src, Image& dst, int64_t n)
{
    TRACE("ImgBasic.ConvPalToWord_");
    const uint8_t* s = src.Data;
    uint8_t* d = dst.Data;
    uint16_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = dst.Bpp == 15 ? To15_(src.Pal[i][0], src.Pal[i][1], src.Pal[i][2])
                                 : To16_(src.Pal[i][0], src.Pal[i][1], src.Pal[i][2]);
    for (int64_t i = 0; i < n; ++i) PutWord_(d + 2 * i, table[s[i]]);
}

static void ConvPalToRGB_(const Image& src, Image& dst, int64_t n)
{
    TRACE("ImgBasic.ConvPalToRGB_");
    uint8_t* d = dst.Data;
    const int step = BytesOf_(dst.Bpp);
    for (int64_t i = 0; i < n; ++i, d += step) {
        std::memcpy(d, src.Pal[src.Data[i]], 3);
        if (step == 4) d[3] = 0;
    }
}

static void ConvWordToWord_(const Image& src, Image& dst, int64_t n)
{
    TRACE("ImgBasic.ConvWordToWord_");
    for (int64_t i = 0; i < n; ++i) {
        const unsigned v = Word_(src.Data + 2 * i);
        const unsigned w = dst.Bpp == 16 ? (((v << 1) & 0xFFC0) | (v & 0x1F)) : (((v >> 1) & 0xFFE0) | (v & 0x1F));
        PutWord_(dst.Data + 2 * i, static_cast<uint16_t>(w));
    }
}

static void ConvWordToRGB_(const Image& src, Image& dst, int64_t n)
{
    TRACE("ImgBasic.ConvWordToRGB_");
    const uint8_t* s = src.Data;
    uint8_t* d = dst.Data;
    const int step = BytesOf_(dst.Bpp);
    for (int64_t i = 0; i < n; ++i, d += step) {
        const unsigned v = Word_(s + 2 * i);
        d[0] = static_cast<uint8_t>((v & 31) << 3);
        if (src.Bpp == 15) {
            d[1] = static_cast<uint8_t>(((v >> 5) & 31) << 3);
            d[2] = static_cast<uint8_t>(((v >> 10) & 31) << 3);
        } else {
            d[1] = static_cast<uint8_t>(((v >> 5) & 63) << 2);
            d[2] = static_cast<uint8_t>(((v >> 11) & 31) << 3);
        }
        if (step == 4) d[3] = 0;
    }
}

static void ConvRGBToWord_(const Image& src, Image& dst, int64_t n)
{
    TRACE("ImgBasic.ConvRGBToWord_");
    const uint8_t* s = src.Data;
    uint8_t* d = dst.Data;
    const int step = src.BytesPerPixel;
    for (int64_t i = 0; i < n; ++i, s += step)
        PutWord_(d + 2 * i, dst.Bpp == 15 ? To15_(s[0], s[1], s[2]) : To16_(s[0], s[1], s[2]));
}

// Between 24 and 32 bits; the fourth byte of a 32-bit pixel is written as zero.
static void ConvRGBToRGB_(const Image& src, Image& dst, int64_t n)
{
    TRACE("ImgBasic.ConvRGBToRGB_");
    const uint8_t* s = src.Data;
    uint8_t* d = dst.Data;
    const int from = src.BytesPerPixel, to = BytesOf_(dst.Bpp);
    for (int64_t i = 0; i < n; ++i, s += from, d += to) {
        std::memcpy(d, s, 3);
        if (to == 4) d[3] = 0;
    }
}

// Writes src's pixels into dst, already allocated with src's geometry at the new depth.
static void ConvPixels_(Image& src, Image& dst, int mode)
{
    TRACE("ImgBasic.ConvPixels_");
    const int64_t n = static_cast<int64_t>(src.Width) * src.Height;
    const int from = src.Bpp, to = dst.Bpp;
    const bool fromWord = from == 15 || from == 16, toWord = to == 15 || to == 16;
    const bool fromRGB = from == 24 || from == 32, toRGB = to == 24 || to == 32;
    if (to == 8) ConvTo8_(src, dst, mode, n);
    else if (from == 8 && toWord) ConvPalToWord_(src, dst, n);
    else if (from == 8 && toRGB) ConvPalToRGB_(src, dst, n);
    else if (fromWord && toWord) ConvWordToWord_(src, dst, n);
    else if (fromWord && toRGB) ConvWordToRGB_(src, dst, n);
    else if (fromRGB && toWord) ConvRGBToWord_(src, dst, n);
    else if (fromRGB && toRGB) ConvRGBToRGB_(src, dst, n);
    else MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
}

void ImgConvBpp(Image& src, Image& dst, int bpp)
{
    TRACE("ImgBasic.ImgConvBpp");
    ImgConvBppEx(src, dst, bpp, 0);
}

void ImgConvBppEx(Image& src, Image& dst, int bpp, int ditherMode)
{
    TRACE("ImgBasic.ImgConvBppEx");
    MonBlock([&] {
        if (&src == &dst) {
            if (src.Bpp == bpp) return;
            Image temp;
            ImgAllocNamed(temp, src.Width, src.Height, "ImgBasic.ImgConvBppEx.ih_temp", __LINE__, bpp);
            ConvPixels_(src, temp, ditherMode);
            ImgXchg(src, temp);
            ImgFree(temp);
        } else {
            if (src.Bpp == bpp) {
                ImgCopy(src, dst);
                return;
            }
            ImgAllocNamed(dst, src.Width, src.Height, "ImgBasic.ImgConvBppEx.dest", __LINE__, bpp);
            ConvPixels_(src, dst, ditherMode);
        }
    });
}

// ---------------------------------------------------------------- the operation frame

void ImgInitInfo(ImgOpInfo& info)
{
    TRACE("ImgBasic.ImgInitInfo");
    info = ImgOpInfo{};
    for (int& w : info.WorkDepth) w = 24;
    info.InPlace = true;
}

static void Identity_(ImgOpInfo& info)
{
    TRACE("ImgBasic.Identity_");
    const int depths[6] = {8, 15, 16, 24, 32, 24};
    std::copy(depths, depths + 6, info.WorkDepth);
}

void ImgInfo(ImgOpInfo& info, int code)
{
    TRACE("ImgBasic.ImgInfo");
    ImgInitInfo(info);
    info.Code = code;
    switch (code) {
    case OP_FLIPV: Identity_(info); break;
    case OP_SWAPRB:
        Identity_(info);
        info.PaletteMode = true;
        break;
    case OP_SPRITE:
        Identity_(info);
        info.InPlace = false;
        info.ConvertDest = true;
        break;
    case OP_RESIZE:
        info.WorkDepth[0] = 8;
        info.InPlace = false;
        break;
    case OP_RESAMPLE: info.InPlace = false; break;
    case OP_CROP: info.WorkDepth[0] = 8; break;
    case OP_INSERT:
        Identity_(info);
        info.InPlace = false;
        info.MatchDest = true;
        break;
    default: break;
    }
}

static void ResetContext_(ImgOpContext& ctx, int height, int width)
{
    TRACE("ImgBasic.ResetContext_");
    if (MemIsRegistered(OwnerC_(ctx.Temp))) ImgFree(ctx.Temp);
    ctx.FreeTemp = ctx.PaletteMode = ctx.Src8 = ctx.XchgAtEnd = false;
    ctx.SrcRowBytes = ctx.DstRowBytes = 0;
    ctx.SrcTotalBytes = ctx.DstTotalBytes = ctx.SrcPixels = ctx.DstPixels = 0;
    ctx.SrcAreaBytes = ctx.DstAreaBytes = 0;
    ctx.Temp = Image{};
    ctx.SrcBits = ctx.DstBits = nullptr;
    ctx.ReqWidth = width;
    ctx.ReqHeight = height;
    ctx.Src = ctx.Dst = nullptr;
}

// The depth the operation works at; brings the destination to it where the operation asks.
static int WorkDepth_(const ImgOpInfo& info, const Image& src, Image& d)
{
    TRACE("ImgBasic.WorkDepth_");
    int w = info.WorkDepth[DepthIndex_(src.Bpp)];
    if (info.MatchDest) {
        if (w != d.Bpp) {
            if (d.Bpp < w) ImgConvBpp(d, d, w);
            else w = d.Bpp;
        }
    } else if (info.ConvertDest) {
        if (w != d.Bpp) ImgConvBpp(d, d, w);
    }
    return w;
}

// A converted copy of the source, or a temporary result exchanged into the source at the end
// when an operation cannot work in place.
static void ChooseBuffers_(const ImgOpInfo& info, ImgOpContext& ctx, Image& src, Image* d, int height, int width,
                           int w)
{
    TRACE("ImgBasic.ChooseBuffers_");
    if (w != src.Bpp) {
        ImgConvBpp(src, ctx.Temp, w);
        ctx.FreeTemp = true;
        ctx.Src = &ctx.Temp;
        ctx.Dst = d;
    } else if (info.InPlace || &src != d) {
        ctx.Src = &src;
        ctx.Dst = d;
    } else {
        ImgAllocNamed(ctx.Temp, width, height, "ImgBasic.ImgInitEx.temp_ih", __LINE__, w);
        ctx.FreeTemp = ctx.XchgAtEnd = true;
        ctx.Src = &src;
        ctx.Dst = &ctx.Temp;
    }
    if (ctx.Src != ctx.Dst) ImgAllocNamed(*ctx.Dst, width, height, "ImgBasic.ImgInitEx.pdest^", __LINE__, w);
}

// Sizes and pointers of the areas the operation walks: the palettes alone in palette mode.
static void SetAreas_(const ImgOpInfo& info, ImgOpContext& ctx)
{
    TRACE("ImgBasic.SetAreas_");
    Image& s = *ctx.Src;
    Image& t = *ctx.Dst;
    ctx.Src8 = s.Bpp == 8;
    ctx.SrcRowBytes = s.Width * s.BytesPerPixel;
    ctx.DstRowBytes = t.Width * t.BytesPerPixel;
    ctx.SrcTotalBytes = static_cast<int64_t>(ctx.SrcRowBytes) * s.Height;
    ctx.DstTotalBytes = static_cast<int64_t>(ctx.DstRowBytes) * t.Height;
    if (info.PaletteMode && ctx.Src8) {
        ctx.PaletteMode = true;
        ctx.SrcPixels = ctx.DstPixels = 256;
        ctx.SrcAreaBytes = ctx.DstAreaBytes = 768;
        ctx.SrcBits = &s.Pal[0][0];
        ctx.DstBits = &t.Pal[0][0];
    } else {
        ctx.SrcPixels = static_cast<int64_t>(s.Width) * s.Height;
        ctx.DstPixels = static_cast<int64_t>(t.Width) * t.Height;
        ctx.SrcAreaBytes = ctx.SrcTotalBytes;
        ctx.DstAreaBytes = ctx.DstTotalBytes;
        ctx.SrcBits = s.Data;
        ctx.DstBits = t.Data;
    }
}

void ImgInitEx(ImgOpInfo& info, ImgOpContext& ctx, Image& src, int height, int width, Image* dst)
{
    TRACE("ImgBasic.ImgInitEx");
    ResetContext_(ctx, height, width);
    if (!info.InPlace && dst == nullptr) {
        MonError(EC_IMAGE, IE_INIT_FUNCTION, __LINE__);
        return;
    }
    Image* d = dst ? dst : &src;
    const int w = WorkDepth_(info, src, *d);
    ChooseBuffers_(info, ctx, src, d, height, width, w);
    SetAreas_(info, ctx);
}

void ImgDone(ImgOpContext& ctx)
{
    TRACE("ImgBasic.ImgDone");
    if (!ctx.Src || !ctx.Dst) return;
    if (ctx.PaletteMode) ImgCopyData(*ctx.Src, *ctx.Dst);
    else if (ctx.Src8) ImgCopyPalette(*ctx.Src, *ctx.Dst);
    // After the exchange the result lives in the source record.
    Image* result = ctx.Dst;
    if (ctx.XchgAtEnd) {
        ImgXchg(*ctx.Src, ctx.Temp);
        result = ctx.Src;
    }
    if (ctx.FreeTemp) ImgFree(ctx.Temp);
    result->Width = ctx.ReqWidth;
    result->Height = ctx.ReqHeight;
    // Keeps Size truthful when an in-place operation shrank the picture inside its block.
    result->Size = ctx.ReqWidth * ctx.ReqHeight * result->BytesPerPixel;
}

// ---------------------------------------------------------------- crop, flip, insert, swap

void ImgCrop(Image& src, Image& dst, int left, int top, int width, int height)
{
    TRACE("ImgBasic.ImgCrop");
    MonBlock([&] {
        if (left >= src.Width || top >= src.Height) return;
        // A rectangle starting left of or above the picture keeps only its inside part.
        if (left < 0) {
            width += left;
            left = 0;
        }
        if (top < 0) {
            height += top;
            top = 0;
        }
        if (left + static_cast<int64_t>(width) > src.Width) width = src.Width - left;
        if (top + static_cast<int64_t>(height) > src.Height) height = src.Height - top;
        ImgOpInfo info;
        ImgOpContext ctx;
        ImgInfo(info, OP_CROP);
        ImgInitEx(info, ctx, src, height, width, &dst);
        const int bpp = ctx.Src->BytesPerPixel;
        const size_t rowBytes = static_cast<size_t>(width) * bpp;
        const uint8_t* s = ctx.SrcBits + static_cast<int64_t>(top) * ctx.SrcRowBytes + static_cast<int64_t>(left) * bpp;
        uint8_t* d = ctx.DstBits;
        for (int r = 0; r < height; ++r, s += ctx.SrcRowBytes, d += rowBytes) std::memmove(d, s, rowBytes);
        ImgDone(ctx);
    });
}

void ImgFlipV(Image& src, Image& dst)
{
    TRACE("ImgBasic.ImgFlipV");
    MonBlock([&] {
        ImgOpInfo info;
        ImgOpContext ctx;
        ImgInfo(info, OP_FLIPV);
        ImgInitEx(info, ctx, src, src.Height, src.Width, &dst);
        const int h = ctx.Src->Height;
        const size_t row = static_cast<size_t>(ctx.SrcRowBytes);
        if (ctx.Src == ctx.Dst) {
            if (h < 2) {
                ImgDone(ctx);
                return;
            }
            uint8_t* top = ctx.SrcBits;
            uint8_t* bottom = ctx.SrcBits + (h - 1) * row;
            for (; top < bottom; top += row, bottom -= row) std::swap_ranges(top, top + row, bottom);
        } else {
            for (int r = 0; r < h; ++r) std::memcpy(ctx.DstBits + (h - 1 - r) * row, ctx.SrcBits + r * row, row);
        }
        ImgDone(ctx);
    });
}

static void AutoPut_(Image& src, Image& dst, int x, int y, bool sprite, uint32_t colour)
{
    TRACE("ImgBasic.AutoPut_");
    if (x >= dst.Width || y >= dst.Height || &src == &dst) return;
    ImgOpInfo info;
    ImgOpContext ctx;
    ImgInfo(info, sprite ? OP_SPRITE : OP_INSERT);
    ImgInitEx(info, ctx, src, dst.Height, dst.Width, &dst);
    const Image& s = *ctx.Src;
    const Image& d = *ctx.Dst;
    const int bpp = d.BytesPerPixel;
    // Negative positions are clipped: only the part of the source inside the destination is put.
    const int dx = std::max(x, 0), dy = std::max(y, 0);
    const int sx = dx - x, sy = dy - y;
    const int64_t cw = std::min<int64_t>(static_cast<int64_t>(s.Width) - sx, d.Width - dx);
    const int64_t ch = std::min<int64_t>(static_cast<int64_t>(s.Height) - sy, d.Height - dy);
    if (cw > 0 && ch > 0) {
        const size_t srow = static_cast<size_t>(s.Width) * bpp, drow = static_cast<size_t>(d.Width) * bpp;
        const uint8_t* sp = s.Data + sy * srow + static_cast<size_t>(sx) * bpp;
        uint8_t* dp = d.Data + dy * drow + static_cast<size_t>(dx) * bpp;
        for (int64_t r = 0; r < ch; ++r, sp += srow, dp += drow) {
            if (!sprite) {
                std::memcpy(dp, sp, static_cast<size_t>(cw) * bpp);
                continue;
            }
            switch (bpp) {
            case 1: {
                const uint8_t key = static_cast<uint8_t>(colour);
                for (int64_t i = 0; i < cw; ++i)
                    if (sp[i] != key) dp[i] = sp[i];
                break;
            }
            case 2: {
                const uint32_t key = colour & 0xFFFF;
                for (int64_t i = 0; i < cw; ++i)
                    if (static_cast<uint32_t>(sp[2 * i] | (sp[2 * i + 1] << 8)) != key) std::memcpy(dp + 2 * i, sp + 2 * i, 2);
                break;
            }
            case 3: {
                const uint32_t key = colour & 0xFFFFFF;
                for (int64_t i = 0; i < cw; ++i) {
                    const uint8_t* p = sp + 3 * i;
                    if (static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) != key) std::memcpy(dp + 3 * i, p, 3);
                }
                break;
            }
            case 4:
                for (int64_t i = 0; i < cw; ++i) {
                    uint32_t v;
                    std::memcpy(&v, sp + 4 * i, 4);
                    if (v != colour) std::memcpy(dp + 4 * i, &v, 4);
                }
                break;
            default: break;
            }
        }
    }
    ImgDone(ctx);
}

void ImgInsert(Image& src, Image& dst, int x, int y)
{
    TRACE("ImgBasic.ImgInsert");
    MonBlock([&] { AutoPut_(src, dst, x, y, false, 0); });
}

void ImgSprite(Image& src, Image& dst, int x, int y, uint32_t transparentColour)
{
    TRACE("ImgBasic.ImgSprite");
    MonBlock([&] { AutoPut_(src, dst, x, y, true, transparentColour); });
}

void ImgSwapRB(Image& src, Image& dst)
{
    TRACE("ImgBasic.ImgSwapRB");
    MonBlock([&] {
        ImgOpInfo info;
        ImgOpContext ctx;
        ImgInfo(info, OP_SWAPRB);
        ImgInitEx(info, ctx, src, src.Height, src.Width, &dst);
        const uint8_t* s = ctx.SrcBits;
        uint8_t* d = ctx.DstBits;
        const int64_t n = ctx.SrcPixels;
        const int depth = ctx.PaletteMode ? 24 : ctx.Src->Bpp;
        // Every depth is stepped by its own pixel size, so no depth reaches past its block.
        switch (depth) {
        case 24:
            for (int64_t i = 0; i < n; ++i, s += 3, d += 3) {
                const uint8_t b = s[0], g = s[1], r = s[2];
                d[0] = r;
                d[1] = g;
                d[2] = b;
            }
            break;
        case 32:
            for (int64_t i = 0; i < n; ++i, s += 4, d += 4) {
                const uint8_t b = s[0], g = s[1], r = s[2], a = s[3];
                d[0] = r;
                d[1] = g;
                d[2] = b;
                d[3] = a;
            }
            break;
        case 15:
        case 16: {
            const int shift = depth == 15 ? 10 : 11;
            const unsigned mid = depth == 15 ? 0x03E0 : 0x07E0;
            for (int64_t i = 0; i < n; ++i, s += 2, d += 2) {
                const unsigned v = Word_(s);
                PutWord_(d, static_cast<uint16_t>(((v & 31) << shift) | (v & mid) | ((v >> shift) & 31)));
            }
            break;
        }
        default:
            if (ctx.Src != ctx.Dst) std::memcpy(d, s, static_cast<size_t>(ctx.SrcAreaBytes));
            break;
        }
        ImgDone(ctx);
    });
}
