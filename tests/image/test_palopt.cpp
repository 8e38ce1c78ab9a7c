// Colour quantiser: histogram, box splitting, palettes, nearest colour and the remappers.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "base/Basic.h"
#include "image/DitherMatrix.h"
#include "image/ImgBasic.h"
#include "image/PalOpt.h"

namespace {

struct Rgb { int r, g, b; };

class PalOptTest : public ::testing::Test {
protected:
    Image src, dst;
    void TearDown() override
    {
        PalDone();
        ImgFree(src);
        ImgFree(dst);
    }
    // 24-bit image of the given colours, row by row.
    static void Make24(Image& img, int width, int height, const std::vector<Rgb>& colours)
    {
        ImgAlloc(img, width, height, 24);
        for (int i = 0; i < width * height; i++) {
            const Rgb& c = colours[size_t(i) % colours.size()];
            img.Data[i * 3 + 0] = uint8_t(c.b);
            img.Data[i * 3 + 1] = uint8_t(c.g);
            img.Data[i * 3 + 2] = uint8_t(c.r);
        }
    }
    static Rgb PalRgb(const uint8_t pal[][3], int i) { return {pal[i][2], pal[i][1], pal[i][0]}; }
    static void Quantise(Image& img, int wanted)
    {
        PalInit();
        PalCountColors(img);
        PalReduce(wanted);
    }
    // The box of the whole colour cube shrunk around the counted colours of img.
    static PalBox CountedWholeBox(Image& img)
    {
        PalInit();
        PalCountColors(img);
        PalBox whole{};
        whole.HighR = whole.HighG = whole.HighB = 63;
        ShrinkBox(whole);
        return whole;
    }
    // Palette of two entries, black and white (252), from a counted black-and-white image.
    void BlackWhitePalette()
    {
        Image bw;
        Make24(bw, 2, 1, {{0, 0, 0}, {255, 255, 255}});
        Quantise(bw, 2);
        ImgFree(bw);
        ASSERT_EQ(PalRgb(quantP->Pal, 0).r, 0);
        ASSERT_EQ(PalRgb(quantP->Pal, 1).r, 252);
    }
    static void SetGrey(Image& img, int x, int y, int v)
    {
        std::memset(img.Data + (y * img.Width + x) * img.BytesPerPixel, v, 3);
    }
    static int Grey(const Image& img, int x, int y) { return img.Data[(y * img.Width + x) * img.BytesPerPixel]; }
};

#define EXPECT_RGB(pal, i, R, G, B)              \
    do {                                         \
        const Rgb c_ = PalRgb(pal, i);           \
        EXPECT_EQ(c_.r, R) << "entry " << (i);   \
        EXPECT_EQ(c_.g, G) << "entry " << (i);   \
        EXPECT_EQ(c_.b, B) << "entry " << (i);   \
    } while (0)

TEST_F(PalOptTest, CountsAreStoredMinusOneAndSaturate)
{
    Make24(src, 4, 1, {{10, 20, 30}, {10, 20, 30}, {11, 21, 31}, {200, 0, 0}});
    PalInit();
    PalCountColors(src);
    // (10,20,30) and (11,21,31) share a 6-bit cell: three pixels.
    EXPECT_EQ(quantP->Hist[PalCell(10, 20, 30)], 2);
    EXPECT_EQ(quantP->Hist[PalCell(200, 0, 0)], 0);
    EXPECT_EQ(quantP->Hist[PalCell(0, 0, 0)], -1);

    quantP->Hist[PalCell(200, 0, 0)] = INT32_MAX - 1;
    PalCountColors(src);
    EXPECT_EQ(quantP->Hist[PalCell(200, 0, 0)], INT32_MAX);
    PalCountColors(src);
    EXPECT_EQ(quantP->Hist[PalCell(200, 0, 0)], INT32_MAX);

    // 8-bit images add whole palette counts at once, saturating the same way.
    Image img8;
    ImgAlloc(img8, 5, 1, 8);
    std::memset(img8.Data, 7, 5);
    img8.Pal[7][0] = 30; img8.Pal[7][1] = 20; img8.Pal[7][2] = 10;  // blue, green, red
    PalCountColors(img8);
    EXPECT_EQ(quantP->Hist[PalCell(10, 20, 30)], 2 + 3 + 3 + 5);
    quantP->Hist[PalCell(10, 20, 30)] = INT32_MAX - 2;
    PalCountColors(img8);
    EXPECT_EQ(quantP->Hist[PalCell(10, 20, 30)], INT32_MAX);
    PalClearVars();
    EXPECT_EQ(quantP->Hist[PalCell(10, 20, 30)], -1);
    PalCountColors(img8);
    EXPECT_EQ(quantP->Hist[PalCell(10, 20, 30)], 4);
    ImgFree(img8);
}

TEST_F(PalOptTest, WordPixelsLandInTheCellsOfTheir24BitForm)
{
    ImgAlloc(src, 2, 1, 16);
    src.Data[0] = 0xFF; src.Data[1] = 0xFF;  // 16-bit white: 248, 252, 248
    src.Data[2] = 0x1F; src.Data[3] = 0x00;  // pure blue 31: 0, 0, 248
    PalInit();
    PalCountColors(src);
    EXPECT_EQ(quantP->Hist[PalCell(248, 252, 248)], 0);
    EXPECT_EQ(quantP->Hist[PalCell(0, 0, 248)], 0);
    ImgFree(src);

    ImgAlloc(src, 1, 1, 15);
    src.Data[0] = 0xFF; src.Data[1] = 0x7F;  // 15-bit white: 248, 248, 248
    PalClearVars();
    PalCountColors(src);
    EXPECT_EQ(quantP->Hist[PalCell(248, 248, 248)], 0);
}

TEST_F(PalOptTest, ThirtyTwoBitPixelsIgnoreTheirFourthByte)
{
    ImgAlloc(src, 3, 1, 32);
    const uint8_t pixels[12] = {0, 0, 200, 77, 0, 0, 200, 99, 8, 8, 8, 1};  // blue, green, red, x
    std::memcpy(src.Data, pixels, 12);
    Quantise(src, 256);
    EXPECT_EQ(quantP->Distinct, 2);
    PalRemap(src, dst, PAL_REMAP_DIFFUSION);
    EXPECT_EQ(dst.Data[0], dst.Data[1]);
    EXPECT_RGB(dst.Pal, dst.Data[0], 200, 0, 0);
    EXPECT_RGB(dst.Pal, dst.Data[2], 8, 8, 8);
    EXPECT_EQ(src.Data[7], 99);  // the errors go into the colour bytes only
    EXPECT_EQ(src.Data[11], 1);
}

TEST_F(PalOptTest, LowPaletteKeepsEveryColourInCellOrderDarkestFirst)
{
    // Cell order: (200,0,0) 50, (0,255,0) 4032, (9,9,9) 8322, (0,0,255) 258048.
    const std::vector<Rgb> colours = {{0, 0, 255}, {9, 9, 9}, {200, 0, 0}, {0, 255, 0}, {200, 1, 3}};
    Make24(src, 5, 2, colours);
    Quantise(src, 256);
    EXPECT_EQ(quantP->Distinct, 4);
    // The darkest, (8,8,8), trades places with the first by cell order.
    EXPECT_RGB(quantP->Pal, 0, 8, 8, 8);
    EXPECT_RGB(quantP->Pal, 1, 0, 252, 0);
    EXPECT_RGB(quantP->Pal, 2, 200, 0, 0);
    EXPECT_RGB(quantP->Pal, 3, 0, 0, 252);
    for (int i = 4; i < 256; i++) EXPECT_RGB(quantP->Pal, i, 255, 255, 255);

    PalRemap(src, dst, PAL_REMAP_NONE);
    ASSERT_EQ(dst.Bpp, 8);
    ASSERT_EQ(dst.Width, 5);
    ASSERT_EQ(dst.Height, 2);
    const uint8_t expected[5] = {3, 0, 2, 1, 2};
    for (int i = 0; i < 10; i++) EXPECT_EQ(dst.Data[i], expected[i % 5]) << i;
    EXPECT_EQ(std::memcmp(dst.Pal, quantP->Pal, sizeof(dst.Pal)), 0);
}

TEST_F(PalOptTest, OneColourGivesOneEntryAndWhiteElsewhere)
{
    Make24(src, 3, 3, {{77, 130, 201}});
    Quantise(src, 256);
    EXPECT_RGB(quantP->Pal, 0, 76, 128, 200);
    for (int i = 1; i < 256; i++) EXPECT_RGB(quantP->Pal, i, 255, 255, 255);
}

TEST_F(PalOptTest, WantedColoursAreClamped)
{
    Make24(src, 3, 1, {{0, 0, 0}, {100, 100, 100}, {250, 250, 250}});
    Quantise(src, 1);
    EXPECT_EQ(quantP->Wanted, 2);
    EXPECT_EQ(quantP->BoxCount, 2);  // 3 colours > 2 wanted: the boxes were split
    Quantise(src, 300);
    EXPECT_EQ(quantP->Wanted, 256);
}

TEST_F(PalOptTest, HighPaletteCorrectsLowComponentsAndMapsBoxes)
{
    // Red cells 0 and 1 end in one box whose red is 4 * 1 / 2 = 2, written as 0.
    Make24(src, 4, 1, {{0, 0, 0}, {4, 0, 0}, {255, 255, 255}, {255, 255, 255}});
    Quantise(src, 2);
    ASSERT_EQ(quantP->BoxCount, 2);
    EXPECT_RGB(quantP->Pal, 0, 0, 0, 0);
    EXPECT_RGB(quantP->Pal, 1, 252, 252, 252);
    EXPECT_EQ(quantP->Hist[PalCell(0, 0, 0)], 0);
    EXPECT_EQ(quantP->Hist[PalCell(4, 0, 0)], 0);
    EXPECT_EQ(quantP->Hist[PalCell(255, 255, 255)], 1);
    EXPECT_EQ(quantP->Hist[PalCell(128, 128, 128)], -1);  // outside every box
}

TEST_F(PalOptTest, SplitPrefersRedOnEqualSpreads)
{
    // Red pair 5 cells either side with weight 3481, green pair 5 cells either side with
    // weight 900: 900 * 2 * 3481 * 25 on both axes.
    std::vector<Rgb> colours;
    for (int i = 0; i < 3482; i++) { colours.push_back({20, 40, 0}); colours.push_back({60, 40, 0}); }
    for (int i = 0; i < 901; i++) { colours.push_back({40, 20, 0}); colours.push_back({40, 60, 0}); }
    Make24(src, int(colours.size()), 1, colours);
    PalBox whole = CountedWholeBox(src);
    EXPECT_EQ(whole.LowR, 5);
    EXPECT_EQ(whole.HighR, 15);
    EXPECT_EQ(whole.LowG, 5);
    EXPECT_EQ(whole.HighG, 15);
    EXPECT_EQ(whole.LowB, 0);
    EXPECT_EQ(whole.HighB, 0);
    EXPECT_EQ(whole.Volume, (100 + 100) * 121);
    EXPECT_EQ(whole.SpreadR, 900.0 * 2 * 3481 * 25);
    EXPECT_EQ(whole.SpreadG, whole.SpreadR);
    EXPECT_EQ(whole.SpreadB, 0.0);

    PalReduce(2);
    ASSERT_EQ(quantP->BoxCount, 2);
    EXPECT_EQ(quantP->Boxes[0].HighR, 10);  // halved on red at its middle, 10
    EXPECT_EQ(quantP->Boxes[1].LowR, 15);
    EXPECT_EQ(quantP->Boxes[1].HighR, 15);
    EXPECT_EQ(quantP->Boxes[0].LowG, 5);
    EXPECT_EQ(quantP->Boxes[0].HighG, 15);
}

TEST_F(PalOptTest, SplitPrefersTheEarlierBoxOnEqualSpreads)
{
    // Two identical red pairs, one at blue cell 0 and one at blue cell 63. The first cut
    // separates them on blue; the second must halve the first box.
    std::vector<Rgb> colours;
    for (int i = 0; i < 10; i++) {
        colours.push_back({80, 0, 0});
        colours.push_back({120, 0, 0});
        colours.push_back({80, 0, 255});
        colours.push_back({120, 0, 255});
    }
    Make24(src, int(colours.size()), 1, colours);
    Quantise(src, 3);
    ASSERT_EQ(quantP->BoxCount, 3);
    const PalBox* b = quantP->Boxes;
    EXPECT_EQ(b[0].LowB, 0);
    EXPECT_EQ(b[0].ExtentR, 0);
    EXPECT_EQ(b[2].LowB, 0);
    EXPECT_EQ(b[2].ExtentR, 0);
    EXPECT_EQ(b[1].LowB, 63);
    EXPECT_EQ(b[1].ExtentR, 10);
}

TEST_F(PalOptTest, SpreadsOfCrowdedCellsDoNotWrap)
{
    // 10 000 weight at 31-32 cells from the mean on green: the terms pass 2^31.
    std::vector<Rgb> colours;
    for (int i = 0; i < 10001; i++) { colours.push_back({0, 0, 0}); colours.push_back({0, 252, 0}); }
    Make24(src, int(colours.size()), 1, colours);
    PalBox whole = CountedWholeBox(src);
    // Mean 31.5 rounds to 32 (halves to even).
    EXPECT_EQ(whole.SpreadG, 10000.0 * (32 * 32 + 31 * 31) * 3481);
    EXPECT_EQ(whole.ExtentG, 63);
    EXPECT_EQ(whole.MiddleG, 31);
}

TEST_F(PalOptTest, SinglePixelCellsNeverGiveEmptyBoxes)
{
    // Every cell holds one pixel, so every spread is 0; halving an axis of extent 0 would
    // give an empty box and a black entry.
    std::vector<Rgb> colours;
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) colours.push_back({x * 4, y * 4, 128});
    Make24(src, 64, 64, colours);
    Quantise(src, 16);
    ASSERT_EQ(quantP->BoxCount, 16);
    for (int i = 0; i < 16; i++) {
        const Rgb c = PalRgb(quantP->Pal, i);
        EXPECT_FALSE(c.r == 0 && c.g == 0 && c.b == 0) << "black entry " << i;
        EXPECT_EQ(c.b, 128) << i;
        for (int j = 0; j < i; j++) EXPECT_FALSE(std::memcmp(quantP->Pal[i], quantP->Pal[j], 3) == 0) << i << " " << j;
    }
    // Same with colours along green only: red and blue have extent 0 throughout.
    Make24(src, 6, 1, {{128, 0, 128}, {128, 40, 128}, {128, 80, 128}, {128, 120, 128}, {128, 160, 128}, {128, 200, 128}});
    Quantise(src, 3);
    ASSERT_EQ(quantP->BoxCount, 3);
    for (int i = 0; i < 3; i++) EXPECT_RGB(quantP->Pal, i, 128, quantP->Pal[i][1], 128);
}

TEST_F(PalOptTest, NearestTiesGoToTheLowerIndex)
{
    uint8_t pal[256][3];
    std::memset(pal, 255, sizeof(pal));
    // Entries 3 and 7 are both 10 blue steps away from (100, 100, 100).
    pal[3][0] = 90; pal[3][1] = 100; pal[3][2] = 100;
    pal[7][0] = 110; pal[7][1] = 100; pal[7][2] = 100;
    EXPECT_EQ(PalNearest(100, 100, 100, 256, pal), 3);
    EXPECT_EQ(PalNearest(100, 100, 100, 7, pal), 3);
    EXPECT_EQ(PalNearest(100, 100, 101, 256, pal), 7);
    // Green weighs most: one green step costs more than three blue steps.
    pal[3][0] = 97; pal[3][1] = 100;
    pal[7][0] = 100; pal[7][1] = 101;
    EXPECT_EQ(PalNearest(100, 100, 100, 256, pal), 3);
    // At least one entry is examined.
    EXPECT_EQ(PalNearest(0, 0, 0, 0, pal), 0);
}

TEST_F(PalOptTest, RemapSearchAgreesWithPalNearestOnUncountedColours)
{
    std::mt19937 rng(7);
    std::vector<Rgb> counted, other;
    // Counted colours in the middle of the cube, so many cells stay uncovered.
    for (int i = 0; i < 3000; i++) counted.push_back({64 + int(rng() % 128), 64 + int(rng() % 128), 64 + int(rng() % 128)});
    for (int i = 0; i < 3000; i++) other.push_back({int(rng() % 256), int(rng() % 256), int(rng() % 256)});
    Image img;
    Make24(img, 3000, 1, counted);
    Quantise(img, 40);
    ImgFree(img);
    // Cells no box covers are answered by the nearest entry to the first pixel seen in
    // them; covered cells by their box.
    std::vector<int32_t> before(quantP->Hist, quantP->Hist + PAL_CELLS);
    uint8_t pal[256][3];
    std::memcpy(pal, quantP->Pal, sizeof(pal));
    Make24(src, 3000, 1, other);
    PalRemap(src, dst, PAL_REMAP_NONE);
    std::vector<int> firstAnswer(PAL_CELLS, -1);
    int searched = 0;
    for (int i = 0; i < 3000; i++) {
        const Rgb& c = other[size_t(i)];
        const int cell = PalCell(c.r, c.g, c.b);
        int want = before[size_t(cell)];
        if (want < 0) {
            if (firstAnswer[size_t(cell)] < 0) firstAnswer[size_t(cell)] = PalNearest(c.r, c.g, c.b, 40, pal), searched++;
            want = firstAnswer[size_t(cell)];
        }
        ASSERT_EQ(dst.Data[i], want) << i;
    }
    EXPECT_GT(searched, 1000);
}

TEST_F(PalOptTest, RemapSearchKeepsTheTieRule)
{
    // Entry 0 is green 96, entry 1 green 104; (100,100,100) lies between, in no counted cell.
    Make24(src, 2, 1, {{100, 96, 100}, {100, 104, 100}});
    Quantise(src, 256);
    ASSERT_EQ(PalRgb(quantP->Pal, 0).g, 96);
    ASSERT_EQ(PalRgb(quantP->Pal, 1).g, 104);
    Image grey;
    Make24(grey, 1, 1, {{100, 100, 100}});
    PalRemap(grey, dst, PAL_REMAP_NONE);
    EXPECT_EQ(dst.Data[0], 0);
    ImgFree(grey);
}

TEST_F(PalOptTest, SetDarkColorFirstSwapsEntriesAndCells)
{
    PalInit();
    quantP->Wanted = 4;
    std::memset(quantP->Pal, 255, sizeof(quantP->Pal));
    const uint8_t entries[4][3] = {{200, 200, 200}, {50, 50, 50}, {10, 12, 10}, {0, 0, 255}};
    std::memcpy(quantP->Pal, entries, sizeof(entries));
    quantP->Hist[100] = 0;
    quantP->Hist[101] = 2;
    quantP->Hist[102] = 1;
    SetDarkColorFirst();
    EXPECT_EQ(std::memcmp(quantP->Pal[0], entries[2], 3), 0);
    EXPECT_EQ(std::memcmp(quantP->Pal[2], entries[0], 3), 0);
    EXPECT_EQ(std::memcmp(quantP->Pal[1], entries[1], 3), 0);
    EXPECT_EQ(quantP->Hist[100], 2);
    EXPECT_EQ(quantP->Hist[101], 0);
    EXPECT_EQ(quantP->Hist[102], 1);
    EXPECT_EQ(quantP->Hist[103], -1);
    // Already first: nothing moves.
    SetDarkColorFirst();
    EXPECT_EQ(std::memcmp(quantP->Pal[0], entries[2], 3), 0);
    EXPECT_EQ(quantP->Hist[100], 2);
}

TEST_F(PalOptTest, DiffusionStartsSpreadingInRowOne)
{
    BlackWhitePalette();
    ImgAlloc(src, 2, 2, 24);
    for (int i = 0; i < 4; i++) SetGrey(src, i % 2, i / 2, 16);
    PalRemap(src, dst, PAL_REMAP_DIFFUSION);
    // (0,0) keeps its error; (1,0) sends 3/16 and 5/16 of 16 down; (0,1) is in column 0 of
    // an odd row and sends 7/16 of its 19 (8) right.
    EXPECT_EQ(Grey(src, 1, 0), 16);
    EXPECT_EQ(Grey(src, 0, 1), 19);
    EXPECT_EQ(Grey(src, 1, 1), 16 + 5 + 8);
    for (int i = 0; i < 4; i++) EXPECT_EQ(dst.Data[i], 0);
}

TEST_F(PalOptTest, DiffusionErrorTablesDampAndClip)
{
    BlackWhitePalette();
    // Three pixels in a row: the middle one's error reaches the right one with weight 7.
    struct Case { int grey, added; };
    const Case cases[] = {{16, 7}, {8, 4}, {19, 8}, {20, 0}, {24, 1}, {39, 0}, {57, 2}, {58, 0}, {233, -8}};
    for (const Case& c : cases) {
        ImgAlloc(src, 3, 1, 24);
        SetGrey(src, 0, 0, 0);
        SetGrey(src, 1, 0, c.grey);
        SetGrey(src, 2, 0, c.grey);
        PalRemap(src, dst, PAL_REMAP_DIFFUSION);
        EXPECT_EQ(Grey(src, 2, 0), c.grey + c.added) << "grey " << c.grey;
        ImgFree(src);
    }
    // Downwards with weight 5: 8 * 5 / 16 = 2.5 rounds to 2 (halves to even).
    ImgAlloc(src, 2, 2, 24);
    SetGrey(src, 0, 0, 0);
    SetGrey(src, 1, 0, 8);
    SetGrey(src, 0, 1, 250);  // + 2 (3/16 of 8) = 252: no error of its own
    SetGrey(src, 1, 1, 100);
    PalRemap(src, dst, PAL_REMAP_DIFFUSION);
    EXPECT_EQ(Grey(src, 0, 1), 252);
    EXPECT_EQ(Grey(src, 1, 1), 102);
}

TEST_F(PalOptTest, DiffusionChangesA24BitSourceButNotA16BitOne)
{
    std::vector<Rgb> colours;
    for (int i = 0; i < 64; i++) colours.push_back({i * 3, 255 - i * 2, i * 4 % 256});
    Make24(src, 8, 8, colours);
    Quantise(src, 4);
    std::vector<uint8_t> before(src.Data, src.Data + src.Size);
    PalRemap(src, dst, PAL_REMAP_DIFFUSION);
    EXPECT_NE(std::memcmp(before.data(), src.Data, before.size()), 0);
    ImgFree(src);
    ImgFree(dst);

    ImgAlloc(src, 8, 8, 16);
    for (int i = 0; i < 64; i++) { src.Data[2 * i] = uint8_t(i * 37); src.Data[2 * i + 1] = uint8_t(i * 11); }
    Quantise(src, 4);
    before.assign(src.Data, src.Data + src.Size);
    PalRemap(src, dst, PAL_REMAP_DIFFUSION);
    EXPECT_EQ(std::memcmp(before.data(), src.Data, before.size()), 0);
    EXPECT_EQ(dst.Bpp, 8);
    EXPECT_EQ(dst.Width, 8);
}

TEST_F(PalOptTest, OrderedDitherFollowsTheMatrix)
{
    BlackWhitePalette();
    // Grey 100 against black and white: m * 100 / 255 past 126 turns white, which the first
    // row's values 166, 251, 162, 206 and 190 do; 0 keeps the pixel's own entry.
    ImgAlloc(src, 129, 2, 24);
    std::memset(src.Data, 100, size_t(src.Size));
    PalRemap(src, dst, PAL_REMAP_ORDERED);
    const uint8_t expected[16] = {0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 1, 0, 0};
    for (int x = 0; x < 16; x++) EXPECT_EQ(dst.Data[x], expected[x]) << x;
    EXPECT_EQ(dst.Data[128], dst.Data[0]);  // the matrix repeats every 128 columns
    for (int x = 0; x < 128; x++) EXPECT_EQ(dst.Data[129 + x], DitherMatrix[1][x] * 200 / 255 > 126 ? 1 : 0) << x;
}

TEST_F(PalOptTest, DitherMatrixHoldsEveryLevelEquallyWithoutRepeats)
{
    int counts[256] = {};
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 128; x++) counts[DitherMatrix[y][x]]++;
    for (int k = 0; k < 64; k++) {
        const int level = (k * 255 + 31) / 63;
        EXPECT_EQ(counts[level], 256) << level;
        counts[level] = 0;
    }
    for (int v = 0; v < 256; v++) EXPECT_EQ(counts[v], 0) << v;
    const uint8_t firstRow[16] = {0, 166, 93, 20, 69, 158, 28, 61, 251, 93, 162, 206, 125, 190, 36, 130};
    EXPECT_EQ(std::memcmp(DitherMatrix[0], firstRow, 16), 0);
    // No repeating tile of any power-of-two size.
    for (int period = 2; period <= 64; period *= 2) {
        int same = 0;
        for (int y = 0; y < 128; y++)
            for (int x = 0; x < 128; x++) same += DitherMatrix[y][x] == DitherMatrix[(y + period) % 128][(x + period) % 128];
        EXPECT_LT(same, 128 * 128 / 8) << period;
    }
}

TEST_F(PalOptTest, UnknownModeAndDepthLeaveTheDestinationAlone)
{
    Make24(src, 2, 2, {{1, 2, 3}});
    Quantise(src, 8);
    PalRemap(src, dst, 3);
    EXPECT_EQ(dst.Data, nullptr);
    PalRemap(src, dst, -1);
    EXPECT_EQ(dst.Data, nullptr);
}

TEST_F(PalOptTest, EightBitSourcesAreTranslatedThroughTheirPalette)
{
    ImgAlloc(src, 4, 1, 8);
    const uint8_t pix[4] = {5, 9, 5, 200};
    std::memcpy(src.Data, pix, 4);
    const uint8_t e5[3] = {0, 0, 250}, e9[3] = {20, 20, 20}, e200[3] = {0, 250, 0};
    std::memcpy(src.Pal[5], e5, 3);
    std::memcpy(src.Pal[9], e9, 3);
    std::memcpy(src.Pal[200], e200, 3);
    Quantise(src, 256);
    for (int mode = 0; mode < 3; mode++) {
        PalRemap(src, dst, mode);
        ASSERT_EQ(dst.Bpp, 8);
        // The darkest, (20,20,20) (entry 9 before), comes first.
        EXPECT_RGB(dst.Pal, dst.Data[1], 20, 20, 20);
        EXPECT_EQ(dst.Data[1], 0);
        EXPECT_RGB(dst.Pal, dst.Data[0], 248, 0, 0);
        EXPECT_EQ(dst.Data[2], dst.Data[0]);
        EXPECT_RGB(dst.Pal, dst.Data[3], 0, 248, 0);
    }
}

TEST_F(PalOptTest, ConvTo8bitReducesAndReleasesTheWorkArea)
{
    // Each colour on a 2 x 2 block: cells of one pixel would weigh nothing in the spreads.
    std::vector<Rgb> colours;
    for (int y = 0; y < 80; y++)
        for (int x = 0; x < 100; x++) colours.push_back({x / 2 * 5, y / 2 * 6, (x + y) / 2 * 2});
    Make24(src, 100, 80, colours);
    const int blocks = MemCount();
    ConvTo8bit(src, dst, PAL_REMAP_NONE);
    EXPECT_EQ(quantP, nullptr);
    EXPECT_EQ(MemCount(), blocks + 1);  // only the destination's block
    ASSERT_EQ(dst.Bpp, 8);
    for (int i = 0; i < 8000; i++) {
        const Rgb& c = colours[size_t(i)];
        const Rgb p = PalRgb(dst.Pal, dst.Data[i]);
        EXPECT_LE(std::abs(p.r - c.r) + std::abs(p.g - c.g) + std::abs(p.b - c.b), 40) << i;
    }
}

TEST_F(PalOptTest, RemapIntoItselfReplacesTheSource)
{
    Make24(src, 3, 1, {{0, 0, 0}, {100, 100, 100}, {200, 200, 200}});
    Quantise(src, 256);
    PalRemap(src, src, PAL_REMAP_NONE);
    ASSERT_EQ(src.Bpp, 8);
    ASSERT_EQ(src.Size, 3);
    EXPECT_RGB(src.Pal, src.Data[1], 100, 100, 100);
    EXPECT_RGB(src.Pal, src.Data[2], 200, 200, 200);
}

} // namespace
