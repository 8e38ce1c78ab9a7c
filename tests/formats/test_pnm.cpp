// Portable anymaps: the token reader, the four pixel kinds, the maximum-value shift, damage.
#include <gtest/gtest.h>

#include "ReaderTestUtil.h"
#include "formats/FF_PNM.h"

using rtest::ErrorOf;

namespace {

class PnmTest : public rtest::TempDirTest {
protected:
    std::string Write(const std::string& text, const std::vector<uint8_t>& data = {})
    {
        std::vector<uint8_t> f(text.begin(), text.end());
        f.insert(f.end(), data.begin(), data.end());
        const std::string p = Path("t.pnm");
        rtest::WriteBytes(p, f);
        return p;
    }
};

}  // namespace

TEST_F(PnmTest, BinaryColourRoundTripAndHeader)
{
    Image img, back;
    rtest::FillPattern(img, 33, 17, 24);
    const std::string p = Path("a.ppm");
    PNMSave(p, img);
    const auto f = rtest::ReadBytes(p);
    const std::string hdr = "P6\n33 17\n255\n";
    ASSERT_EQ(f.size(), hdr.size() + 33 * 17 * 3);
    EXPECT_EQ(std::string(f.begin(), f.begin() + long(hdr.size())), hdr);
    EXPECT_EQ(f[hdr.size()], img.Data[2]);  // red first
    EXPECT_EQ(f[hdr.size() + 2], img.Data[0]);
    PNMLoad(p, back);
    EXPECT_EQ(back.Bpp, 24);
    EXPECT_EQ(rtest::Pixels(back), rtest::Pixels(img));

    // Other depths are written as 24 bits.
    ImgAlloc(img, 4, 4, 8);
    for (int i = 0; i < 16; ++i) img.Data[i] = uint8_t(i);
    for (int i = 0; i < 256; ++i) img.Pal[i][0] = uint8_t(i), img.Pal[i][1] = 0, img.Pal[i][2] = 200;
    PNMSave(p, img);
    PNMLoad(p, back);
    EXPECT_EQ(back.Bpp, 24);
    EXPECT_EQ(back.Data[3 * 5], 5);
    EXPECT_EQ(back.Data[3 * 5 + 2], 200);
    ImgFree(img);
    ImgFree(back);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(PnmTest, AsciiWithCommentsBetweenTokens)
{
    Image img;
    std::string text = "P3\n# made by hand\n4 # width\n\t4\r\n#max\n255\n";
    for (int i = 0; i < 48; ++i) text += std::to_string(i * 5) + (i % 7 ? " " : "\n");
    PNMLoad(Write(text), img);
    ASSERT_EQ(img.Bpp, 24);
    ASSERT_EQ(img.Width, 4);
    EXPECT_EQ(img.Data[0], 10);  // blue of the first pixel
    EXPECT_EQ(img.Data[2], 0);
    EXPECT_EQ(img.Data[47], 225);

    // Grey, maximum 15: every sample times 16; grey palette.
    text = "P2 4 4 15";
    for (int i = 0; i < 16; ++i) text += " " + std::to_string(i % 16);
    PNMLoad(Write(text), img);
    ASSERT_EQ(img.Bpp, 8);
    EXPECT_EQ(img.Data[15], 240);
    EXPECT_EQ(img.Data[1], 16);
    EXPECT_EQ(img.Pal[77][1], 77);

    // A value token cut off by the end of the file still counts.
    text = "P2 4 4 255 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16";
    PNMLoad(Write(text), img);
    EXPECT_EQ(img.Data[15], 16);
    ImgFree(img);
}

TEST_F(PnmTest, BinaryGreyAndShift)
{
    Image img;
    std::vector<uint8_t> data(20);
    for (int i = 0; i < 20; ++i) data[size_t(i)] = uint8_t(i);
    // Comment directly after the maximum: the data start after the comment's line end.
    PNMLoad(Write("P5\n5 4\n63#six bits\n", data), img);
    ASSERT_EQ(img.Bpp, 8);
    EXPECT_EQ(img.Width, 5);
    EXPECT_EQ(img.Data[0], 0);
    EXPECT_EQ(img.Data[19], 19 * 4);
    // A single delimiter ends the header even when the data start with a blank.
    data[0] = ' ';
    PNMLoad(Write("P5 5 4 255 ", data), img);
    EXPECT_EQ(img.Data[0], ' ');
    ImgFree(img);
}

TEST_F(PnmTest, UnsupportedInvalidAndDamaged)
{
    Image img;
    const std::vector<uint8_t> px(64 * 3, 1);
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("P1\n4 4\n0 1 0 1\n"), img); }), "Image format not supported.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("P4\n8 8\n", px), img); }), "Image format not supported.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("P6\n3 5\n255\n", px), img); }), "Image format not supported.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("P6\n4 4097\n255\n", px), img); }), "Image format not supported.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("P6\n4 4\n65535\n", px), img); }), "Image format not supported.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("Q6\n4 4\n255\n", px), img); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write(std::string(9000, 'x')), img); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write(""), img); }), "Image data corrupted.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("P6\n4 # no height"), img); }), "Image data corrupted.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("P6\n4x 4\n255\n", px), img); }), "Image data corrupted.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("P2 4 4 255 1 2 3"), img); }), "Image data corrupted.");
    EXPECT_EQ(ErrorOf([&] { PNMLoad(Write("P6 4 4 255\n", {1, 2, 3}), img); }), "Cannot read from file.");
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);

    Image src;
    rtest::FillPattern(src, 6, 5, 24);
    const std::string p = Path("m.ppm");
    PNMSave(p, src);
    const auto good = rtest::ReadBytes(p);
    uint32_t x = 3;
    for (int trial = 0; trial < 200; ++trial) {
        auto f = good;
        x = x * 1664525u + 1013904223u;
        f[(x >> 8) % 12] = uint8_t(x >> 16);
        if (trial % 3 == 0) f.resize((x >> 4) % f.size());
        rtest::WriteBytes(p, f);
        ErrorOf([&] { PNMLoad(p, img); });
    }
    ImgFree(src);
    ImgFree(img);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}
