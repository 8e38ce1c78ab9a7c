// Image record: allocation, depth conversion bit rules, the operation frame, crop, flip, insert, swap.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/ImgBasic.h"

#include "ImageTestFixture.h"

namespace {

class ImgBasicTest : public ImagePairTest {
protected:
    static uint16_t Word(const Image& img, int i) { return uint16_t(img.Data[2 * i] | (img.Data[2 * i + 1] << 8)); }
    static void SetWord(Image& img, int i, uint16_t v)
    {
        img.Data[2 * i] = uint8_t(v);
        img.Data[2 * i + 1] = uint8_t(v >> 8);
    }
    // Pixel bytes of image i counted from 0, value = seed + index.
    static void Fill(Image& img, int seed)
    {
        for (int i = 0; i < img.Size; ++i) img.Data[i] = uint8_t(seed + i);
    }
    static std::vector<uint8_t> Px(const Image& img, int x, int y)
    {
        const uint8_t* p = img.Data + (size_t(y) * img.Width + x) * img.BytesPerPixel;
        return std::vector<uint8_t>(p, p + img.BytesPerPixel);
    }
};

TEST(ImgSizeOKTest, LimitsAndSigns)
{
    EXPECT_TRUE(ImgSizeOK(320, 400, 8));
    EXPECT_TRUE(ImgSizeOK(8192, 8192, 32));  // exactly 256 MiB
    EXPECT_FALSE(ImgSizeOK(8192, 8193, 32));
    EXPECT_FALSE(ImgSizeOK(0, 10, 24));
    EXPECT_FALSE(ImgSizeOK(-10, -10, 24));
    EXPECT_FALSE(ImgSizeOK(1ll << 40, 1ll << 40, 24));
    EXPECT_FALSE(ImgSizeOK(10, 10, 0));
}

TEST_F(ImgBasicTest, AllocRegistersAndFreeClears)
{
    ImgAlloc(a, 3, 2, 15);
    EXPECT_TRUE(ImgIsValid(a));
    EXPECT_EQ(a.Size, 12);
    EXPECT_EQ(a.BytesPerPixel, 2);
    EXPECT_EQ(MemCount(), memMark + 1);
    a.Data[0] = 42;
    ImgAlloc(a, 4, 2, 15);  // resize keeps content
    EXPECT_EQ(a.Data[0], 42);
    EXPECT_EQ(MemCount(), memMark + 1);
    ImgFree(a);
    EXPECT_FALSE(ImgIsValid(a));
    EXPECT_EQ(a.Data, nullptr);
    EXPECT_EQ(a.Width, 0);
}

TEST_F(ImgBasicTest, AllocRefusesNonsenseSizes)
{
    EXPECT_THROW(MonBlock([&] { ImgAlloc(a, -100, -100, 24); }), EMon);
    EXPECT_EQ(MonErrorText(), "Invalid memory request.");
    EXPECT_THROW(MonBlock([&] { ImgAlloc(a, 20000, 20000, 24); }), EMon);
    EXPECT_FALSE(ImgIsValid(a));
}

TEST_F(ImgBasicTest, CopyAndExchange)
{
    ImgAlloc(a, 4, 3, 8);
    Fill(a, 5);
    a.Pal[7][1] = 99;
    ImgCopy(a, b);
    ASSERT_EQ(b.Size, a.Size);
    EXPECT_NE(b.Data, a.Data);
    EXPECT_EQ(0, std::memcmp(a.Data, b.Data, size_t(a.Size)));
    EXPECT_EQ(b.Pal[7][1], 99);

    Image c;
    ImgAlloc(c, 2, 2, 24);
    uint8_t* cData = c.Data;
    uint8_t* aData = a.Data;
    ImgXchg(a, c);
    EXPECT_EQ(a.Data, cData);
    EXPECT_EQ(a.Width, 2);
    EXPECT_EQ(c.Data, aData);
    EXPECT_EQ(c.Bpp, 8);
    EXPECT_TRUE(ImgIsValid(a));
    EXPECT_TRUE(ImgIsValid(c));
    ImgFree(c);
    EXPECT_FALSE(MemIsRegistered(reinterpret_cast<void* const*>(&c.Data)));

    Image unregistered;
    EXPECT_THROW(MonBlock([&] { ImgXchg(a, unregistered); }), EMon);
    EXPECT_EQ(MonErrorText(), "Memory manager fault.");
}

TEST_F(ImgBasicTest, ConversionBitRules)
{
    ImgAlloc(a, 1, 1, 15);
    SetWord(a, 0, 0x7FFF);
    ImgConvBpp(a, b, 24);
    EXPECT_EQ(Px(b, 0, 0), (std::vector<uint8_t>{248, 248, 248}));
    ImgConvBpp(a, b, 16);
    EXPECT_EQ(Word(b, 0), 0xFFDF);

    ImgAlloc(a, 1, 1, 16);
    SetWord(a, 0, 0xFFFF);
    ImgConvBpp(a, b, 15);
    EXPECT_EQ(Word(b, 0), 0x7FFF);
    ImgConvBpp(a, b, 24);
    EXPECT_EQ(Px(b, 0, 0), (std::vector<uint8_t>{248, 252, 248}));

    ImgFree(a);
    ImgAlloc(a, 1, 1, 24);
    a.Data[0] = 255;  // blue
    a.Data[1] = 128;
    a.Data[2] = 1;    // red
    ImgConvBpp(a, b, 15);
    EXPECT_EQ(Word(b, 0), 0x021F);
    ImgConvBpp(a, b, 16);
    EXPECT_EQ(Word(b, 0), 0x041F);
    ImgConvBpp(a, b, 32);
    EXPECT_EQ(Px(b, 0, 0), (std::vector<uint8_t>{255, 128, 1, 0}));
    b.Data[3] = 77;
    ImgConvBpp(b, a, 24);
    EXPECT_EQ(Px(a, 0, 0), (std::vector<uint8_t>{255, 128, 1}));
}

TEST_F(ImgBasicTest, ConversionsToThirtyTwoBitsFromShallowDepths)
{
    ImgAlloc(a, 2, 1, 8);
    a.Data[0] = 3;
    a.Data[1] = 200;
    a.Pal[3][0] = 10, a.Pal[3][1] = 20, a.Pal[3][2] = 30;
    a.Pal[200][0] = 1, a.Pal[200][1] = 2, a.Pal[200][2] = 3;
    ImgConvBpp(a, b, 32);
    EXPECT_EQ(Px(b, 0, 0), (std::vector<uint8_t>{10, 20, 30, 0}));
    EXPECT_EQ(Px(b, 1, 0), (std::vector<uint8_t>{1, 2, 3, 0}));

    ImgAlloc(a, 1, 1, 15);
    SetWord(a, 0, (3 << 10) | (17 << 5) | 31);
    ImgConvBpp(a, b, 32);
    EXPECT_EQ(Px(b, 0, 0), (std::vector<uint8_t>{248, 17 << 3, 3 << 3, 0}));
    ImgAlloc(a, 1, 1, 16);
    SetWord(a, 0, (3 << 11) | (63 << 5) | 1);
    ImgConvBpp(a, b, 32);
    EXPECT_EQ(Px(b, 0, 0), (std::vector<uint8_t>{8, 252, 24, 0}));
}

TEST_F(ImgBasicTest, PaletteToWordsAndSameDepth)
{
    ImgAlloc(a, 1, 1, 8);
    a.Data[0] = 9;
    a.Pal[9][0] = 255, a.Pal[9][1] = 128, a.Pal[9][2] = 1;
    ImgConvBpp(a, b, 15);
    EXPECT_EQ(Word(b, 0), 0x021F);
    ImgConvBpp(a, b, 16);
    EXPECT_EQ(Word(b, 0), 0x041F);

    // Same depth: in place nothing happens, into another record an exact copy.
    ImgFree(a);
    ImgAlloc(a, 3, 2, 24);
    Fill(a, 1);
    uint8_t* before = a.Data;
    ImgConvBpp(a, a, 24);
    EXPECT_EQ(a.Data, before);
    ImgConvBpp(a, b, 24);
    EXPECT_EQ(b.Bpp, 24);
    EXPECT_EQ(0, std::memcmp(a.Data, b.Data, 18));

    // In place to another depth exchanges a new block into the record.
    ImgConvBpp(a, a, 32);
    EXPECT_EQ(a.Bpp, 32);
    EXPECT_EQ(a.Size, 24);
    EXPECT_EQ(Px(a, 1, 0), (std::vector<uint8_t>{4, 5, 6, 0}));
}

TEST_F(ImgBasicTest, GreyModeUsesSumTableAndRamp)
{
    ImgAlloc(a, 3, 1, 24);
    const uint8_t px[9] = {1, 1, 1, 30, 60, 90, 255, 255, 254};
    std::memcpy(a.Data, px, 9);
    ImgConvBppEx(a, b, 8, 3);
    ASSERT_EQ(b.Bpp, 8);
    EXPECT_EQ(b.Data[0], 0);  // sum 3 lies among the first nine entries, forced to 0
    EXPECT_EQ(b.Data[1], 60);
    EXPECT_EQ(b.Data[2], 254);
    EXPECT_EQ(b.Pal[77][0], 77);
    EXPECT_EQ(b.Pal[77][2], 77);

    ImgFree(a);
    ImgAlloc(a, 2, 1, 15);
    SetWord(a, 0, 0);       // (7) + (7) + 14 = 28 -> 9
    SetWord(a, 1, 0x7FFF);  // 255 + 255 + 254 = 764 -> 254
    ImgConvBppEx(a, b, 8, 3);
    EXPECT_EQ(b.Data[0], 9);
    EXPECT_EQ(b.Data[1], 254);
    ImgAlloc(a, 1, 1, 16);
    SetWord(a, 0, 0);  // 7 + 7 + 6 = 20 -> 6
    ImgConvBppEx(a, b, 8, 3);
    EXPECT_EQ(b.Data[0], 6);
}

TEST_F(ImgBasicTest, TrueColourToEightBitsThroughQuantiser)
{
    ImgAlloc(a, 4, 1, 24);
    const uint8_t px[12] = {0, 0, 200, 0, 0, 200, 100, 40, 0, 100, 40, 0};
    std::memcpy(a.Data, px, 12);
    ImgConvBpp(a, a, 8);
    ASSERT_EQ(a.Bpp, 8);
    EXPECT_EQ(a.Data[0], a.Data[1]);
    EXPECT_NE(a.Data[0], a.Data[2]);
    EXPECT_EQ(a.Pal[a.Data[0]][2], 200);
    EXPECT_EQ(a.Pal[a.Data[2]][0], 100);
}

TEST_F(ImgBasicTest, FrameRefusesMissingDestination)
{
    ImgAlloc(a, 2, 2, 24);
    ImgOpInfo info;
    ImgOpContext ctx;
    ImgInfo(info, OP_INSERT);
    EXPECT_FALSE(info.InPlace);
    EXPECT_TRUE(info.MatchDest);
    EXPECT_EQ(info.WorkDepth[1], 15);
    EXPECT_THROW(MonBlock([&] { ImgInitEx(info, ctx, a, 2, 2, nullptr); }), EMon);
    EXPECT_EQ(MonErrorText(), "Cannot initialize image function.");
}

TEST_F(ImgBasicTest, FrameTemporaryPathExchangesIntoSource)
{
    // Sprite may not work in place: the frame works into a temporary and exchanges at the end.
    ImgAlloc(a, 3, 2, 24);
    Fill(a, 10);
    ImgOpInfo info;
    ImgOpContext ctx;
    ImgInfo(info, OP_SPRITE);
    ImgInitEx(info, ctx, a, 5, 4, &a);
    EXPECT_TRUE(ctx.XchgAtEnd);
    EXPECT_TRUE(ctx.FreeTemp);
    EXPECT_EQ(ctx.Dst, &ctx.Temp);
    EXPECT_EQ(ctx.Src, &a);
    EXPECT_EQ(ctx.DstTotalBytes, 5 * 4 * 3);
    std::memset(ctx.DstBits, 0xAB, 60);
    ImgDone(ctx);
    EXPECT_EQ(a.Width, 4);
    EXPECT_EQ(a.Height, 5);
    EXPECT_EQ(a.Data[59], 0xAB);
    EXPECT_FALSE(ImgIsValid(ctx.Temp));
}

TEST_F(ImgBasicTest, FramePaletteModeAndConversionPath)
{
    ImgAlloc(a, 2, 1, 8);
    ImgOpInfo info;
    ImgOpContext ctx;
    ImgInfo(info, OP_SWAPRB);
    ImgInitEx(info, ctx, a, 1, 2, &b);
    EXPECT_TRUE(ctx.PaletteMode);
    EXPECT_EQ(ctx.SrcAreaBytes, 768);
    EXPECT_EQ(ctx.SrcBits, &a.Pal[0][0]);
    EXPECT_EQ(ctx.DstBits, &b.Pal[0][0]);
    ImgDone(ctx);

    // Crop of a 16-bit source works on a 24-bit temporary that is freed at the end.
    ImgFree(a);
    ImgAlloc(a, 2, 2, 16);
    ImgInfo(info, OP_CROP);
    ImgInitEx(info, ctx, a, 1, 1, &b);
    EXPECT_TRUE(ctx.FreeTemp);
    EXPECT_EQ(ctx.Src, &ctx.Temp);
    EXPECT_EQ(ctx.Temp.Bpp, 24);
    EXPECT_EQ(b.Bpp, 24);
    ImgDone(ctx);
    EXPECT_FALSE(ImgIsValid(ctx.Temp));
}

TEST_F(ImgBasicTest, CropDepthsAndClipping)
{
    ImgAlloc(a, 4, 3, 32);
    Fill(a, 0);
    ImgCrop(a, b, 1, 1, 2, 2);
    EXPECT_EQ(b.Bpp, 24);
    EXPECT_EQ(b.Width, 2);
    EXPECT_EQ(Px(b, 0, 0), (std::vector<uint8_t>{20, 21, 22}));  // source pixel (1,1) starts at 20
    EXPECT_EQ(Px(b, 1, 1), (std::vector<uint8_t>{40, 41, 42}));

    ImgFree(a);
    ImgAlloc(a, 4, 3, 8);
    Fill(a, 0);
    a.Pal[5][2] = 123;
    ImgCrop(a, b, 4, 0, 2, 2);  // left = width: nothing happens
    EXPECT_EQ(b.Bpp, 24);
    ImgCrop(a, b, 2, 1, 10, 10);  // overruns: cut to 2 x 2
    EXPECT_EQ(b.Bpp, 8);
    EXPECT_EQ(b.Width, 2);
    EXPECT_EQ(b.Height, 2);
    EXPECT_EQ(b.Data[0], 6);
    EXPECT_EQ(b.Data[3], 11);
    EXPECT_EQ(b.Pal[5][2], 123);
    ImgCrop(a, b, -1, -2, 3, 3);  // starts outside: only the inside part
    EXPECT_EQ(b.Width, 2);
    EXPECT_EQ(b.Height, 1);
    EXPECT_EQ(b.Data[0], 0);
    EXPECT_EQ(b.Data[1], 1);

    // In place: rows move to the start of the block.
    ImgCrop(a, a, 1, 1, 2, 2);
    EXPECT_EQ(a.Width, 2);
    EXPECT_EQ(a.Size, 4);
    EXPECT_EQ(std::vector<uint8_t>(a.Data, a.Data + 4), (std::vector<uint8_t>{5, 6, 9, 10}));
}

TEST_F(ImgBasicTest, FlipVerticalInPlaceAndCopy)
{
    ImgAlloc(a, 1, 3, 24);  // rows of three bytes, odd height
    Fill(a, 0);
    ImgFlipV(a, a);
    EXPECT_EQ(std::vector<uint8_t>(a.Data, a.Data + 9), (std::vector<uint8_t>{6, 7, 8, 3, 4, 5, 0, 1, 2}));
    ImgFree(a);
    ImgAlloc(a, 3, 4, 16);
    Fill(a, 0);
    ImgFlipV(a, b);
    EXPECT_EQ(b.Bpp, 16);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(Px(b, 2, y), Px(a, 2, 3 - y));
}

TEST_F(ImgBasicTest, InsertReplacesPaletteAndClips)
{
    ImgAlloc(a, 2, 2, 8);
    Fill(a, 1);
    a.Pal[1][0] = 77;
    ImgAlloc(b, 3, 3, 8);
    std::memset(b.Data, 0, 9);
    ImgInsert(a, b, 2, 2);  // only the top-left source pixel fits
    EXPECT_EQ(b.Data[8], 1);
    EXPECT_EQ(b.Data[7], 0);
    EXPECT_EQ(b.Pal[1][0], 77);
    ImgInsert(a, b, -1, -1);  // negative: clipped, source pixel (1,1) lands at (0,0)
    EXPECT_EQ(b.Data[0], 4);
    EXPECT_EQ(b.Data[1], 0);
    ImgInsert(a, b, 3, 0);  // beyond the right edge: nothing
    ImgInsert(b, b, 0, 0);  // into itself: nothing
    EXPECT_EQ(b.Data[0], 4);

    // A 24-bit source lifts an 8-bit destination to 24 bits.
    Image c;
    ImgAlloc(c, 1, 1, 24);
    c.Data[0] = 9, c.Data[1] = 8, c.Data[2] = 7;
    ImgInsert(c, b, 1, 1);
    EXPECT_EQ(b.Bpp, 24);
    EXPECT_EQ(Px(b, 1, 1), (std::vector<uint8_t>{9, 8, 7}));
    ImgFree(c);
}

TEST_F(ImgBasicTest, SpriteSkipsTransparentPixels)
{
    ImgAlloc(a, 3, 1, 24);
    const uint8_t px[9] = {0, 0, 0, 5, 6, 7, 0, 0, 1};
    std::memcpy(a.Data, px, 9);
    ImgAlloc(b, 3, 1, 24);
    std::memset(b.Data, 200, 9);
    ImgSprite(a, b, 0, 0, 0);
    EXPECT_EQ(Px(b, 0, 0), (std::vector<uint8_t>{200, 200, 200}));
    EXPECT_EQ(Px(b, 1, 0), (std::vector<uint8_t>{5, 6, 7}));
    EXPECT_EQ(Px(b, 2, 0), (std::vector<uint8_t>{0, 0, 1}));
    ImgSprite(a, b, 0, 0, 0x070605);  // raw little-endian value of the middle pixel
    std::memset(b.Data, 200, 9);
    ImgSprite(a, b, 0, 0, 0x070605);
    EXPECT_EQ(Px(b, 1, 0), (std::vector<uint8_t>{200, 200, 200}));
    EXPECT_EQ(Px(b, 0, 0), (std::vector<uint8_t>{0, 0, 0}));
}

TEST_F(ImgBasicTest, SwapRedBlueEveryDepth)
{
    ImgAlloc(a, 2, 1, 24);
    Fill(a, 1);
    ImgSwapRB(a, a);
    EXPECT_EQ(std::vector<uint8_t>(a.Data, a.Data + 6), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));

    ImgFree(a);
    ImgAlloc(a, 1, 1, 8);
    a.Data[0] = 17;
    a.Pal[255][0] = 1, a.Pal[255][2] = 9;
    ImgSwapRB(a, b);
    EXPECT_EQ(b.Data[0], 17);
    EXPECT_EQ(b.Pal[255][0], 9);
    EXPECT_EQ(b.Pal[255][2], 1);

    ImgFree(a);
    ImgAlloc(a, 3, 1, 32);  // 12 bytes: a three-byte step over 3 pixels would be wrong, not out of bounds
    Fill(a, 1);
    ImgSwapRB(a, a);
    EXPECT_EQ(std::vector<uint8_t>(a.Data, a.Data + 12),
              (std::vector<uint8_t>{3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12}));

    ImgFree(a);
    ImgAlloc(a, 1, 1, 16);
    SetWord(a, 0, (3 << 11) | (40 << 5) | 17);
    ImgSwapRB(a, a);
    EXPECT_EQ(Word(a, 0), (17 << 11) | (40 << 5) | 3);
}

}  // namespace
