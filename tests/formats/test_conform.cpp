// BMP, TGA and PCX: exact round trips, the byte layout other programs rely on, hand-built
// files of every supported flavour, and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/ConForm.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"
#include "support/TempDir.h"

#include "ReaderTestUtil.h"

namespace {

using rtest::ErrorOf;

// Pixels with long runs, short runs, single pixels and bytes of 192 and above, so every
// packet kind of the run-length writers is used.
void MakeImage(Image& img, int w, int h, int bpp, unsigned seed)
{
    ImgAlloc(img, w, h, bpp);
    std::mt19937 rng(seed);
    const int bp = img.BytesPerPixel;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = img.Data + static_cast<size_t>(y) * w * bp;
        int x = 0;
        while (x < w) {
            int kind = static_cast<int>(rng() % 4);
            int len = kind == 0 ? 1 + static_cast<int>(rng() % 300) : kind == 1 ? 2 : 1;
            uint8_t px[4];
            for (int b = 0; b < bp; ++b) px[b] = static_cast<uint8_t>(kind == 3 ? 192 + rng() % 64 : rng());
            if (bpp == 15) px[1] &= 0x7F;
            for (int i = 0; i < len && x < w; ++i, ++x) std::memcpy(row + x * bp, px, bp);
        }
    }
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) img.Pal[i][c] = static_cast<uint8_t>(rng());
}

// The 24-bit pixels a 15-, 16- or 32-bit image becomes (bit layouts of the image record).
std::vector<uint8_t> As24(const Image& img)
{
    std::vector<uint8_t> out;
    const int64_t n = static_cast<int64_t>(img.Width) * img.Height;
    for (int64_t i = 0; i < n; ++i) {
        const uint8_t* p = img.Data + i * img.BytesPerPixel;
        uint16_t v = static_cast<uint16_t>(p[0] | (p[1] << 8));
        if (img.Bpp == 15) {
            out.insert(out.end(), {uint8_t((v & 31) << 3), uint8_t(((v >> 5) & 31) << 3), uint8_t(((v >> 10) & 31) << 3)});
        } else if (img.Bpp == 16) {
            out.insert(out.end(), {uint8_t((v & 31) << 3), uint8_t(((v >> 5) & 63) << 2), uint8_t(((v >> 11) & 31) << 3)});
        } else {
            out.insert(out.end(), {p[0], p[1], p[2]});
        }
    }
    return out;
}

// Replaces a file by unlinking it first: truncating a file that holds data makes ext4
// flush it on close, which turns thousands of small rewrites into seconds.
void Rewrite(const std::string& name, const std::string& bytes)
{
    std::remove(name.c_str());
    WriteWholeFile(name, bytes);
}

std::vector<uint8_t> Pixels(const Image& img)
{
    return std::vector<uint8_t>(img.Data, img.Data + static_cast<size_t>(img.Width) * img.Height * img.BytesPerPixel);
}

uint32_t U16(const std::string& s, size_t at) { return uint8_t(s[at]) | (uint8_t(s[at + 1]) << 8); }
uint32_t U32(const std::string& s, size_t at) { return U16(s, at) | (U16(s, at + 2) << 16); }
void Put16(std::string& s, size_t at, uint32_t v)
{
    s[at] = char(v & 0xFF);
    s[at + 1] = char((v >> 8) & 0xFF);
}
void Put32(std::string& s, size_t at, uint32_t v)
{
    Put16(s, at, v);
    Put16(s, at + 2, v >> 16);
}

// A BMP header (file header + 40-byte information header) for hand-built files.
std::string BmpHeader(int w, int h, int bits, int compression, uint32_t dataOffset, uint32_t fileSize)
{
    std::string s(54, '\0');
    s[0] = 'B';
    s[1] = 'M';
    Put32(s, 2, fileSize);
    Put32(s, 10, dataOffset);
    Put32(s, 14, 40);
    Put32(s, 18, static_cast<uint32_t>(w));
    Put32(s, 22, static_cast<uint32_t>(h));
    Put16(s, 26, 1);
    Put16(s, 28, static_cast<uint32_t>(bits));
    Put32(s, 30, static_cast<uint32_t>(compression));
    return s;
}

std::string TgaHeader(int type, int cmType, int cmFirst, int cmLen, int cmBits, int w, int h, int depth, int desc)
{
    std::string s(18, '\0');
    s[1] = char(cmType);
    s[2] = char(type);
    Put16(s, 3, static_cast<uint32_t>(cmFirst));
    Put16(s, 5, static_cast<uint32_t>(cmLen));
    s[7] = char(cmBits);
    Put16(s, 12, static_cast<uint32_t>(w));
    Put16(s, 14, static_cast<uint32_t>(h));
    s[16] = char(depth);
    s[17] = char(desc);
    return s;
}

std::string PcxHeader(int w, int h, int planes, int bytesPerLine)
{
    std::string s(128, '\0');
    s[0] = 10;
    s[1] = 5;
    s[2] = 1;
    s[3] = 8;
    Put16(s, 8, static_cast<uint32_t>(w - 1));
    Put16(s, 10, static_cast<uint32_t>(h - 1));
    s[65] = char(planes);
    Put16(s, 66, static_cast<uint32_t>(bytesPerLine));
    return s;
}

struct Fixture : ::testing::Test {
    TempDir dir;
    int mem0 = 0, files0 = 0;
    void SetUp() override
    {
        mem0 = MemCount();
        files0 = FileCount();
    }
    void TearDown() override
    {
        // Every reader and writer releases what it acquired, on success and on failure.
        EXPECT_EQ(MemCount(), mem0);
        EXPECT_EQ(FileCount(), files0);
    }
};

using ConFormRoundTrip = Fixture;
using ConFormLayout = Fixture;
using ConFormRead = Fixture;
using ConFormDamage = Fixture;

} // namespace

TEST_F(ConFormRoundTrip, EveryWriterAndReaderIsExact)
{
    const int formats[] = {FMT_BMP, FMT_TGA, FMT_PCX};
    const int depths[] = {8, 15, 16, 24, 32};
    const int sizes[][2] = {{1, 1}, {3, 2}, {5, 7}, {17, 3}, {301, 5}, {130, 4}};
    unsigned seed = 1;
    for (int fmt : formats) {
        for (int bpp : depths) {
            for (auto& sz : sizes) {
                SCOPED_TRACE("format " + std::to_string(fmt) + " bpp " + std::to_string(bpp) + " size " +
                             std::to_string(sz[0]) + "x" + std::to_string(sz[1]));
                Image src, back;
                MakeImage(src, sz[0], sz[1], bpp, seed++);
                std::string name = dir / ("rt.img");
                ASSERT_EQ(ErrorOf([&] { ImgSave(name, src, fmt); }), "");
                ASSERT_EQ(ErrorOf([&] { ImgLoad(name, back, fmt); }), "");
                EXPECT_EQ(back.Width, src.Width);
                EXPECT_EQ(back.Height, src.Height);
                // 5-6-5 has no plain BMP/TGA layout and PCX holds only 8 and 24 bits.
                bool to24 = bpp == 16 || (fmt == FMT_PCX && (bpp == 15 || bpp == 32));
                if (to24) {
                    EXPECT_EQ(back.Bpp, 24);
                    EXPECT_EQ(Pixels(back), As24(src));
                } else {
                    EXPECT_EQ(back.Bpp, bpp);
                    EXPECT_EQ(Pixels(back), Pixels(src));
                }
                if (bpp == 8) {
                    EXPECT_EQ(0, std::memcmp(back.Pal, src.Pal, 768));
                }
                EXPECT_EQ(src.Bpp, bpp);   // the caller's image is never changed
                ImgFree(src);
                ImgFree(back);
            }
        }
    }
}

TEST_F(ConFormLayout, LogoSizedBmpHeader)
{
    Image img;
    MakeImage(img, 320, 400, 8, 7);
    std::string name = dir / "logo.sys";
    ASSERT_EQ(ErrorOf([&] { ImgSave(name, img, FMT_BMP); }), "");
    std::string f = ReadWholeFile(name);
    ASSERT_EQ(f.size(), 129078u);
    EXPECT_EQ(f.substr(0, 2), "BM");
    EXPECT_EQ(U32(f, 2), 129078u);
    EXPECT_EQ(U32(f, 6), 0u);
    EXPECT_EQ(U32(f, 10), 1078u);
    EXPECT_EQ(U32(f, 14), 40u);
    EXPECT_EQ(U32(f, 18), 320u);
    EXPECT_EQ(U32(f, 22), 400u);
    EXPECT_EQ(U16(f, 26), 1u);
    EXPECT_EQ(U16(f, 28), 8u);
    EXPECT_EQ(U32(f, 30), 0u);
    EXPECT_EQ(U32(f, 34), 128000u);
    EXPECT_EQ(U32(f, 46), 256u);
    EXPECT_EQ(U32(f, 50), 256u);
    // Palette entry 5 is blue, green, red, 0; the first file row is the image's bottom row.
    EXPECT_EQ(uint8_t(f[54 + 20]), img.Pal[5][0]);
    EXPECT_EQ(uint8_t(f[54 + 22]), img.Pal[5][2]);
    EXPECT_EQ(f[54 + 23], 0);
    EXPECT_EQ(0, std::memcmp(f.data() + 1078, img.Data + 399 * 320, 320));
    ImgFree(img);
}

TEST_F(ConFormLayout, NarrowTrueColourBmpRowsArePadded)
{
    Image img;
    MakeImage(img, 3, 2, 24, 3);
    std::string name = dir / "narrow.bmp";
    ASSERT_EQ(ErrorOf([&] { ImgSave(name, img, FMT_BMP); }), "");
    std::string f = ReadWholeFile(name);
    ASSERT_EQ(f.size(), 54u + 2 * 12);
    EXPECT_EQ(U16(f, 28), 24u);
    EXPECT_EQ(U32(f, 34), 24u);
    EXPECT_EQ(0, std::memcmp(f.data() + 54, img.Data + 9, 9));   // bottom row first
    EXPECT_EQ(f.substr(54 + 9, 3), std::string(3, '\0'));
    EXPECT_EQ(0, std::memcmp(f.data() + 66, img.Data, 9));
    EXPECT_EQ(f.substr(66 + 9, 3), std::string(3, '\0'));
    ImgFree(img);
}

TEST_F(ConFormLayout, TgaHeadersByDepth)
{
    Image img8, img24;
    MakeImage(img8, 10, 4, 8, 11);
    MakeImage(img24, 10, 4, 24, 12);
    std::string n8 = dir / "a.tga", n24 = dir / "b.tga";
    ASSERT_EQ(ErrorOf([&] { ImgSave(n8, img8); }), "");
    ASSERT_EQ(ErrorOf([&] { ImgSave(n24, img24); }), "");
    std::string f8 = ReadWholeFile(n8), f24 = ReadWholeFile(n24);
    EXPECT_EQ(f8[1], 1);
    EXPECT_EQ(f8[2], 9);
    EXPECT_EQ(U16(f8, 3), 0u);
    EXPECT_EQ(U16(f8, 5), 256u);
    EXPECT_EQ(f8[7], 24);
    EXPECT_EQ(U16(f8, 12), 10u);
    EXPECT_EQ(U16(f8, 14), 4u);
    EXPECT_EQ(f8[16], 8);
    EXPECT_EQ(f8[17], 0);
    EXPECT_EQ(0, std::memcmp(f8.data() + 18, img8.Pal, 768));
    EXPECT_EQ(f24[1], 0);
    EXPECT_EQ(f24[2], 10);
    EXPECT_EQ(f24[16], 24);
    ImgFree(img8);
    ImgFree(img24);
}

TEST_F(ConFormLayout, TgaPacketsStayWithinRows)
{
    // Two rows of one colour: a run may not cross from one row into the next.
    Image img;
    ImgAlloc(img, 4, 2, 8);
    std::memset(img.Data, 7, 8);
    std::string name = dir / "runs.tga";
    ASSERT_EQ(ErrorOf([&] { ImgSave(name, img); }), "");
    std::string f = ReadWholeFile(name);
    ASSERT_EQ(f.size(), 18u + 768 + 4);
    EXPECT_EQ(f.substr(18 + 768), std::string("\x83\x07\x83\x07", 4));
    ImgFree(img);
}

TEST_F(ConFormLayout, PcxEightBitEndsWithPaletteAndPadsEachPlane)
{
    Image img8, img24;
    MakeImage(img8, 5, 2, 8, 21);
    ImgAlloc(img24, 3, 1, 24);
    const uint8_t px[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};   // blue, green, red per pixel
    std::memcpy(img24.Data, px, 9);
    std::string n8 = dir / "a.pcx", n24 = dir / "b.pcx";
    ASSERT_EQ(ErrorOf([&] { ImgSave(n8, img8); }), "");
    ASSERT_EQ(ErrorOf([&] { ImgSave(n24, img24); }), "");
    std::string f8 = ReadWholeFile(n8);
    ASSERT_GT(f8.size(), 128u + 769);
    EXPECT_EQ(f8[f8.size() - 769], 12);
    EXPECT_EQ(uint8_t(f8[f8.size() - 768 + 3 * 9]), img8.Pal[9][2]);   // red first
    EXPECT_EQ(uint8_t(f8[f8.size() - 768 + 3 * 9 + 2]), img8.Pal[9][0]);
    EXPECT_EQ(U16(f8, 66), 6u);
    EXPECT_EQ(f8[65], 1);
    std::string f24 = ReadWholeFile(n24);
    EXPECT_EQ(f24[65], 3);
    EXPECT_EQ(U16(f24, 66), 4u);
    EXPECT_EQ(U16(f24, 8), 2u);
    // Red plane, green plane, blue plane, each padded to the even line length.
    std::string expect("\x03\x06\x09\x00\x02\x05\x08\x00\x01\x04\x07\x00", 12);
    EXPECT_EQ(f24.substr(128), expect);
    ImgFree(img8);
    ImgFree(img24);
}

TEST_F(ConFormRead, OneBitBmpExpandsMostSignificantBitFirst)
{
    // 10 pixels wide: 2 bytes of bits + 2 padding bytes per row; 2 rows.
    std::string f = BmpHeader(10, 2, 1, 0, 62, 62 + 8);
    f += std::string("\x10\x20\x30\x00", 4) + std::string("\xF0\x00\xFF\x00", 4);   // palette
    f += std::string("\x80\x40\x00\x00", 4);   // bottom row: pixel 0 and pixel 9 set
    f += std::string("\x55\xC0\x00\x00", 4);   // top row: 0101 0101 11
    std::string name = dir / "one.bmp";
    WriteWholeFile(name, f);
    Image img;
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    EXPECT_EQ(img.Bpp, 8);
    EXPECT_EQ(img.Width, 10);
    const uint8_t top[10] = {0, 1, 0, 1, 0, 1, 0, 1, 1, 1}, bottom[10] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(img.Data, top, 10));
    EXPECT_EQ(0, std::memcmp(img.Data + 10, bottom, 10));
    EXPECT_EQ(img.Pal[0][0], 0x10);
    EXPECT_EQ(img.Pal[0][2], 0x30);
    EXPECT_EQ(img.Pal[1][0], 0xF0);
    EXPECT_EQ(img.Pal[1][2], 0xFF);
    ImgFree(img);
}

TEST_F(ConFormRead, CoreHeaderBmpWithThreeBytePalette)
{
    std::string f(26, '\0');
    f[0] = 'B';
    f[1] = 'M';
    Put32(f, 10, 26 + 6);
    Put32(f, 14, 12);
    Put16(f, 18, 2);
    Put16(f, 20, 1);
    Put16(f, 22, 1);
    Put16(f, 24, 8);
    f += std::string("\x01\x02\x03\x04\x05\x06", 6) + std::string("\x01\x00\x00\x00", 4);
    std::string name = dir / "core.bmp";
    WriteWholeFile(name, f);
    Image img;
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    EXPECT_EQ(img.Width, 2);
    EXPECT_EQ(img.Data[0], 1);
    EXPECT_EQ(img.Data[1], 0);
    EXPECT_EQ(img.Pal[1][0], 4);
    EXPECT_EQ(img.Pal[1][2], 6);
    ImgFree(img);
}

TEST_F(ConFormRead, SixteenBitBmpFollowsItsMasks)
{
    // Pure green in 5-6-5 is 0x07E0; read as 5-5-5 it would turn a little red.
    for (const bool masked : {true, false}) {
        std::string f = BmpHeader(2, 1, 16, masked ? 3 : 0, 54 + 12, 54 + 12 + 4);
        f += masked ? std::string("\x00\xF8\x00\x00\xE0\x07\x00\x00\x1F\x00\x00\x00", 12)
                    : std::string("\x00\x7C\x00\x00\xE0\x03\x00\x00\x1F\x00\x00\x00", 12);
        f += std::string("\xE0\x07\x1F\x00", 4);
        const std::string name = dir / "masks.bmp";
        WriteWholeFile(name, f);
        Image img, rgb;
        ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
        EXPECT_EQ(img.Bpp, masked ? 16 : 15);
        ASSERT_EQ(ErrorOf([&] { ImgConvBppEx(img, rgb, 24, 0); }), "");
        if (masked) {
            EXPECT_EQ(Pixels(rgb), std::vector<uint8_t>({0, 252, 0, 248, 0, 0}));  // blue, green, red
        } else {
            const std::vector<uint8_t> px = Pixels(rgb);
            EXPECT_EQ(std::vector<uint8_t>(px.begin(), px.begin() + 3), std::vector<uint8_t>({0, 248, 8}));
        }
        ImgFree(img);
        ImgFree(rgb);
    }
    // A shortened OS/2 2.x header (24 bytes) holds no masks: where a 40-byte header's would be,
    // this file has pixels (5-5-5 red), which must stay pixels.
    std::string f = BmpHeader(16, 1, 16, 3, 14 + 24, 14 + 24 + 32).substr(0, 14 + 24);
    Put32(f, 14, 24);
    for (int i = 0; i < 16; i++) f += std::string("\x00\x7C", 2);
    const std::string name = dir / "os2-short.bmp";
    WriteWholeFile(name, f);
    Image img, rgb;
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    EXPECT_EQ(img.Bpp, 15);
    ASSERT_EQ(ErrorOf([&] { ImgConvBppEx(img, rgb, 24, 0); }), "");
    const std::vector<uint8_t> px = Pixels(rgb);
    for (size_t i = 0; i + 3 <= px.size(); i += 3)
        EXPECT_EQ(std::vector<uint8_t>(px.begin() + i, px.begin() + i + 3), std::vector<uint8_t>({0, 0, 248})) << i / 3;
    ImgFree(img);
    ImgFree(rgb);
}

TEST_F(ConFormRead, Rle8EveryEscape)
{
    // 4 x 4 picture; file row 0 is the bottom row.
    std::string codes = std::string("\x04\x01", 2)       // row 0 filled exactly to its end
                        + std::string("\x00\x00", 2)     // end of line after a full row: row 1 next
                        + std::string("\x02\x02", 2)     // row 1: two pixels of 2
                        + std::string("\x00\x00", 2)     // end of line: row 2
                        + std::string("\x00\x03\x05\x06\x07\x00", 6)   // literal of 3, padded
                        + std::string("\x00\x02\x00\x01", 4)           // delta: 0 right, 1 down
                        + std::string("\x01\x09", 2)                    // row 3, column 3: 9
                        + std::string("\x00\x01", 2)                    // end of picture
                        + std::string("\x04\x0F", 2);                   // never reached
    std::string f = BmpHeader(4, 4, 8, 1, 54 + 1024, 0) + std::string(1024, '\0') + codes;
    std::string name = dir / "rle.bmp";
    WriteWholeFile(name, f);
    Image img;
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    const uint8_t expect[16] = {0, 0, 0, 9,  5, 6, 7, 0,  2, 2, 0, 0,  1, 1, 1, 1};
    EXPECT_EQ(0, std::memcmp(img.Data, expect, 16));
    ImgFree(img);

    // A run longer than the row wraps to the next row.
    std::string f2 = BmpHeader(3, 2, 8, 1, 54, 0) + std::string("\x05\x04", 2);
    WriteWholeFile(name, f2);
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    const uint8_t expect2[6] = {4, 4, 0, 4, 4, 4};
    EXPECT_EQ(0, std::memcmp(img.Data, expect2, 6));
    ImgFree(img);

    // A literal cut off by the end of the data is damage.
    std::string f3 = BmpHeader(3, 2, 8, 1, 54, 0) + std::string("\x00\x05\x01\x02", 4);
    WriteWholeFile(name, f3);
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Cannot decompress image data.");
}

TEST_F(ConFormRead, BmpRefusals)
{
    std::string name = dir / "x.bmp";
    Image img;
    // 4-bit, run-length 4-bit and top-down files are read (files from other programs show it);
    // depths no Windows bitmap has are not.
    for (int bits : {2, 7, 12, 48}) {
        WriteWholeFile(name, BmpHeader(4, 4, bits, 0, 54, 0) + std::string(64, '\0'));
        EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Image format not supported.") << bits;
        WriteWholeFile(name, BmpHeader(4, -4, bits, 0, 54, 0) + std::string(64, '\0'));
        EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Image format not supported.") << bits;
    }
    std::string notBm = BmpHeader(4, 4, 8, 0, 54, 0) + std::string(64, '\0');
    notBm[0] = 'X';
    WriteWholeFile(name, notBm);
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Invalid image format.");
    WriteWholeFile(name, BmpHeader(0, -4, 24, 0, 54, 0) + std::string(64, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Invalid image format.");
    WriteWholeFile(name, BmpHeader(0, 4, 24, 0, 54, 0) + std::string(64, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Invalid image format.");
    EXPECT_FALSE(ImgIsValid(img));
}

TEST_F(ConFormRead, TgaFlavours)
{
    std::string name = dir / "x.tga";
    Image img;
    // Type 3 (grey) is not read.
    WriteWholeFile(name, TgaHeader(3, 0, 0, 0, 0, 2, 2, 8, 0) + std::string(4, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Invalid image format.");

    // 16-bit true colour reads as 15 bits; descriptor bit 5 keeps the top row first.
    WriteWholeFile(name, TgaHeader(2, 0, 0, 0, 0, 2, 2, 16, 32) + std::string("\x01\x00\x02\x00\x03\x00\x04\x7C", 8));
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    EXPECT_EQ(img.Bpp, 15);
    EXPECT_EQ(img.Data[0], 1);
    EXPECT_EQ(img.Data[7], 0x7C);
    ImgFree(img);

    // Colour-mapped with an identification field, 16-bit map entries starting at index 2.
    std::string f = TgaHeader(1, 1, 2, 2, 16, 2, 1, 8, 0);
    f[0] = 3;
    f += "abc";
    f += std::string("\x1F\x00\x00\x7C", 4);   // entry 2 pure blue, entry 3 pure red (5-5-5)
    f += std::string("\x02\x03", 2);
    WriteWholeFile(name, f);
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    EXPECT_EQ(img.Data[0], 2);
    EXPECT_EQ(img.Data[1], 3);
    EXPECT_EQ(img.Pal[2][0], 0xF8);
    EXPECT_EQ(img.Pal[2][2], 0);
    EXPECT_EQ(img.Pal[3][2], 0xF8);
    ImgFree(img);

    // Run-length true colour: one stream over the whole image (a run crosses the row end),
    // bottom row first.
    std::string g = TgaHeader(10, 0, 0, 0, 0, 3, 2, 24, 0);
    g += std::string("\x83\x01\x02\x03", 4);                          // 4 pixels
    g += std::string("\x01\x04\x05\x06\x07\x08\x09", 7);              // 2 literal pixels
    WriteWholeFile(name, g);
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    ASSERT_EQ(img.Bpp, 24);
    const uint8_t expect[18] = {1, 2, 3, 4, 5, 6, 7, 8, 9,  1, 2, 3, 1, 2, 3, 1, 2, 3};
    EXPECT_EQ(0, std::memcmp(img.Data, expect, 18));
    ImgFree(img);

    // Depth beyond 32 bits.
    WriteWholeFile(name, TgaHeader(2, 0, 0, 0, 0, 2, 2, 40, 0) + std::string(20, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Image format not supported.");
}

TEST_F(ConFormRead, PcxLinesFollowTheHeaderBytesPerLine)
{
    std::string name = dir / "x.pcx";
    Image img;
    // 5 x 2, one plane, 6 bytes per line: rows of 5 come out.
    std::string f = PcxHeader(5, 2, 1, 6);
    f += std::string("\x01\x02\x03\x04\x05\x00", 6);
    f += std::string("\xC5\x09\x00", 3);   // run of 5, then the padding byte
    f += '\x0C' + std::string(768, '\x11');
    WriteWholeFile(name, f);
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    EXPECT_EQ(img.Width, 5);
    EXPECT_EQ(img.Bpp, 8);
    const uint8_t expect[10] = {1, 2, 3, 4, 5, 9, 9, 9, 9, 9};
    EXPECT_EQ(0, std::memcmp(img.Data, expect, 10));
    EXPECT_EQ(img.Pal[0][0], 0x11);
    ImgFree(img);

    // 3 x 1, three planes of 4 bytes each (plane padding, as standard writers store it).
    std::string g = PcxHeader(3, 1, 3, 4) + std::string("\x03\x06\x09\x00\x02\x05\x08\x00\x01\x04\x07\x00", 12);
    WriteWholeFile(name, g);
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    EXPECT_EQ(img.Bpp, 24);
    const uint8_t px[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(0, std::memcmp(img.Data, px, 9));
    ImgFree(img);

    // Bytes per line beyond the even width is honoured too.
    std::string h = PcxHeader(2, 2, 1, 4) + std::string("\x01\x02\x55\x55\x03\x04\x55\x55", 8) + '\x0C' +
                    std::string(768, '\0');
    WriteWholeFile(name, h);
    ASSERT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "");
    const uint8_t e2[4] = {1, 2, 3, 4};
    EXPECT_EQ(0, std::memcmp(img.Data, e2, 4));
    ImgFree(img);

    // Fewer bytes per line than pixels: damaged.
    WriteWholeFile(name, PcxHeader(5, 2, 1, 4) + std::string(20, '\0') + '\x0C' + std::string(768, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Invalid image format.");
    // Other flavours.
    std::string bad = PcxHeader(4, 4, 1, 4);
    bad[0] = 11;
    WriteWholeFile(name, bad + std::string(800, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Invalid image format.");
    WriteWholeFile(name, PcxHeader(4, 4, 2, 4) + std::string(800, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Image format not supported.");
    std::string fourBit = PcxHeader(4, 4, 1, 4);
    fourBit[3] = 4;
    WriteWholeFile(name, fourBit + std::string(800, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img); }), "Image format not supported.");
}

TEST_F(ConFormDamage, ShortEmptyHugeAndRandomFilesFailCleanly)
{
    const std::vector<std::string> allowed = {"", "Image format not supported.", "Invalid image format.",
                                              "Cannot decompress image data.", "Cannot read from file."};
    Image img;
    std::string name = dir / "bad.img";
    for (int fmt : {FMT_BMP, FMT_TGA, FMT_PCX}) {
        // The header is read through the file layer: an empty file is a short read.
        Rewrite(name, "");
        EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img, fmt); }), "Cannot read from file.") << fmt;
    }
    // Huge declared sizes are refused before anything is allocated.
    Rewrite(name, BmpHeader(60000, 60000, 24, 0, 54, 0));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img, FMT_BMP); }), "Image format not supported.");
    Rewrite(name, BmpHeader(60000, 60000, 8, 1, 54 + 1024, 0) + std::string(1024, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img, FMT_BMP); }), "Image format not supported.");
    Rewrite(name, TgaHeader(10, 0, 0, 0, 0, 65535, 65535, 32, 0) + "\xFF\x00\x00\x00\x00");
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img, FMT_TGA); }), "Image format not supported.");
    Rewrite(name, PcxHeader(65535, 65535, 3, 65535) + "\xC1\x00");
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img, FMT_PCX); }), "Image format not supported.");
    // A believable size whose pixels are not in the file.
    Rewrite(name, BmpHeader(1000, 1000, 24, 0, 54, 0) + std::string(100, '\0'));
    EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img, FMT_BMP); }), "Cannot read from file.");

    // Every truncation and random corruption of valid files.
    std::mt19937 rng(99);
    for (int fmt : {FMT_BMP, FMT_TGA, FMT_PCX}) {
        for (int bpp : {8, 24}) {
            Image src;
            MakeImage(src, 13, 9, bpp, static_cast<unsigned>(fmt * 10 + bpp));
            std::string good = dir / "good.img";
            ASSERT_EQ(ErrorOf([&] { ImgSave(good, src, fmt); }), "");
            ImgFree(src);
            std::string bytes = ReadWholeFile(good);
            for (size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 8) {
                Rewrite(name, bytes.substr(0, cut));
                std::string e = ErrorOf([&] { ImgLoad(name, img, fmt); });
                EXPECT_NE(std::find(allowed.begin(), allowed.end(), e), allowed.end()) << e;
                ImgFree(img);
            }
            for (int round = 0; round < 300; ++round) {
                std::string b = bytes;
                int flips = 1 + static_cast<int>(rng() % 8);
                for (int i = 0; i < flips; ++i) {
                    // Favour the header, where sizes live.
                    size_t at = rng() % 2 ? rng() % std::min<size_t>(b.size(), 130) : rng() % b.size();
                    b[at] = static_cast<char>(rng());
                }
                Rewrite(name, b);
                std::string e = ErrorOf([&] { ImgLoad(name, img, fmt); });
                EXPECT_NE(std::find(allowed.begin(), allowed.end(), e), allowed.end()) << e;
                ImgFree(img);
            }
        }
    }
    for (int round = 0; round < 100; ++round) {
        std::string b(static_cast<size_t>(rng() % 2000), '\0');
        for (char& c : b) c = static_cast<char>(rng());
        if (round % 3 == 0 && b.size() > 2) b[0] = 'B', b[1] = 'M';
        if (round % 3 == 1 && !b.empty()) b[0] = 10;
        Rewrite(name, b);
        for (int fmt : {FMT_BMP, FMT_TGA, FMT_PCX}) {
            std::string e = ErrorOf([&] { ImgLoad(name, img, fmt); });
            EXPECT_NE(std::find(allowed.begin(), allowed.end(), e), allowed.end()) << e;
            ImgFree(img);
        }
    }
}

TEST_F(ConFormDamage, WritersRefuseWhatTheFormatCannotHold)
{
    Image img;
    ImgAlloc(img, 70000, 1, 8);
    std::string name = dir / "wide";
    EXPECT_EQ(ErrorOf([&] { ImgSave(name + ".tga", img); }), "Cannot compress image data.");
    EXPECT_EQ(ErrorOf([&] { ImgSave(name + ".pcx", img); }), "Cannot compress image data.");
    EXPECT_EQ(ErrorOf([&] { ImgSave(name + ".bmp", img); }), "");
    ImgFree(img);
}

// Files we write must read correctly in an independent reader (Pillow), when installed.
TEST_F(ConFormLayout, IndependentReaderAgrees)
{
    const char* python = std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0 ? "/usr/bin/python3"
                         : std::system("python3 -c 'import PIL' >/dev/null 2>&1") == 0   ? "python3"
                                                                                          : nullptr;
    if (!python) GTEST_SKIP() << "python3 with PIL is not installed";
    struct Case {
        const char* ext;
        int bpp, w, h;
    } cases[] = {{"bmp", 8, 7, 5}, {"bmp", 24, 7, 5}, {"bmp", 32, 3, 4}, {"tga", 8, 9, 3}, {"tga", 24, 301, 3},
                 {"tga", 32, 5, 2}, {"pcx", 8, 7, 5}, {"pcx", 24, 7, 5}, {"pcx", 24, 200, 3}};
    // One interpreter run converts every file to raw RGB.
    std::vector<Image> imgs(std::size(cases));
    std::string list;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        MakeImage(imgs[k], c.w, c.h, c.bpp, static_cast<unsigned>(c.w * 7 + c.bpp));
        std::string file = dir / ("pil" + std::to_string(k) + "." + c.ext);
        ASSERT_EQ(ErrorOf([&] { ImgSave(file, imgs[k]); }), "");
        list += " '" + file + "'";
    }
    std::string cmd = std::string(python) +
                      " -c \"import sys\nfrom PIL import Image\nfor f in sys.argv[1:]:\n"
                      "    open(f + '.rgb', 'wb').write(Image.open(f).convert('RGB').tobytes())\"" + list;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(std::string(c.ext) + " " + std::to_string(c.bpp));
        const Image& img = imgs[k];
        std::string rgb = ReadWholeFile(dir / ("pil" + std::to_string(k) + "." + c.ext + ".rgb"));
        ASSERT_EQ(rgb.size(), static_cast<size_t>(c.w) * c.h * 3);
        for (int i = 0; i < c.w * c.h; ++i) {
            const uint8_t* p = img.Data + i * img.BytesPerPixel;
            const uint8_t* bgr = c.bpp == 8 ? img.Pal[p[0]] : p;
            ASSERT_EQ(uint8_t(rgb[i * 3]), bgr[2]) << "pixel " << i;
            ASSERT_EQ(uint8_t(rgb[i * 3 + 1]), bgr[1]) << "pixel " << i;
            ASSERT_EQ(uint8_t(rgb[i * 3 + 2]), bgr[0]) << "pixel " << i;
        }
    }
    for (Image& img : imgs) ImgFree(img);
}
