// GIF reader: decoding, composition of frames, header walking, damaged files.
#include <gtest/gtest.h>

#include "GifTestWriter.h"
#include "ReaderTestUtil.h"
#include "formats/FFDispatch.h"
#include "formats/FF_GIF.h"

using namespace giftest;
using rtest::ErrorOf;

namespace {

class GifTest : public rtest::TempDirTest {
protected:
    void TearDown() override
    {
        GIFDone();
        rtest::TempDirTest::TearDown();
    }

    std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "a.gif")
    {
        const std::string p = Path(name);
        rtest::WriteBytes(p, bytes);
        return p;
    }

    // Opens with selector, loads every located image (same picture each time) and closes.
    std::vector<std::vector<uint8_t>> LoadAll(const std::string& path, int selector, GIFFile* info = nullptr,
                                              Image* last = nullptr)
    {
        std::vector<std::vector<uint8_t>> frames;
        GIFFile gf;
        Image img;
        GIFOpen(gf, path, selector);
        for (int i = 0; i < gf.ImgCount; ++i) {
            GIFLoadNext(gf, img);
            frames.push_back(rtest::Pixels(img));
        }
        GIFClose(gf);
        if (info) *info = gf;
        if (last)
            ImgCopy(img, *last);
        ImgFree(img);
        return frames;
    }

    static Frame Full(int w, int h, std::vector<uint8_t> px)
    {
        Frame f;
        f.width = w;
        f.height = h;
        f.pixels = std::move(px);
        return f;
    }
};

std::vector<uint8_t> Solid(size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); }

// Window (x, y, w, h) of a w0-wide picture.
std::vector<uint8_t> Window(const std::vector<uint8_t>& pic, int w0, int x, int y, int w, int h)
{
    std::vector<uint8_t> out;
    for (int r = 0; r < h; ++r) out.insert(out.end(), pic.begin() + (y + r) * w0 + x, pic.begin() + (y + r) * w0 + x + w);
    return out;
}

}  // namespace

// A hand-assembled 87a file: 5 x 1 pixels of index 1, codes clear, 1, 6, 6, end, where the
// first 6 is the code not yet in the table (string of the previous code plus its first byte).
TEST_F(GifTest, HandAssembledStreamWithCodeNotYetInTable)
{
    const std::vector<uint8_t> file = {'G', 'I', 'F', '8', '7', 'a', 5, 0, 1, 0, 0x81, 0, 0,
                                       10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120,
                                       0x2C, 0, 0, 0, 0, 5, 0, 1, 0, 0,
                                       2, 2, 0x8C, 0x5D, 0, 0x3B};
    Image img;
    GIFFile gf;
    GIFOpen(gf, Write(file), -1);
    ASSERT_EQ(gf.ImgCount, 1);
    EXPECT_EQ(gf.BkgIndex, 0);
    GIFLoadNext(gf, img);
    GIFClose(gf);
    EXPECT_EQ(rtest::Pixels(img), Solid(5, 1));
    // Palette turned from red, green, blue into blue, green, red.
    EXPECT_EQ(img.Pal[1][0], 60);
    EXPECT_EQ(img.Pal[1][1], 50);
    EXPECT_EQ(img.Pal[1][2], 40);
    EXPECT_EQ(img.Bpp, 8);
    ImgFree(img);
}

TEST_F(GifTest, BothVersionsDecodeNoiseExactly)
{
    for (const char* version : {"87a", "89a"}) {
        Screen s;
        s.version = version;
        s.width = 61;
        s.height = 47;
        s.globalPal = GreyPal(256);
        const auto px = Noise(61 * 47, 256, 11);
        const auto frames = LoadAll(Write(Build(s, {Full(61, 47, px)})), 0);
        ASSERT_EQ(frames.size(), 1u) << version;
        EXPECT_EQ(frames[0], px) << version;
    }
}

// The dispatcher reads the first picture of a file.
TEST_F(GifTest, ImgLoadTakesTheFirstImage)
{
    Screen s;
    s.width = 9;
    s.height = 7;
    s.globalPal = GreyPal(16);
    Frame a = Full(9, 7, Noise(63, 16, 4)), b = Full(9, 7, Solid(63, 2));
    a.lzw.minCodeSize = b.lzw.minCodeSize = 4;
    Image img;
    ImgLoad(Write(Build(s, {a, b}), "pic.GIF"), img);
    EXPECT_EQ(img.Width, 9);
    EXPECT_EQ(img.Bpp, 8);
    EXPECT_EQ(rtest::Pixels(img), a.pixels);
    ImgFree(img);
    GIFDone();
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(GifTest, OtherVersionsAndForeignFilesAreInvalid)
{
    Screen s;
    s.version = "88a";
    s.width = s.height = 4;
    auto bad = Build(s, {Full(4, 4, Solid(16, 0))});
    GIFFile gf;
    EXPECT_EQ(ErrorOf([&] { GIFOpen(gf, Write(bad), -1); }), "Invalid image format.");
    GIFClose(gf);
    EXPECT_EQ(ErrorOf([&] { GIFOpen(gf, Write({'G', 'I', 'F', '8', '9'}), 0); }), "Invalid image format.");
    GIFClose(gf);
    EXPECT_EQ(ErrorOf([&] { GIFOpen(gf, Write({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0); }),
              "Invalid image format.");
    GIFClose(gf);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(GifTest, InterlacedImagesAreReordered)
{
    Screen s;
    s.width = 37;
    s.height = 29;
    s.globalPal = GreyPal(16);
    Frame f = Full(37, 29, Noise(37 * 29, 16, 3));
    f.interlaced = true;
    f.lzw.minCodeSize = 4;
    EXPECT_EQ(LoadAll(Write(Build(s, {f})), -1).at(0), f.pixels);

    // Only one row: the first pass holds it.
    Screen one = s;
    one.height = 1;
    Frame row = Full(37, 1, Noise(37, 16, 4));
    row.interlaced = true;
    row.lzw.minCodeSize = 4;
    EXPECT_EQ(LoadAll(Write(Build(one, {row}), "b.gif"), -1).at(0), row.pixels);

    // Interlaced and smaller than the screen: reordered, then placed.
    Frame small = Full(9, 11, Noise(99, 16, 5));
    small.left = 20;
    small.top = 13;
    small.interlaced = true;
    small.lzw.minCodeSize = 4;
    s.background = 15;
    const auto pic = LoadAll(Write(Build(s, {small}), "c.gif"), -1).at(0);
    EXPECT_EQ(Window(pic, 37, 20, 13, 9, 11), small.pixels);
    EXPECT_EQ(pic[0], 15);
}

TEST_F(GifTest, SmallImageIsPlacedOverTheBackground)
{
    Screen s;
    s.width = 20;
    s.height = 10;
    s.globalPal = GreyPal(8);
    s.background = 3;
    Frame f = Full(5, 4, Noise(20, 3, 9));  // indices 0..2, never the background
    f.left = 7;
    f.top = 3;
    f.lzw.minCodeSize = 3;
    GIFFile gf;
    const auto pic = LoadAll(Write(Build(s, {f})), 0, &gf).at(0);
    EXPECT_EQ(Window(pic, 20, 7, 3, 5, 4), f.pixels);
    int background = 0;
    for (uint8_t v : pic) background += v == 3;
    EXPECT_EQ(background, 200 - 20);
    EXPECT_EQ(gf.Width, 20);
    EXPECT_EQ(gf.Height, 10);

    // A zero screen takes the first image's extent.
    s.width = s.height = 0;
    const auto fitted = LoadAll(Write(Build(s, {f}), "zero.gif"), -1, &gf).at(0);
    EXPECT_EQ(gf.Width, 12);
    EXPECT_EQ(gf.Height, 7);
    EXPECT_EQ(Window(fitted, 12, 7, 3, 5, 4), f.pixels);
}

TEST_F(GifTest, NoColourTablesGiveEmptyPaletteAndNoBackground)
{
    Screen s;
    s.width = 8;
    s.height = 8;
    s.background = 5;  // ignored without a global table
    Frame f = Full(4, 4, Solid(16, 2));
    f.left = 2;
    f.top = 2;
    f.lzw.minCodeSize = 2;
    GIFFile gf;
    Image img;
    const auto pic = LoadAll(Write(Build(s, {f})), -1, &gf, &img).at(0);
    EXPECT_EQ(gf.BkgIndex, -1);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(img.Pal[i][0] | img.Pal[i][1] | img.Pal[i][2], 0);
    EXPECT_EQ(pic[0], 0);  // not filled with any background
    EXPECT_EQ(pic[2 * 8 + 2], 2);
    ImgFree(img);
}

TEST_F(GifTest, LocalTableReplacesGlobalOne)
{
    Screen s;
    s.width = s.height = 4;
    s.globalPal = GreyPal(4);
    Frame f = Full(4, 4, Noise(16, 4, 2));
    f.localPal = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    f.lzw.minCodeSize = 2;
    Image img;
    GIFFile gf;
    const auto pic = LoadAll(Write(Build(s, {f})), 0, &gf, &img).at(0);
    EXPECT_EQ(pic, f.pixels);
    EXPECT_EQ(img.Pal[3][0], 12);
    EXPECT_EQ(img.Pal[3][2], 10);
    EXPECT_EQ(gf.PalState1, -1);
    ImgFree(img);
}

// Codes widen to 12 bits; without a clear code the table stays full and codes stay 12 bits.
TEST_F(GifTest, TwelveBitCodesStayUntilClear)
{
    const int w = 160, h = 120;
    const auto px = Noise(size_t(w) * h, 256, 21);
    for (FullTable mode : {FullTable::Keep, FullTable::ClearLater, FullTable::Clear}) {
        LzwOptions o;
        o.full = mode;
        LzwStats st;
        LzwEncode(px.data(), px.size(), o, &st);
        ASSERT_EQ(st.maxCodeSize, 12);
        if (mode != FullTable::Clear) {
            ASSERT_GT(st.tableFullCodes, 1000);
        }
        if (mode == FullTable::ClearLater) {
            ASSERT_GE(st.clears, 2);
        }

        Screen s;
        s.width = w;
        s.height = h;
        s.globalPal = GreyPal(256);
        s.subBlock = 7;  // codes straddle many sub-block boundaries
        Frame f = Full(w, h, px);
        f.lzw = o;
        EXPECT_EQ(LoadAll(Write(Build(s, {f})), 0).at(0), px) << int(mode);
    }
}

TEST_F(GifTest, FramesComposeWithDisposalTwoAndThree)
{
    Screen s;
    s.width = s.height = 16;
    s.globalPal = GreyPal(32);
    s.background = 1;
    Frame f0 = Full(16, 16, Noise(256, 32, 5));
    f0.lzw.minCodeSize = 5;
    Frame f1 = Full(4, 4, Solid(16, 9));  // restored to what was under it afterwards
    f1.left = f1.top = 2;
    f1.gce = true;
    f1.disposal = 3;
    f1.delay = 10;
    Frame f2 = Full(4, 4, Solid(16, 7));  // cleared to the background afterwards
    f2.left = f2.top = 8;
    f2.gce = true;
    f2.disposal = 2;
    f2.delay = 10;
    Frame f3 = Full(2, 2, {20, 21, 22, 23});  // transparent 21 shows what is beneath
    f3.left = 14;
    f3.top = 0;
    f3.gce = true;
    f3.transparent = 21;
    f3.delay = 20;
    for (Frame* f : {&f1, &f2, &f3}) f->lzw.minCodeSize = 5;

    GIFFile gf;
    const auto fr = LoadAll(Write(Build(s, {f0, f1, f2, f3})), 0, &gf);
    ASSERT_EQ(fr.size(), 4u);
    EXPECT_EQ(gf.Compose, 1);
    EXPECT_DOUBLE_EQ(gf.FrameRate, 4 * 100.0 / 40);
    EXPECT_EQ(fr[0], f0.pixels);
    EXPECT_EQ(Window(fr[1], 16, 2, 2, 4, 4), Solid(16, 9));
    // Frame 2: frame 1's window holds frame 0 again, frame 2 drawn.
    EXPECT_EQ(Window(fr[2], 16, 2, 2, 4, 4), Window(f0.pixels, 16, 2, 2, 4, 4));
    EXPECT_EQ(Window(fr[2], 16, 8, 8, 4, 4), Solid(16, 7));
    // Frame 3: frame 2's window is background, the transparent pixel kept frame 0's.
    EXPECT_EQ(Window(fr[3], 16, 8, 8, 4, 4), Solid(16, 1));
    EXPECT_EQ(fr[3][14], 20);
    EXPECT_EQ(fr[3][15], f0.pixels[15]);
    EXPECT_EQ(fr[3][16 + 14], 22);
    EXPECT_EQ(fr[3][16 + 15], 23);
    EXPECT_EQ(Window(fr[3], 16, 0, 4, 16, 4), Window(f0.pixels, 16, 0, 4, 16, 4));
}

// A non-zero transparent index counts even without the transparency flag.
TEST_F(GifTest, TransparentIndexWithoutFlag)
{
    Screen s;
    s.width = s.height = 6;
    s.globalPal = GreyPal(8);
    s.background = 7;
    Frame f = Full(3, 1, {4, 5, 4});
    f.left = 1;
    f.top = 2;
    f.lzw.minCodeSize = 3;
    f.before = {0x21, 0xF9, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00};
    const auto pic = LoadAll(Write(Build(s, {f})), -1).at(0);
    EXPECT_EQ(Window(pic, 6, 1, 2, 3, 1), (std::vector<uint8_t>{7, 5, 7}));
}

TEST_F(GifTest, FirstImageOnlySelectorEndsTheMovie)
{
    Screen s;
    s.width = s.height = 4;
    s.globalPal = GreyPal(4);
    Frame f = Full(4, 4, Solid(16, 1));
    f.gce = true;
    f.delay = 25;
    f.lzw.minCodeSize = 2;
    const std::string p = Write(Build(s, {f, f, f}));
    GIFFile gf;
    Image img;
    GIFOpen(gf, p, -1);
    EXPECT_EQ(gf.ImgCount, 1);
    EXPECT_DOUBLE_EQ(gf.FrameRate, 4);  // 100 div 25
    GIFLoadNext(gf, img);
    EXPECT_EQ(ErrorOf([&] { GIFLoadNext(gf, img); }), "End of movie reached.");
    GIFClose(gf);
    ImgFree(img);
    EXPECT_EQ(LeakedFiles(), 0);
}

// Bytes that look like a control extension or an image separator inside comments and
// application data, and the next frame's control extension, belong to no other image.
TEST_F(GifTest, HeaderWalkIgnoresLookalikeBytes)
{
    Screen s;
    s.width = s.height = 12;
    s.globalPal = GreyPal(8);
    s.background = 6;
    const std::vector<uint8_t> fake = {0x21, 0xF9, 0x04, 0x09, 0x10, 0x00, 0x05, 0x00, 0x2C, 1, 0, 1, 0, 2, 0, 2, 0, 0};
    Frame f0 = Full(6, 6, Noise(36, 6, 8));  // holds index 5 but has no control extension
    f0.left = f0.top = 3;
    f0.lzw.minCodeSize = 3;
    f0.before = Comment(fake);
    std::vector<uint8_t> app = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                                3, 0x2C, 0x2C, 0x2C, 0};
    f0.before.insert(f0.before.end(), app.begin(), app.end());
    Frame f1 = Full(12, 12, Solid(144, 5));
    f1.gce = true;
    f1.transparent = 5;
    f1.disposal = 2;
    f1.lzw.minCodeSize = 3;
    f1.between = Comment(fake);

    const std::string p = Write(Build(s, {f0, f1}));
    for (int selector : {-1, 0}) {
        GIFFile gf;
        const auto fr = LoadAll(p, selector, &gf);
        ASSERT_GE(fr.size(), 1u);
        EXPECT_EQ(Window(fr[0], 12, 3, 3, 6, 6), f0.pixels) << selector;
        EXPECT_EQ(fr[0][0], 6);
        if (selector == 0) {
            ASSERT_EQ(fr.size(), 2u);
            EXPECT_DOUBLE_EQ(gf.FrameRate, 0);
            // Frame 1 covers the screen: decoded straight in, its index 5 everywhere.
            EXPECT_EQ(fr[1], Solid(144, 5));
        }
    }
}

// With only the first image known, the data are estimated at 1.5 bytes per pixel; longer
// data (here one-byte sub-blocks) are followed to their end.
TEST_F(GifTest, DataLongerThanEstimateAreReadWhole)
{
    Screen s;
    s.width = 50;
    s.height = 40;
    s.globalPal = GreyPal(256);
    s.subBlock = 1;
    const auto px = Noise(2000, 256, 17);
    const auto file = Build(s, {Full(50, 40, px)});
    ASSERT_GT(file.size(), 2000u * 3 / 2 + 800);
    EXPECT_EQ(LoadAll(Write(file), -1).at(0), px);
}

TEST_F(GifTest, TruncatedDataDecodeWhatIsThere)
{
    Screen s;
    s.width = 30;
    s.height = 30;
    s.globalPal = GreyPal(4);
    Frame f = Full(30, 30, Noise(900, 4, 12));
    f.lzw.minCodeSize = 2;
    f.cutData = 60;
    s.trailer = false;
    auto file = Build(s, {f});
    const auto pic = LoadAll(Write(file), -1).at(0);
    // The first pixels decode; nothing is read past the data.
    EXPECT_TRUE(std::equal(f.pixels.begin(), f.pixels.begin() + 40, pic.begin()));
    GIFDone();
    EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(GifTest, DamagedFilesGiveErrors)
{
    Screen s;
    s.width = s.height = 8;
    s.globalPal = GreyPal(4);
    Frame f = Full(8, 8, Solid(64, 1));
    f.lzw.minCodeSize = 2;
    auto good = Build(s, {f});

    // A code beyond the next free code.
    auto badCode = good;
    const size_t dataAt = 13 + 12 + 10 + 1;  // header, table, descriptor, code size
    ASSERT_EQ(badCode[dataAt - 1], 2);
    badCode[dataAt + 1] = 0xFF;
    badCode[dataAt + 2] = 0xFF;
    GIFFile gf;
    Image img;
    std::string err = ErrorOf([&] {
        GIFOpen(gf, Write(badCode), -1);
        GIFLoadNext(gf, img);
    });
    GIFClose(gf);
    EXPECT_EQ(err, "Cannot decompress image data.");

    // Code size byte out of range.
    auto badSize = good;
    badSize[dataAt - 1] = 12;
    err = ErrorOf([&] {
        GIFOpen(gf, Write(badSize, "b.gif"), 0);
        GIFLoadNext(gf, img);
    });
    GIFClose(gf);
    EXPECT_EQ(err, "Cannot decompress image data.");

    // Junk where the first block should start.
    auto junk = good;
    junk[13 + 12] = 0x55;
    EXPECT_EQ(ErrorOf([&] { GIFOpen(gf, Write(junk, "c.gif"), -1); }), "Image header invalid.");
    GIFClose(gf);

    // Descriptor cut short.
    std::vector<uint8_t> cut(good.begin(), good.begin() + 13 + 12 + 5);
    EXPECT_EQ(ErrorOf([&] { GIFOpen(gf, Write(cut, "d.gif"), 0); }), "Image header invalid.");
    GIFClose(gf);

    // No image at all: the open succeeds, the first load ends the movie.
    std::vector<uint8_t> none(good.begin(), good.begin() + 13 + 12);
    none.push_back(0x3B);
    err = ErrorOf([&] {
        GIFOpen(gf, Write(none, "e.gif"), -1);
        EXPECT_EQ(gf.ImgCount, 0);
        GIFLoadNext(gf, img);
    });
    GIFClose(gf);
    EXPECT_EQ(err, "End of movie reached.");
    ImgFree(img);
    GIFDone();
    EXPECT_EQ(LeakedFiles(), 0);
    EXPECT_EQ(LeakedBlocks(), 0) << MemLeakReport();
}

TEST_F(GifTest, HugeScreenIsRefusedBeforeAllocating)
{
    Screen s;
    s.width = s.height = 65535;
    s.globalPal = GreyPal(4);
    Frame f = Full(4, 4, Solid(16, 1));
    f.lzw.minCodeSize = 2;
    GIFFile gf;
    EXPECT_EQ(ErrorOf([&] { GIFOpen(gf, Write(Build(s, {f})), -1); }), "Image format not supported.");
    GIFClose(gf);
    EXPECT_EQ(LeakedBlocks(), 0);
    // A huge image on a small screen is refused too.
    Screen small;
    small.width = small.height = 8;
    small.globalPal = GreyPal(4);
    Frame big = Full(4, 4, Solid(16, 1));
    big.lzw.minCodeSize = 2;
    auto file = Build(small, {big});
    const size_t desc = 13 + 12;
    file[desc + 5] = file[desc + 6] = file[desc + 7] = file[desc + 8] = 0xFF;
    Image img;
    EXPECT_EQ(ErrorOf([&] {
                  GIFOpen(gf, Write(file, "b.gif"), -1);
                  GIFLoadNext(gf, img);
              }),
              "Image format not supported.");
    GIFClose(gf);
    ImgFree(img);
    GIFDone();
    EXPECT_EQ(LeakedBlocks(), 0);
}

// The positions of a scanned file stay valid when another file is opened for its first image.
TEST_F(GifTest, ScanCacheSurvivesOtherFilesAndNoticesChanges)
{
    Screen s;
    s.width = s.height = 6;
    s.globalPal = GreyPal(8);
    std::vector<Frame> frames;
    for (int i = 0; i < 3; ++i) {
        Frame f = Full(6, 6, Solid(36, uint8_t(i + 1)));
        f.lzw.minCodeSize = 3;
        frames.push_back(f);
    }
    const std::string a = Write(Build(s, frames), "movie.gif");
    Screen other = s;
    other.globalPal = GreyPal(4);
    Frame pre = Full(6, 6, Solid(36, 3));
    pre.lzw.minCodeSize = 2;
    pre.before = Comment(std::vector<uint8_t>(300, 'x'));  // moves the first image further on
    const std::string b = Write(Build(other, {pre}), "single.gif");

    EXPECT_EQ(LoadAll(a, 0).size(), 3u);
    EXPECT_EQ(LoadAll(b, -1).at(0), Solid(36, 3));
    const auto again = LoadAll(a, 0);
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again[2], Solid(36, 3));
    EXPECT_EQ(again[0], Solid(36, 1));

    // A changed file is scanned again.
    frames.push_back(Full(6, 6, Solid(36, 7)));
    frames.back().lzw.minCodeSize = 3;
    rtest::WriteBytes(a, Build(s, frames));
    const auto changed = LoadAll(a, 0);
    ASSERT_EQ(changed.size(), 4u);
    EXPECT_EQ(changed[3], Solid(36, 7));
}

// Cut and scrambled files never crash, hang or leak; every failure is a GIF error text.
TEST_F(GifTest, MutatedFilesNeverCrash)
{
    Screen s;
    s.width = 20;
    s.height = 14;
    s.globalPal = GreyPal(16);
    s.subBlock = 9;
    Frame f0 = Full(20, 14, Noise(280, 16, 1));
    f0.lzw.minCodeSize = 4;
    Frame f1 = Full(7, 5, Noise(35, 16, 2));
    f1.left = 15;  // reaches past the screen's right edge
    f1.top = 11;
    f1.gce = true;
    f1.disposal = 3;
    f1.transparent = 2;
    f1.interlaced = true;
    f1.lzw.minCodeSize = 4;
    f1.localPal = GreyPal(16);
    Frame f2 = Full(3, 3, Noise(9, 16, 3));
    f2.gce = true;
    f2.disposal = 2;
    f2.lzw.minCodeSize = 4;
    const auto good = Build(s, {f0, f1, f2});
    const std::vector<std::string> allowed = {"",
                                              "Invalid image format.",
                                              "Cannot decompress image data.",
                                              "Image header invalid.",
                                              "Image data corrupted.",
                                              "Image format not supported.",
                                              "End of movie reached."};
    uint32_t x = 99;
    const std::string p = Path("m.gif");
    for (int trial = 0; trial < 400; ++trial) {
        auto bytes = good;
        if (trial < int(good.size()) / 2) {
            bytes.resize(size_t(trial) * 2);
        } else {
            for (int k = 0; k < 3; ++k) {
                x = x * 1664525u + 1013904223u;
                bytes[(x >> 8) % bytes.size()] = uint8_t(x >> 24);
            }
        }
        rtest::WriteBytes(p, bytes);
        for (int selector : {-1, 0}) {
            GIFFile gf;
            Image img;
            const std::string err = ErrorOf([&] {
                GIFOpen(gf, p, selector);
                for (int i = 0; i < gf.ImgCount; ++i) GIFLoadNext(gf, img);
            });
            GIFClose(gf);
            ImgFree(img);
            GIFDone();
            EXPECT_NE(std::find(allowed.begin(), allowed.end(), err), allowed.end()) << err << " trial " << trial;
        }
    }
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}
