#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/Basic.h"
#include "core/TextImage.h"
#include "image/ImgBasic.h"
#include "platform/TextRender.h"

namespace {

struct Box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1, count = 0;
};

Box Extent(const Image& img, int index)
{
    Box b;
    for (int y = 0; y < img.Height; ++y)
        for (int x = 0; x < img.Width; ++x)
            if (img.Data[y * img.Width + x] == index) {
                b.x0 = std::min(b.x0, x);
                b.y0 = std::min(b.y0, y);
                b.x1 = std::max(b.x1, x);
                b.y1 = std::max(b.y1, y);
                ++b.count;
            }
    return b;
}

int At(const Image& img, int x, int y)
{
    if (x < 0 || y < 0 || x >= img.Width || y >= img.Height) return -1;
    return img.Data[y * img.Width + x];
}

TextParams Params(const std::string& text_font = "DejaVu Sans")
{
    TextParams p;
    InitTextParams(p);
    p.FontName = text_font;
    p.PointSize = 12;
    p.TextIndex = 1;
    p.BorderIndex = 2;
    return p;
}

struct Img {
    Image img;
    ~Img() { ImgFree(img); }
};

}  // namespace

TEST(TextImage, DefaultsAndEmptyText)
{
    TextParams p;
    p.ImageWidth = 5;
    InitTextParams(p);
    EXPECT_EQ(p.FontName, "Arial");
    EXPECT_EQ(p.PointSize, 12);
    EXPECT_EQ(p.OffsetX, 1);
    EXPECT_EQ(p.OffsetY, 1);
    EXPECT_EQ(p.BackIndex, 0);
    EXPECT_EQ(p.TextIndex, 1);
    EXPECT_EQ(p.BorderIndex, 2);
    EXPECT_EQ(p.BackRGB, 16777215u);
    EXPECT_EQ(p.BorderRGB, 8421504u);
    EXPECT_TRUE(p.Transparent);
    EXPECT_EQ(p.ImageWidth, 0);

    Img target;
    ImgAlloc(target.img, 20, 10, 8);
    std::memset(target.img.Data, 7, target.img.Size);
    p.ImageWidth = 3;
    p.ImageHeight = 3;
    InsertTextImage(target.img, "", 0, p, 0);
    EXPECT_EQ(p.ImageWidth, 0);
    EXPECT_EQ(p.ImageHeight, 0);
    EXPECT_EQ(Extent(target.img, 7).count, 200);
}

TEST(TextImage, TransparentBackgroundTakesFirstFreeIndex)
{
    TextParams p = Params();
    p.TextIndex = 0;
    p.BorderIndex = 1;
    p.BackIndex = 0;
    Img t;
    MakeTextImage(t.img, "x", p);
    EXPECT_EQ(p.BackIndex, 2);
    ASSERT_GT(p.ImageWidth, 0);
    // The palette carries the three colours at their indices (blue, green, red order).
    EXPECT_EQ(t.img.Pal[2][0], 255);
    EXPECT_EQ(t.img.Pal[1][2], 128);
}

TEST(TextImage, CreateTextImgExpandsPaddedBitRows)
{
    TextParams p = Params();
    p.BackIndex = 9;
    // 40 pixels: 5 bytes of bits, padded to 8 per row; padding bits must not show.
    const uint8_t bits[16] = {0x80, 0, 0, 0, 0x01, 0xFF, 0xFF, 0xFF, 0x40, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF};
    Img t;
    CreateTextImg(t.img, 40, 2, p, bits, 1);
    ASSERT_EQ(t.img.Width, 40);
    ASSERT_EQ(t.img.Bpp, 8);
    EXPECT_EQ(At(t.img, 0, 0), 1);
    EXPECT_EQ(At(t.img, 39, 0), 1);
    EXPECT_EQ(At(t.img, 1, 1), 1);
    EXPECT_EQ(Extent(t.img, 1).count, 3);
    EXPECT_EQ(Extent(t.img, 9).count, 77);
}

TEST(TextImage, SpriteSizeFollowsMeasuredExtent)
{
    for (const char* s : {"i", "Hello", "Kelvane Studio says goodbye"}) {
        TextParams p = Params();
        p.Effect = TE_NONE;
        Img t;
        MakeTextImage(t.img, s, p);
        ASSERT_GT(p.TextWidth, 0) << s;
        EXPECT_EQ(p.ImageWidth % 32, 0) << s;
        EXPECT_GE(p.ImageWidth, p.TextWidth) << s;
        EXPECT_LT(p.ImageWidth, p.TextWidth + 32) << s;
        EXPECT_EQ(p.ImageHeight, p.TextHeight) << s;
        // 12 points at 96 pixels per inch: a 16-pixel character height, plus the line gap.
        EXPECT_GE(p.TextHeight, 16);
        EXPECT_LE(p.TextHeight, 24);
        Box b = Extent(t.img, 1);
        EXPECT_LE(b.x1, p.TextWidth + 1) << s;
    }
}

TEST(TextImage, GlyphPixelsLieWhereTheTextIs)
{
    TextParams p = Params();
    Img dot, quote, left, right;
    MakeTextImage(dot.img, ".", p);
    MakeTextImage(quote.img, "'", p);
    Box d = Extent(dot.img, 1), q = Extent(quote.img, 1);
    ASSERT_GT(d.count, 0);
    ASSERT_GT(q.count, 0);
    const int h = p.TextHeight;
    EXPECT_GT(d.y0, h / 2);  // a full stop sits on the baseline
    EXPECT_LT(q.y1, h / 2);  // an apostrophe hangs from the top

    MakeTextImage(left.img, "l", p);
    const int w = p.TextWidth;
    MakeTextImage(right.img, "    l", p);
    Box l = Extent(left.img, 1), r = Extent(right.img, 1);
    EXPECT_EQ(r.x0 - l.x0, p.TextWidth - w);  // shifted by exactly the blanks' advance
    EXPECT_EQ(r.y0, l.y0);
    EXPECT_EQ(r.count, l.count);
    // A tall thin stroke.
    EXPECT_GT(l.y1 - l.y0, 3 * (l.x1 - l.x0));
}

TEST(TextImage, StylesChangeThePixels)
{
    TextParams p = Params();
    Img regular, bold, under;
    MakeTextImage(regular.img, "Mm", p);
    const int tw = p.TextWidth;
    p.Style = TS_BOLD;
    MakeTextImage(bold.img, "Mm", p);
    EXPECT_GT(Extent(bold.img, 1).count, Extent(regular.img, 1).count);
    p.Style = TS_UNDERLINE;
    MakeTextImage(under.img, "Mm", p);
    // Some row below the glyphs' lowest row is covered across the text width.
    Box g = Extent(regular.img, 1);
    bool found = false;
    for (int y = g.y1 + 1; y < under.img.Height; ++y) {
        int n = 0;
        for (int x = 0; x < tw; ++x) n += At(under.img, x, y) == 1;
        found = found || n == tw;
    }
    EXPECT_TRUE(found);
}

TEST(TextImage, BorderSurroundsEveryGlyphPixel)
{
    TextParams p = Params();
    Img glyphs, bordered;
    MakeTextImage(glyphs.img, "Ok", p);
    p.Effect = TE_BORDER;
    MakeTextImage(bordered.img, "Ok", p);
    ASSERT_EQ(bordered.img.Width, glyphs.img.Width + 2);
    ASSERT_EQ(bordered.img.Height, glyphs.img.Height + 2);
    EXPECT_EQ(p.ImageWidth, glyphs.img.Width + 2);
    for (int y = 0; y < bordered.img.Height; ++y)
        for (int x = 0; x < bordered.img.Width; ++x) {
            const int v = At(bordered.img, x, y);
            const bool glyph = At(glyphs.img, x - 1, y - 1) == 1;
            bool near = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) near = near || At(glyphs.img, x - 1 + dx, y - 1 + dy) == 1;
            if (glyph) EXPECT_EQ(v, 1);
            else if (near) EXPECT_EQ(v, 2) << x << "," << y;
            else EXPECT_EQ(v, 0) << x << "," << y;
        }
}

TEST(TextImage, ShadowLiesBehindShifted)
{
    for (int sign : {1, -1}) {
        TextParams p = Params();
        Img glyphs, shadowed;
        MakeTextImage(glyphs.img, "T", p);
        p.Effect = TE_SHADOW;
        p.OffsetX = 2 * sign;
        p.OffsetY = 1 * sign;
        MakeTextImage(shadowed.img, "T", p);
        ASSERT_EQ(shadowed.img.Width, glyphs.img.Width + 2);
        ASSERT_EQ(shadowed.img.Height, glyphs.img.Height + 1);
        const int gx = sign > 0 ? 0 : 2, gy = sign > 0 ? 0 : 1;      // where the glyphs go
        const int sx = sign > 0 ? 2 : 0, sy = sign > 0 ? 1 : 0;      // where the shadow goes
        int shadow = 0;
        for (int y = 0; y < glyphs.img.Height; ++y)
            for (int x = 0; x < glyphs.img.Width; ++x) {
                if (At(glyphs.img, x, y) != 1) continue;
                EXPECT_EQ(At(shadowed.img, x + gx, y + gy), 1);
                const int s = At(shadowed.img, x + sx, y + sy);
                EXPECT_TRUE(s == 1 || s == 2);
                shadow += s == 2;
            }
        EXPECT_GT(shadow, 0);
        EXPECT_EQ(Extent(shadowed.img, 1).count, Extent(glyphs.img, 1).count);
    }
}

TEST(TextImage, StampColorClipsToTarget)
{
    Img src, dst;
    ImgAlloc(src.img, 3, 3, 8);
    std::memset(src.img.Data, 5, 9);
    src.img.Data[4] = 6;
    ImgAlloc(dst.img, 4, 4, 8);
    std::memset(dst.img.Data, 0, 16);
    StampColor(dst.img, src.img, -1, -1, 5, 9);
    EXPECT_EQ(Extent(dst.img, 9).count, 3);  // the centre (6) of src lands on (0,0) and is not stamped
    EXPECT_EQ(At(dst.img, 0, 0), 0);
    StampColor(dst.img, src.img, 3, 3, 5, 8);
    EXPECT_EQ(Extent(dst.img, 8).count, 1);
    StampColor(dst.img, src.img, 100, -100, 5, 7);
    EXPECT_EQ(Extent(dst.img, 7).count, 0);
    Img wide;
    ImgAlloc(wide.img, 4, 4, 24);
    std::memset(wide.img.Data, 0, wide.img.Size);
    StampColor(wide.img, src.img, 0, 0, 5, 9);  // only between 8-bit images
    EXPECT_EQ(std::count(wide.img.Data, wide.img.Data + wide.img.Size, 9), 0);
}

TEST(TextImage, InsertIntoPalettedTargetLeavesBackgroundOut)
{
    TextParams p = Params();
    p.TextIndex = 10;
    p.BorderIndex = 11;
    p.Effect = TE_BORDER;
    Img target;
    ImgAlloc(target.img, 100, 40, 8);
    std::memset(target.img.Data, 200, target.img.Size);
    target.img.Pal[10][0] = 33;
    const int blocks = MemCount();
    InsertTextImage(target.img, "Hi", 5, p, 5);
    EXPECT_EQ(MemCount(), blocks);  // every temporary image is released
    ASSERT_GT(p.ImageWidth, 0);
    Box t = Extent(target.img, 10), b = Extent(target.img, 11);
    EXPECT_GT(t.count, 0);
    EXPECT_GT(b.count, 0);
    EXPECT_EQ(t.count + b.count + Extent(target.img, 200).count, 4000);
    EXPECT_GE(b.x0, 5);
    EXPECT_GE(b.y0, 5);
    EXPECT_EQ(target.img.Pal[10][0], 33);  // the target's palette is not touched

    // Text running past the edges is cut, nothing is written outside.
    InsertTextImage(target.img, "Edge", 90, p, 30);
    InsertTextImage(target.img, "Edge", -20, p, -10);
    EXPECT_EQ(target.img.Width, 100);

    // Opaque insertion writes the background index as well.
    p.Transparent = 0;
    p.BackIndex = 12;
    InsertTextImage(target.img, "Hi", 0, p, 0);
    EXPECT_EQ(At(target.img, 0, 0), 12);
}

TEST(TextImage, InsertIntoTrueColourTarget)
{
    TextParams p = Params();
    p.TextRGB = 0x0000FF;    // red
    p.BorderRGB = 0x00FF00;  // green
    p.Effect = TE_BORDER;
    Img target;
    ImgAlloc(target.img, 80, 30, 24);
    for (int i = 0; i < target.img.Size; i += 3) {
        target.img.Data[i] = 1;
        target.img.Data[i + 1] = 2;
        target.img.Data[i + 2] = 3;
    }
    InsertTextImage(target.img, "Hi", 2, p, 2);
    EXPECT_EQ(p.BackRGB, 0u);
    int red = 0, green = 0, untouched = 0;
    for (int i = 0; i < target.img.Size; i += 3) {
        const uint8_t* px = target.img.Data + i;
        if (px[0] == 0 && px[1] == 0 && px[2] == 255) ++red;
        else if (px[0] == 0 && px[1] == 255 && px[2] == 0) ++green;
        else if (px[0] == 1 && px[1] == 2 && px[2] == 3) ++untouched;
    }
    EXPECT_GT(red, 0);
    EXPECT_GT(green, 0);
    EXPECT_EQ(red + green + untouched, 80 * 30);

    // A black text moves the transparent colour off black.
    p.TextRGB = 0;
    InsertTextImage(target.img, "x", 2, p, 2);
    EXPECT_EQ(p.BackRGB, 64u);
}

TEST(TextRender, FontMatchingAndScaling)
{
    EXPECT_EQ(TextMulDiv(12, 96, 72), 16);
    EXPECT_EQ(TextMulDiv(5, 3, 2), 8);
    EXPECT_EQ(TextMulDiv(-5, 3, 2), -8);
    EXPECT_EQ(TextMulDiv(1, 1, 0), -1);
    TextFontSpec request;
    request.Face = "No Such Face Anywhere";
    request.CharHeight = 16;
    TextFont* f = TextFontCreate(request);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(TextFontFamily(f).empty());
    int w = 0, h = 0;
    EXPECT_TRUE(TextMeasure(f, "abc", w, h));
    EXPECT_GT(w, 10);
    EXPECT_GT(h, 15);
    TextFontDelete(f);
    EXPECT_EQ(f, nullptr);
    request.CharHeight = 0;
    EXPECT_EQ(TextFontCreate(request), nullptr);
}
