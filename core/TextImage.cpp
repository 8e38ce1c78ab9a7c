#include "core/TextImage.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/ImgBasic.h"
#include "platform/TextRender.h"

#include <cstdlib>
#include <new>

void InitTextParams(TextParams& params)
{
    TRACE("textgen.InitTextParams");
    params = TextParams();
    params.FontName = "Arial";
    params.PointSize = 12;
    params.Style = 0;
    params.CharSet = 0;
    params.OffsetX = 1;
    params.OffsetY = 1;
    params.BackIndex = 0;
    params.TextIndex = 1;
    params.BorderIndex = 2;
    params.Effect = TE_NONE;
    params.BackRGB = 16777215;
    params.TextRGB = 0;
    params.BorderRGB = 8421504;
    params.Transparent = 1;
}

static void SetPalEntry_(Image& image, int index, uint32_t rgb)
{
    TRACE("textgen.SetPalEntry_");
    if (index < 0 || index > 255) return;
    image.Pal[index][0] = static_cast<uint8_t>((rgb >> 16) & 0xFF);  // blue
    image.Pal[index][1] = static_cast<uint8_t>((rgb >> 8) & 0xFF);
    image.Pal[index][2] = static_cast<uint8_t>(rgb & 0xFF);          // red
}

void SetTextPalette(Image& image, const TextParams& params)
{
    TRACE("textgen.SetTextPalette");
    SetPalEntry_(image, params.BackIndex, params.BackRGB);
    SetPalEntry_(image, params.TextIndex, params.TextRGB);
    SetPalEntry_(image, params.BorderIndex, params.BorderRGB);
}

// A new zero-filled image record on the heap, registered under owner.
static Image* AllocImgPtr_(Image** owner)
{
    TRACE("textgen._AllocImgPtr");
    MonBlock([&] {
        int rc = MemAllocT(owner, static_cast<int64_t>(sizeof(Image)), __LINE__, "textgen._AllocImgPtr.result");
        if (rc != 0) MonError(EC_MEMORY, rc, __LINE__);
        FillMem(0, sizeof(Image), *owner);
        new (*owner) Image();
    });
    return *owner;
}

// Releases a record made by AllocImgPtr_ together with its pixels.
static void FreeImgPtr_(Image** owner)
{
    TRACE("textgen.FreeImgPtr_");
    if (*owner) ImgFree(**owner);
    MemFreeT(owner);
}

void CreateTextImg(Image& image, int width, int height, const TextParams& params, const uint8_t* bits, int bitsPerPixel)
{
    TRACE("textgen.CreateTextImg");
    MonBlock([&] {
        if (!ImgSizeOK(width, height, 8)) MonError(EC_GENERAL, GE_RANGE, __LINE__);
        ImgFree(image);
        ImgAllocNamed(image, width, height, "textgen.CreateTextImg.img", __LINE__, 8);
        const uint8_t back = static_cast<uint8_t>(params.BackIndex);
        const uint8_t text = static_cast<uint8_t>(params.TextIndex);
        if (bitsPerPixel != 1 || !bits) {
            FillMem(back, image.Size, image.Data);
            return;
        }
        // Bit rows are padded to 4-byte boundaries, as a device-independent bitmap's are.
        const int64_t rowBytes = ((static_cast<int64_t>(width) + 31) / 32) * 4;
        for (int y = 0; y < height; ++y) {
            const uint8_t* src = bits + y * rowBytes;
            uint8_t* dst = image.Data + static_cast<int64_t>(y) * width;
            for (int x = 0; x < width; ++x) dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? text : back;
        }
    });
}

void Text_MakeSprite(Image& image, const std::string& text, TextParams& params)
{
    TRACE("textgen.Text_MakeSprite");
    if (text.empty()) return;
    MonBlock([&] {
        TextFontSpec request;
        request.Face = params.FontName.substr(0, 32);
        // A negative height asks for the character height, as a logical font does.
        request.CharHeight = std::abs(TextMulDiv(params.PointSize, TextScreenPPI(), 72));
        if (request.CharHeight == 0) request.CharHeight = TextMulDiv(12, TextScreenPPI(), 72);
        request.Weight = (params.Style & TS_BOLD) ? 700 : 400;
        request.Italic = (params.Style & TS_ITALIC) != 0;
        request.Underline = (params.Style & TS_UNDERLINE) != 0;
        request.Strikeout = (params.Style & TS_STRIKEOUT) != 0;
        request.CharSet = params.CharSet;
        TextFont* font = TextFontCreate(request);
        if (!font) return;  // no usable font: the image stays empty
        int tw = 0, th = 0;
        bool measured = TextMeasure(font, text, tw, th);
        params.TextWidth = tw;
        params.TextHeight = th;
        const int64_t width = ((static_cast<int64_t>(tw) + 7) / 8 + 3) / 4 * 4 * 8;
        const int64_t height = th;
        if (!measured || width <= 0 || height <= 0 || !ImgSizeOK(width, height, 8)) {
            TextFontDelete(font);
            return;
        }
        const int64_t rowBytes = width / 8;
        uint8_t* bits = nullptr;
        if (MemAllocT(&bits, rowBytes * height, __LINE__, "textgen.Text_MakeSprite.bits") != 0) {
            TextFontDelete(font);
            MonError(EC_MEMORY, ME_ALLOC, __LINE__);
        }
        FillMem(0, rowBytes * height, bits);
        int depth = TextDrawMono(font, text, bits, static_cast<int>(width), static_cast<int>(height),
                                 static_cast<int>(rowBytes));
        TextFontDelete(font);
        if (depth == 1) {
            CreateTextImg(image, static_cast<int>(width), static_cast<int>(height), params, bits, 1);
            SetTextPalette(image, params);
        } else if (depth != 0) {
            MonErrorMsg(EC_GENERAL, std::to_string(depth) + "-bit DC", __LINE__);
        }
        MemFreeT(&bits);
    });
}

void StampColor(Image& dest, const Image& src, int x, int y, int match, int write)
{
    TRACE("textgen.StampColor");
    if (dest.Bpp != 8 || src.Bpp != 8 || !dest.Data || !src.Data) return;
    const int x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
    const int64_t x1 = static_cast<int64_t>(x) + src.Width < dest.Width ? static_cast<int64_t>(x) + src.Width : dest.Width;
    const int64_t y1 = static_cast<int64_t>(y) + src.Height < dest.Height ? static_cast<int64_t>(y) + src.Height : dest.Height;
    const uint8_t m = static_cast<uint8_t>(match), w = static_cast<uint8_t>(write);
    if (match < 0 || match > 255) return;
    for (int64_t dy = y0; dy < y1; ++dy) {
        const uint8_t* s = src.Data + (dy - y) * src.Width;
        uint8_t* d = dest.Data + dy * dest.Width;
        for (int64_t dx = x0; dx < x1; ++dx)
            if (s[dx - x] == m) d[dx] = w;
    }
}

// dest becomes a new 8-bit image filled with the background index, with src's palette.
static void NewEffectImage_(Image& dest, const Image& src, int64_t width, int64_t height, const TextParams& params,
                            const char* tag, int line)
{
    TRACE("textgen.NewEffectImage_");
    if (!ImgSizeOK(width, height, 8)) MonError(EC_GENERAL, GE_RANGE, line);
    ImgFree(dest);
    ImgAllocNamed(dest, static_cast<int>(width), static_cast<int>(height), tag, line, 8);
    FillMem(static_cast<uint8_t>(params.BackIndex), dest.Size, dest.Data);
    ImgCopyPalette(src, dest);
}

static void TextAddShadow_(Image& dest, Image& src, const TextParams& params)
{
    TRACE("textgen._Text_AddShadow");
    MonBlock([&] {
        const int64_t dx = params.OffsetX, dy = params.OffsetY;
        NewEffectImage_(dest, src, std::llabs(dx) + src.Width, std::llabs(dy) + src.Height, params,
                        "textgen._Text_AddShadow.imgDest", __LINE__);
        StampColor(dest, src, dx >= 0 ? static_cast<int>(dx) : 0, dy >= 0 ? static_cast<int>(dy) : 0,
                   params.TextIndex, params.BorderIndex);
        ImgSprite(src, dest, dx >= 0 ? 0 : static_cast<int>(-dx), dy >= 0 ? 0 : static_cast<int>(-dy),
                  static_cast<uint32_t>(params.BackIndex));
    });
}

static void TextAddBorder_(Image& dest, Image& src, const TextParams& params)
{
    TRACE("textgen._Text_AddBorder");
    MonBlock([&] {
        const int64_t a = std::llabs(static_cast<int64_t>(params.OffsetX));
        const int64_t b = std::llabs(static_cast<int64_t>(params.OffsetY));
        // Each step stamps the whole glyph image; a thickness beyond this is no outline any more.
        if (a > 64 || b > 64) MonError(EC_GENERAL, GE_RANGE, __LINE__);
        NewEffectImage_(dest, src, src.Width + 2 * a, src.Height + 2 * b, params, "textgen._Text_AddBorder.imgDest",
                        __LINE__);
        for (int i = 0; i <= 2 * b; ++i)
            for (int j = 0; j <= 2 * a; ++j) StampColor(dest, src, j, i, params.TextIndex, params.BorderIndex);
        ImgSprite(src, dest, static_cast<int>(a), static_cast<int>(b), static_cast<uint32_t>(params.BackIndex));
    });
}

void MakeTextImage(Image& image, const std::string& text, TextParams& params)
{
    TRACE("textgen.MakeTextImage");
    MonBlock([&] {
        params.ImageWidth = 0;
        params.ImageHeight = 0;
        if (text.empty()) return;
        if (params.Transparent) {
            int n = 0;
            while (n == params.TextIndex || n == params.BorderIndex) ++n;
            params.BackIndex = n;
        }
        Image* glyphs = nullptr;
        Image* result = nullptr;
        AllocImgPtr_(&glyphs);
        Text_MakeSprite(*glyphs, text, params);
        if (!glyphs->Data || glyphs->Width <= 0 || glyphs->Height <= 0) {
            FreeImgPtr_(&glyphs);
            return;
        }
        if (params.Effect == TE_SHADOW || params.Effect == TE_BORDER) {
            AllocImgPtr_(&result);
            if (params.Effect == TE_SHADOW) TextAddShadow_(*result, *glyphs, params);
            else TextAddBorder_(*result, *glyphs, params);
            FreeImgPtr_(&glyphs);
        } else {
            result = glyphs;
            glyphs = nullptr;
        }
        params.ImageWidth = result->Width;
        params.ImageHeight = result->Height;
        ImgFree(image);
        ImgCopy(*result, image);
        FreeImgPtr_(&result);
        SetTextPalette(image, params);
    });
}

void InsertTextImage(Image& target, const std::string& text, int x, TextParams& params, int y)
{
    TRACE("textgen.InsertTextImage");
    MonBlock([&] {
        Image textImg;
        MakeTextImage(textImg, text, params);
        if (params.ImageWidth != 0 && params.ImageHeight != 0) {
            // Inserting an 8-bit image hands its palette to the target; the text uses the target's
            // own indices, so the target keeps its palette.
            if (target.Bpp == 8) ImgCopyPalette(target, textImg);
            if (params.Transparent && target.Bpp == 8) {
                ImgSprite(textImg, target, x, y, static_cast<uint32_t>(params.BackIndex));
            } else if (params.Transparent) {
                params.BackRGB = 0;
                while (params.BackRGB == params.TextRGB || params.BackRGB == params.BorderRGB) params.BackRGB += 64;
                SetTextPalette(textImg, params);
                ImgConvBpp(textImg, textImg, 24);
                ImgSprite(textImg, target, x, y, SwapRB(params.BackRGB));
            } else {
                ImgInsert(textImg, target, x, y);
            }
        }
        ImgFree(textImg);
    });
}
