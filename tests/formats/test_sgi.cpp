// Silicon Graphics images: verbatim and run-length reading, the writer's layout, damage.
#include <gtest/gtest.h>

#include "ReaderTestUtil.h"
#include "formats/FF_SGI.h"

using rtest::ErrorOf;

namespace {

class SgiTest : public rtest::TempDirTest {};

std::vector<uint8_t> SgiHeader(int storage, int bpc, int dim, int xs, int ys, int zs, uint32_t colorMap = 0)
{
    std::vector<uint8_t> h;
    rtest::PutBe16(h, 474);
    h.push_back(uint8_t(storage));
    h.push_back(uint8_t(bpc));
    rtest::PutBe16(h, uint32_t(dim));
    rtest::PutBe16(h, uint32_t(xs));
    rtest::PutBe16(h, uint32_t(ys));
    rtest::PutBe16(h, uint32_t(zs));
    rtest::PutBe32(h, 0);
    rtest::PutBe32(h, 255);
    h.resize(104, 0);
    rtest::PutBe32(h, colorMap);
    h.resize(512, 0);
    return h;
}

// Unpacks one run-length row the way the format defines it (independent of the reader).
std::vector<uint8_t> Unpack(const std::vector<uint8_t>& f, size_t at)
{
    std::vector<uint8_t> out;
    for (;;) {
        const int b = f.at(at++);
        const int n = b & 0x7F;
        if (n == 0) return out;
        if (b & 0x80)
            for (int i = 0; i < n; ++i) out.push_back(f.at(at++));
        else
            out.insert(out.end(), size_t(n), f.at(at++));
    }
}

}  // namespace

TEST_F(SgiTest, WriterLayoutAndRoundTrip)
{
    Image img, back;
    rtest::FillPattern(img, 37, 23, 24);
    const std::string p = Path("a.rgb");
    SGISave(p, img);
    const auto f = rtest::ReadBytes(p);
    ASSERT_GE(f.size(), 512u + 8 * 23 * 3);
    EXPECT_EQ(rtest::Be16(f, 0), 474u);
    EXPECT_EQ(f[2], 1);  // run-length
    EXPECT_EQ(f[3], 1);
    EXPECT_EQ(rtest::Be16(f, 4), 3u);
    EXPECT_EQ(rtest::Be16(f, 6), 37u);
    EXPECT_EQ(rtest::Be16(f, 8), 23u);
    EXPECT_EQ(rtest::Be16(f, 10), 3u);
    EXPECT_EQ(rtest::Be32(f, 16), 255u);
    EXPECT_EQ(rtest::Be32(f, 104), 0u);
    // The first row in the file is the red plane of the bottom image row, and the data start
    // right after the two tables.
    const uint32_t start0 = rtest::Be32(f, 512);
    EXPECT_EQ(start0, 512u + 8 * 23 * 3);
    std::vector<uint8_t> red;
    for (int x = 0; x < 37; ++x) red.push_back(img.Data[(22 * 37 + x) * 3 + 2]);
    EXPECT_EQ(Unpack(f, start0), red);
    // Every length counts the row's closing 0 byte.
    for (int i = 0; i < 23 * 3; ++i) {
        const uint32_t s = rtest::Be32(f, 512 + 4 * i), n = rtest::Be32(f, 512 + 4 * (23 * 3 + i));
        ASSERT_LE(s + n, f.size());
        EXPECT_EQ(f[s + n - 1], 0) << i;
    }
    SGILoad(p, back);
    EXPECT_EQ(back.Bpp, 24);
    EXPECT_EQ(rtest::Pixels(back), rtest::Pixels(img));

    // 32 bits stay 32 with the fourth byte as the fourth channel.
    rtest::FillPattern(img, 9, 6, 32, 3);
    SGISave(p, img);
    EXPECT_EQ(rtest::Be16(rtest::ReadBytes(p), 10), 4u);
    SGILoad(p, back);
    EXPECT_EQ(back.Bpp, 32);
    EXPECT_EQ(rtest::Pixels(back), rtest::Pixels(img));
    ImgFree(img);
    ImgFree(back);
    EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(SgiTest, RunsAndLiteralsAtTheirLimits)
{
    Image img, back;
    ImgAlloc(img, 300, 4, 24);
    for (int i = 0; i < img.Size; ++i) img.Data[i] = uint8_t(i < 900 ? 5 : (i * 7919) % 251);
    const std::string p = Path("runs.sgi");
    SGISave(p, img);
    const auto f = rtest::ReadBytes(p);
    // Bottom row is literal noise: packets of at most 125 bytes.
    size_t at = rtest::Be32(f, 512);
    for (;;) {
        const int b = f.at(at);
        if (b == 0) break;
        if (b & 0x80) {
            EXPECT_LE(b & 0x7F, 125);
            at += 1 + size_t(b & 0x7F);
        } else {
            at += 2;
        }
    }
    // Top row (last in the red channel) is one colour: runs of at most 126.
    const size_t top = rtest::Be32(f, 512 + 4 * 3);
    EXPECT_EQ(f[top], 126);
    EXPECT_EQ(f[top + 1], 5);
    SGILoad(p, back);
    EXPECT_EQ(rtest::Pixels(back), rtest::Pixels(img));
    ImgFree(img);
    ImgFree(back);
}

TEST_F(SgiTest, VerbatimChannelsAndDimensions)
{
    // 3 channels, 4 x 2, planes red, green, blue; file rows bottom first.
    auto f = SgiHeader(0, 1, 3, 4, 2, 3);
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 2; ++r)
            for (int x = 0; x < 4; ++x) f.push_back(uint8_t(c * 100 + r * 10 + x));
    const std::string p = Path("v.rgb");
    rtest::WriteBytes(p, f);
    Image img;
    SGILoad(p, img);
    ASSERT_EQ(img.Bpp, 24);
    // Image row 0 is file row 1: blue, green, red.
    EXPECT_EQ(img.Data[0], 210);
    EXPECT_EQ(img.Data[1], 110);
    EXPECT_EQ(img.Data[2], 10);
    EXPECT_EQ(img.Data[4 * 3 + 2], 0);  // row 1 from file row 0

    // 4 channels give 32 bits with the fourth byte last.
    f = SgiHeader(0, 1, 3, 4, 2, 4);
    for (int c = 0; c < 4; ++c) f.insert(f.end(), 8, uint8_t(c + 1));
    rtest::WriteBytes(p, f);
    SGILoad(p, img);
    ASSERT_EQ(img.Bpp, 32);
    EXPECT_EQ((std::vector<uint8_t>(img.Data, img.Data + 4)), (std::vector<uint8_t>{3, 2, 1, 4}));

    // Dimension 2: one channel whatever z says; grey palette.
    f = SgiHeader(0, 1, 2, 5, 3, 3);
    for (int i = 0; i < 15; ++i) f.push_back(uint8_t(i));
    rtest::WriteBytes(p, f);
    SGILoad(p, img);
    ASSERT_EQ(img.Bpp, 8);
    EXPECT_EQ(img.Height, 3);
    EXPECT_EQ(img.Data[0], 10);
    EXPECT_EQ(img.Data[14], 4);
    EXPECT_EQ(img.Pal[200][0], 200);
    EXPECT_EQ(img.Pal[200][2], 200);

    // Grey with alpha reads as grey; the alpha plane is left out.
    f = SgiHeader(0, 1, 3, 2, 2, 2);
    f.insert(f.end(), {1, 2, 3, 4, 200, 200, 200, 200});
    rtest::WriteBytes(p, f);
    SGILoad(p, img);
    ASSERT_EQ(img.Bpp, 8);
    EXPECT_EQ(rtest::Pixels(img), (std::vector<uint8_t>{3, 4, 1, 2}));

    // Dimension 1: one row.
    f = SgiHeader(0, 1, 1, 6, 9, 9);
    for (int i = 0; i < 6; ++i) f.push_back(uint8_t(50 + i));
    rtest::WriteBytes(p, f);
    SGILoad(p, img);
    EXPECT_EQ(img.Height, 1);
    EXPECT_EQ(img.Data[5], 55);
    ImgFree(img);
}

TEST_F(SgiTest, RunLengthFileWithOneChannel)
{
    // 5 x 2 grey: rows "1 2 3 9 9" and "7 7 7 7 7".
    auto f = SgiHeader(1, 1, 3, 5, 2, 1);
    const std::vector<uint8_t> r0 = {0x83, 1, 2, 3, 0x02, 9, 0}, r1 = {0x05, 7, 0};
    const uint32_t s0 = 512 + 16, s1 = s0 + uint32_t(r0.size());
    rtest::PutBe32(f, s0);
    rtest::PutBe32(f, s1);
    rtest::PutBe32(f, uint32_t(r0.size()));
    rtest::PutBe32(f, uint32_t(r1.size()));
    f.insert(f.end(), r0.begin(), r0.end());
    f.insert(f.end(), r1.begin(), r1.end());
    const std::string p = Path("g.bw");
    rtest::WriteBytes(p, f);
    Image img;
    SGILoad(p, img);
    EXPECT_EQ(rtest::Pixels(img), (std::vector<uint8_t>{7, 7, 7, 7, 7, 1, 2, 3, 9, 9}));

    // A packet reaching past the row, or a row outside the file, cannot be decoded.
    auto over = f;
    over[s1] = 0x06;
    rtest::WriteBytes(p, over);
    EXPECT_EQ(ErrorOf([&] { SGILoad(p, img); }), "Cannot decompress image data.");
    auto outside = f;
    outside[512 + 7] = 0xF0;
    rtest::WriteBytes(p, outside);
    EXPECT_EQ(ErrorOf([&] { SGILoad(p, img); }), "Cannot decompress image data.");
    std::vector<uint8_t> noTables(f.begin(), f.begin() + 520);
    rtest::WriteBytes(p, noTables);
    EXPECT_EQ(ErrorOf([&] { SGILoad(p, img); }), "Cannot decompress image data.");
    ImgFree(img);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(SgiTest, UnsupportedAndInvalidFiles)
{
    const std::string p = Path("x.sgi");
    Image img;
    auto check = [&](const std::vector<uint8_t>& f) {
        rtest::WriteBytes(p, f);
        return ErrorOf([&] { SGILoad(p, img); });
    };
    auto withData = [](std::vector<uint8_t> h) {
        h.resize(h.size() + 4096, 1);
        return h;
    };
    EXPECT_EQ(check(withData(SgiHeader(0, 2, 3, 4, 4, 3))), "Image format not supported.");
    EXPECT_EQ(check(withData(SgiHeader(2, 1, 3, 4, 4, 3))), "Image format not supported.");
    EXPECT_EQ(check(withData(SgiHeader(0, 1, 3, 4, 4, 5))), "Image format not supported.");
    EXPECT_EQ(check(withData(SgiHeader(0, 1, 4, 4, 4, 3))), "Image format not supported.");
    EXPECT_EQ(check(withData(SgiHeader(0, 1, 3, 4, 4, 3, 1))), "Image format not supported.");
    auto magic = withData(SgiHeader(0, 1, 3, 4, 4, 3));
    magic[1] = 0;
    EXPECT_EQ(check(magic), "Invalid image format.");
    EXPECT_EQ(check(std::vector<uint8_t>(60, 1)), "Invalid image format.");
    EXPECT_EQ(check(withData(SgiHeader(0, 1, 3, 0, 4, 3))), "Invalid image format.");
    // Verbatim data cut short.
    auto cut = SgiHeader(0, 1, 3, 64, 64, 3);
    cut.resize(cut.size() + 100);
    EXPECT_EQ(check(cut), "Image data corrupted.");
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(SgiTest, WriterRefusesSizesOutsideLimits)
{
    Image img;
    rtest::FillPattern(img, 3, 8, 24);
    const std::string p = Path("small.sgi");
    EXPECT_EQ(ErrorOf([&] { SGISave(p, img); }), "Invalid movie format.");
    EXPECT_FALSE(std::filesystem::exists(p));
    // 8-bit images are written as 24-bit.
    ImgAlloc(img, 5, 5, 8);
    for (int i = 0; i < 25; ++i) img.Data[i] = uint8_t(i);
    for (int i = 0; i < 256; ++i) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = uint8_t(255 - i);
    SGISave(p, img);
    Image back;
    SGILoad(p, back);
    EXPECT_EQ(back.Bpp, 24);
    EXPECT_EQ(back.Data[3 * 7], 255 - 7);
    ImgFree(img);
    ImgFree(back);
}

TEST_F(SgiTest, MutatedFilesNeverCrash)
{
    Image img;
    rtest::FillPattern(img, 16, 12, 32);
    const std::string p = Path("m.sgi");
    SGISave(p, img);
    const auto good = rtest::ReadBytes(p);
    uint32_t x = 5;
    for (int trial = 0; trial < 300; ++trial) {
        auto f = good;
        for (int k = 0; k < 4; ++k) {
            x = x * 1664525u + 1013904223u;
            // Mostly the header and tables, where sizes live.
            const size_t at = (x >> 24) % 3 ? (x >> 8) % 900 : (x >> 8) % f.size();
            f[at % f.size()] = uint8_t(x >> 16);
        }
        if (trial % 7 == 0) f.resize((x >> 4) % f.size());
        rtest::WriteBytes(p, f);
        Image back;
        ErrorOf([&] { SGILoad(p, back); });
        ImgFree(back);
    }
    ImgFree(img);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}
