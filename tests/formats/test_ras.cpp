// Sun raster files: the four types at depths 8, 24 and 32, the byte encoding, damage.
#include <gtest/gtest.h>

#include "ReaderTestUtil.h"
#include "formats/FF_RAS.h"

using rtest::ErrorOf;

namespace {

class RasTest : public rtest::TempDirTest {
protected:
    std::string Write(const std::vector<uint8_t>& f)
    {
        const std::string p = Path("t.ras");
        rtest::WriteBytes(p, f);
        return p;
    }
};

std::vector<uint8_t> RasHeader(uint32_t w, uint32_t h, uint32_t depth, uint32_t type, uint32_t mapType = 0,
                               uint32_t mapLength = 0)
{
    std::vector<uint8_t> v;
    for (uint32_t x : {0x59A66A95u, w, h, depth, w * h * depth / 8, type, mapType, mapLength}) rtest::PutBe32(v, x);
    return v;
}

}  // namespace

TEST_F(RasTest, VerbatimTypesAndDepths)
{
    Image img;
    // Type 1, 24 bits, width 3: rows padded to 10 bytes, pixels blue, green, red.
    auto f = RasHeader(3, 2, 24, 1);
    for (int y = 0; y < 2; ++y) {
        for (int i = 0; i < 9; ++i) f.push_back(uint8_t(y * 50 + i));
        f.push_back(0xEE);
    }
    RASLoad(Write(f), img);
    ASSERT_EQ(img.Bpp, 24);
    EXPECT_EQ(img.Data[0], 0);
    EXPECT_EQ(img.Data[8], 8);
    EXPECT_EQ(img.Data[9], 50);  // the pad byte is skipped

    // Type 3, 24 bits: red, green, blue in the file.
    f = RasHeader(2, 1, 24, 3);
    f.insert(f.end(), {200, 100, 10, 1, 2, 3});
    RASLoad(Write(f), img);
    EXPECT_EQ(rtest::Pixels(img), (std::vector<uint8_t>{10, 100, 200, 3, 2, 1}));

    // 32 bits: X, B, G, R becomes B, G, R, X; type 3 also swaps red and blue.
    f = RasHeader(1, 1, 32, 1);
    f.insert(f.end(), {9, 1, 2, 3});
    RASLoad(Write(f), img);
    EXPECT_EQ(rtest::Pixels(img), (std::vector<uint8_t>{1, 2, 3, 9}));
    f = RasHeader(1, 1, 32, 3);
    f.insert(f.end(), {9, 1, 2, 3});
    RASLoad(Write(f), img);
    EXPECT_EQ(rtest::Pixels(img), (std::vector<uint8_t>{3, 2, 1, 9}));

    // Type 0, 8 bits with a colour map of red, green and blue planes.
    f = RasHeader(4, 1, 8, 0, 1, 768);
    for (int plane = 0; plane < 3; ++plane)
        for (int i = 0; i < 256; ++i) f.push_back(uint8_t(i + plane * 10));
    f.insert(f.end(), {0, 1, 2, 255});
    RASLoad(Write(f), img);
    ASSERT_EQ(img.Bpp, 8);
    EXPECT_EQ(rtest::Pixels(img), (std::vector<uint8_t>{0, 1, 2, 255}));
    EXPECT_EQ(img.Pal[5][2], 5);
    EXPECT_EQ(img.Pal[5][1], 15);
    EXPECT_EQ(img.Pal[5][0], 25);

    // A short colour map holds planes of a third of its length each.
    f = RasHeader(2, 1, 8, 1, 1, 6);
    f.insert(f.end(), {10, 11, 20, 21, 30, 31, 1, 0});
    RASLoad(Write(f), img);
    EXPECT_EQ(img.Pal[1][2], 11);
    EXPECT_EQ(img.Pal[1][1], 21);
    EXPECT_EQ(img.Pal[1][0], 31);
    EXPECT_EQ(img.Pal[2][2], 0);

    // A colour map of another type is skipped, the palette stays black.
    f = RasHeader(2, 1, 8, 1, 2, 6);
    f.insert(f.end(), {1, 1, 1, 1, 1, 1, 7, 8});
    RASLoad(Write(f), img);
    EXPECT_EQ(rtest::Pixels(img), (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(img.Pal[1][0], 0);
    ImgFree(img);
}

TEST_F(RasTest, ByteEncodedStream)
{
    // 5, literal 128, 4 copies of 7, 9; the stream runs across rows.
    auto f = RasHeader(4, 2, 8, 2);
    f.insert(f.end(), {5, 128, 0, 128, 3, 7, 9, 128, 255, 1});
    Image img;
    RASLoad(Write(f), img);
    EXPECT_EQ(rtest::Pixels(img), (std::vector<uint8_t>{5, 128, 7, 7, 7, 7, 9, 1}));

    auto cut = RasHeader(4, 2, 8, 2);
    cut.insert(cut.end(), {5, 6, 128});
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write(cut), img); }), "Cannot decompress image data.");
    ImgFree(img);
}

TEST_F(RasTest, WriterEncodingAndRoundTrips)
{
    Image img, back;
    ImgAlloc(img, 300, 4, 8);
    for (int i = 0; i < img.Size; ++i) img.Data[i] = i < 300 ? 3 : uint8_t(i % 3 == 0 ? 128 : i * 13);
    for (int i = 0; i < 256; ++i) img.Pal[i][0] = uint8_t(i), img.Pal[i][1] = 1, img.Pal[i][2] = uint8_t(255 - i);
    const std::string p = Path("w.ras");
    RASSave(p, img);
    const auto f = rtest::ReadBytes(p);
    EXPECT_EQ(rtest::Be32(f, 0), 0x59A66A95u);
    EXPECT_EQ(rtest::Be32(f, 12), 8u);
    // The length field holds the encoded length, as other readers take it.
    EXPECT_EQ(rtest::Be32(f, 16), uint32_t(f.size() - 32 - 768));
    EXPECT_EQ(rtest::Be32(f, 20), 2u);
    EXPECT_EQ(rtest::Be32(f, 24), 1u);
    EXPECT_EQ(rtest::Be32(f, 28), 768u);
    EXPECT_EQ(f[32 + 10], 245);        // red plane first
    EXPECT_EQ(f[32 + 512 + 10], 10);   // blue plane last
    // The first row, 300 equal bytes: runs of 256 and 44.
    EXPECT_EQ((std::vector<uint8_t>(f.begin() + 800, f.begin() + 806)), (std::vector<uint8_t>{128, 255, 3, 128, 43, 3}));
    RASLoad(p, back);
    EXPECT_EQ(rtest::Pixels(back), rtest::Pixels(img));
    EXPECT_EQ(back.Pal[10][0], 10);
    EXPECT_EQ(back.Pal[10][2], 245);

    // An all-black palette gives no colour map.
    std::memset(img.Pal, 0, sizeof img.Pal);
    RASSave(p, img);
    const auto g = rtest::ReadBytes(p);
    EXPECT_EQ(rtest::Be32(g, 24), 0u);
    EXPECT_EQ(rtest::Be32(g, 28), 0u);
    EXPECT_EQ(g[32], 128);
    EXPECT_EQ(g[33], 255);

    for (int bpp : {24, 32}) {
        rtest::FillPattern(img, 33, 17, bpp);
        RASSave(p, img);
        const auto h = rtest::ReadBytes(p);
        EXPECT_EQ(rtest::Be32(h, 12), uint32_t(bpp));
        EXPECT_EQ(rtest::Be32(h, 24), 0u);
        RASLoad(p, back);
        EXPECT_EQ(back.Bpp, bpp);
        EXPECT_EQ(rtest::Pixels(back), rtest::Pixels(img)) << bpp;
    }
    ImgFree(img);
    ImgFree(back);
    EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(RasTest, UnsupportedInvalidAndDamaged)
{
    Image img;
    auto pad = [](std::vector<uint8_t> v) {
        v.resize(v.size() + 64, 0);
        return v;
    };
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write(pad(RasHeader(4, 4, 16, 1))), img); }), "Image format not supported.");
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write(pad(RasHeader(4, 4, 8, 4))), img); }), "Image format not supported.");
    auto magic = pad(RasHeader(4, 4, 8, 1));
    magic[0] = 0;
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write(magic), img); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write({0x59, 0xA6, 0x6A, 0x95}), img); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write(pad(RasHeader(0, 4, 8, 1))), img); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write(pad(RasHeader(60000, 60000, 32, 1))), img); }), "Image format not supported.");
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write(pad(RasHeader(100, 100, 8, 1))), img); }), "Image data corrupted.");
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write(RasHeader(4, 4, 8, 1, 1, 768)), img); }), "Image data corrupted.");
    // A byte-encoded picture far larger than its data could ever fill.
    EXPECT_EQ(ErrorOf([&] { RASLoad(Write(pad(RasHeader(4000, 4000, 8, 2))), img); }), "Image data corrupted.");
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);

    rtest::FillPattern(img, 20, 9, 32);
    const std::string p = Path("m.ras");
    RASSave(p, img);
    const auto good = rtest::ReadBytes(p);
    uint32_t x = 17;
    for (int trial = 0; trial < 300; ++trial) {
        auto f = good;
        for (int k = 0; k < 3; ++k) {
            x = x * 1664525u + 1013904223u;
            f[(x >> 24) % 2 ? (x >> 8) % 32 : (x >> 8) % f.size()] = uint8_t(x >> 16);
        }
        if (trial % 5 == 0) f.resize((x >> 4) % f.size());
        rtest::WriteBytes(p, f);
        Image back;
        ErrorOf([&] { RASLoad(p, back); });
        ImgFree(back);
    }
    ImgFree(img);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}
