#include "core/LogoBuilder.h"
#include "image/ImgBasic.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Windows colour: red in the lowest byte.
constexpr int32_t Rgb(int r, int g, int b) { return r | (g << 8) | (b << 16); }

void ExpectEntry(const uint8_t pal[256][3], int i, int r, int g, int b)
{
    EXPECT_EQ(pal[i][2], r) << "entry " << i;
    EXPECT_EQ(pal[i][1], g) << "entry " << i;
    EXPECT_EQ(pal[i][0], b) << "entry " << i;
}

struct LogoImage {
    Image img;
    explicit LogoImage(int w = LOGO_WIDTH, int h = LOGO_HEIGHT)
    {
        ImgAlloc(img, w, h, 8);
        std::memset(img.Data, 7, static_cast<size_t>(w) * h);
    }
    ~LogoImage() { ImgFree(img); }
    int At(int x, int y) const { return img.Data[y * img.Width + x]; }
};

}  // namespace

TEST(BandPalette, SmoothScrollRunsToColourTwoAndBack)
{
    uint8_t pal[256][3] = {};
    MakeBandPalette(pal, 236, Rgb(0, 128, 255), Rgb(0, 0, 96), 0);
    ExpectEntry(pal, 236, 0, 128, 255);
    ExpectEntry(pal, 245, 0, 0, 96);
    ExpectEntry(pal, 246, 0, 0, 96);
    EXPECT_EQ(0, std::memcmp(pal[255], pal[236], 3));
    // two integer divisions summed: d = 4 gives 96*4/9 + 255*5/9 for blue
    ExpectEntry(pal, 240, 0, 128 * 5 / 9, 96 * 4 / 9 + 255 * 5 / 9);
    ExpectEntry(pal, 235, 0, 0, 0);  // outside the band: untouched
}

TEST(BandPalette, VegasStyleAlternatesInFives)
{
    uint8_t pal[256][3] = {};
    const int32_t c1 = Rgb(10, 20, 30), c2 = Rgb(200, 100, 50);
    MakeBandPalette(pal, 236, c1, c2, 1);
    for (int i = 0; i < 20; ++i) {
        bool two = (i / 5) % 2 == 0;
        ExpectEntry(pal, 236 + i, two ? 200 : 10, two ? 100 : 20, two ? 50 : 30);
    }
    MakeBandPalette(pal, 236, c1, c2, 5);
    for (int i = 236; i < 256; ++i) ExpectEntry(pal, i, 0, 0, 0);
}

TEST(Band, BottomSmoothScrollIsADiagonalChecker)
{
    LogoImage li;
    DrawBand(li.img, 236, 1, 0);
    for (int x = 0; x < LOGO_WIDTH; ++x) EXPECT_EQ(li.At(x, 393), 7);
    // column 0 and 1: 255; column 2: odd rows 254, even rows 255; column 3: 254; column 4: odd 253
    EXPECT_EQ(li.At(0, 394), 255);
    EXPECT_EQ(li.At(1, 395), 255);
    EXPECT_EQ(li.At(2, 395), 254);
    EXPECT_EQ(li.At(2, 394), 255);
    EXPECT_EQ(li.At(3, 394), 254);
    EXPECT_EQ(li.At(4, 395), 253);
    EXPECT_EQ(li.At(4, 396), 254);
    for (int y = 394; y < 400; ++y)
        for (int x = 0; x < LOGO_WIDTH; ++x) {
            ASSERT_GE(li.At(x, y), 236);
            ASSERT_LE(li.At(x, y), 255);
        }
    // the index wraps from 236 back to 255: 40 columns step through all 20 entries
    EXPECT_EQ(li.At(41, 395), li.At(1, 395));
}

TEST(Band, VegasStripesAndShapes)
{
    LogoImage top;
    DrawBand(top.img, 236, 0, 1);
    EXPECT_EQ(top.At(0, 0), 255);  // the first stripe is one column wide
    for (int x = 1; x <= 4; ++x) EXPECT_EQ(top.At(x, 5), 254);
    EXPECT_EQ(top.At(5, 3), 253);
    EXPECT_EQ(top.At(5, 6), 7);

    LogoImage sides;
    DrawBand(sides.img, 236, 2, 0);
    EXPECT_EQ(sides.At(0, 0), 236);
    EXPECT_EQ(sides.At(3, 399) >= 236, true);
    EXPECT_EQ(sides.At(316, 10) >= 236, true);
    EXPECT_EQ(sides.At(4, 10), 7);
    EXPECT_EQ(sides.At(315, 10), 7);
    // vertical move 0: row 2 has odd columns one step up
    EXPECT_EQ(sides.At(1, 2), 237);
    EXPECT_EQ(sides.At(0, 2), 236);

    LogoImage none;
    DrawBand(none.img, 236, 7, 0);
    for (int y = 0; y < LOGO_HEIGHT; ++y)
        for (int x = 0; x < LOGO_WIDTH; ++x) ASSERT_EQ(none.At(x, y), 7);
}

TEST(Band, TinyImageIsClipped)
{
    LogoImage li(3, 2);
    DrawBand(li.img, 250, 1, 0);  // the band is clipped to two rows; entries clamp at 255
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            EXPECT_GE(li.At(x, y), 250);
            EXPECT_LE(li.At(x, y), 255);
        }
}

TEST(LogoColor, NearOrWeighted)
{
    uint8_t pal[256][3] = {};
    pal[1][0] = 0, pal[1][1] = 0, pal[1][2] = 250;     // red 250
    pal[2][0] = 250, pal[2][1] = 250, pal[2][2] = 250; // near white
    EXPECT_EQ(FindLogoColor(Rgb(255, 0, 0), pal, 236), 1);
    EXPECT_EQ(FindLogoColor(Rgb(255, 255, 255), pal, 236), 2);
    EXPECT_EQ(FindLogoColor(Rgb(0, 0, 0), pal, 236), 0);  // first of the equal black entries
    // pure green is far from every entry: the weighted search decides (green weighs most)
    uint8_t pal2[256][3] = {};
    for (auto& e : pal2) e[0] = e[1] = e[2] = 255;
    pal2[0][0] = 255, pal2[0][1] = 0, pal2[0][2] = 255;   // magenta: green differs by 255
    pal2[1][0] = 0, pal2[1][1] = 140, pal2[1][2] = 0;     // dark green
    EXPECT_EQ(FindLogoColor(Rgb(0, 255, 0), pal2, 2), 1);
    EXPECT_EQ(FindLogoColor(Rgb(0, 255, 0), pal2, 1), 0);
}

TEST(LogoPalette, ShiftMakesRoomForBlackAndBand)
{
    Image img;
    ImgAlloc(img, 4, 1, 8);
    for (int i = 0; i < 256; ++i) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = static_cast<uint8_t>(i);
    const uint8_t px[4] = {0, 5, 234, 100};
    std::memcpy(img.Data, px, 4);
    ShiftPaletteForLogo(img);
    EXPECT_EQ(img.Data[0], 1);
    EXPECT_EQ(img.Data[2], 235);
    EXPECT_EQ(img.Pal[0][0], 0);
    EXPECT_EQ(img.Pal[1][0], 0);
    EXPECT_EQ(img.Pal[235][1], 234);
    for (int i = 236; i < 256; ++i) EXPECT_EQ(img.Pal[i][2], 0);
    ImgFree(img);
}
