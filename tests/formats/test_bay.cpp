// BAY camera files: sizes, trailer, grey mode and the colour reconstruction at the edges.
#include <gtest/gtest.h>

#include "ReaderTestUtil.h"
#include "formats/FF_BAY.h"

using rtest::ErrorOf;

namespace {

class BayTest : public rtest::TempDirTest {};

// Mosaic sample value used by the tests.
int Sample(int x, int y) { return (x * 7 + y * 13) & 255; }

// A BAY file whose mosaic holds sample(x, y), stored cell by cell.
std::vector<uint8_t> BayFile(int h, int mode, const char* maker = "ML", int shutter = 3,
                             int (*sample)(int, int) = Sample)
{
    std::vector<uint8_t> f;
    for (int cy = 0; cy < h / 2; ++cy)
        for (int cx = 0; cx < 256; ++cx)
            for (int k = 0; k < 4; ++k) f.push_back(uint8_t(sample(2 * cx + (k & 1), 2 * cy + (k >> 1))));
    std::vector<uint8_t> t(1024, 0);
    t[0] = uint8_t(maker[0]);
    t[1] = uint8_t(maker[1]);
    std::memcpy(t.data() + 3, "BAY 2", 5);
    t[8] = uint8_t(mode);
    t[11] = uint8_t(shutter);
    f.insert(f.end(), t.begin(), t.end());
    return f;
}

struct Bgr {
    int b, g, r;
    bool operator==(const Bgr& o) const { return b == o.b && g == o.g && r == o.r; }
};
std::ostream& operator<<(std::ostream& os, const Bgr& c) { return os << c.b << "," << c.g << "," << c.r; }

Bgr At(const Image& img, int x, int y)
{
    const uint8_t* p = img.Data + (y * img.Width + x) * 3;
    return {p[0], p[1], p[2]};
}

}  // namespace

TEST_F(BayTest, GreyModeAndSizes)
{
    const std::string p = Path("a.bay");
    const auto f = BayFile(144, 2);
    ASSERT_EQ(f.size(), 74752u);
    rtest::WriteBytes(p, f);
    Image img;
    BayLoad(p, img);
    ASSERT_EQ(img.Width, 512);
    ASSERT_EQ(img.Height, 144);
    ASSERT_EQ(img.Bpp, 8);
    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}, {511, 143}, {300, 77}})
        EXPECT_EQ(img.Data[y * 512 + x], Sample(x, y)) << x << "," << y;
    EXPECT_EQ(img.Pal[9][0], 9);

    rtest::WriteBytes(p, BayFile(384, 2, "EK", 9));
    BayLoad(p, img);
    EXPECT_EQ(img.Height, 384);
    EXPECT_EQ(img.Data[383 * 512 + 511], Sample(511, 383));
    ImgFree(img);
}

TEST_F(BayTest, ColourReconstruction)
{
    const std::string p = Path("c.bay");
    rtest::WriteBytes(p, BayFile(144, 1));
    Image img;
    BayLoad(p, img);
    ASSERT_EQ(img.Bpp, 24);
    auto M = Sample;

    // An inner cell, straight from the table.
    {
        const int x = 100, y = 50;
        auto S = [&](int dx, int dy) { return M(x + dx, y + dy); };
        EXPECT_EQ(At(img, x, y), (Bgr{(S(0, -1) + S(0, 1)) / 2, S(0, 0), (S(-1, 0) + S(1, 0)) / 2}));
        EXPECT_EQ(At(img, x + 1, y),
                  (Bgr{(S(0, -1) + S(2, -1) + S(0, 1) + S(2, 1)) / 4, (S(1, -1) + S(0, 0) + S(2, 0) + S(1, 1)) / 4, S(1, 0)}));
        EXPECT_EQ(At(img, x, y + 1),
                  (Bgr{S(0, 1), (S(0, 0) + S(-1, 1) + S(1, 1) + S(0, 2)) / 4, (S(-1, 0) + S(1, 0) + S(-1, 2) + S(1, 2)) / 4}));
        EXPECT_EQ(At(img, x + 1, y + 1), (Bgr{(S(0, 1) + S(2, 1)) / 2, S(1, 1), (S(1, 0) + S(1, 2)) / 2}));
    }
    // Top-left cell: missing neighbours are the cell's own red, blue and upper-left green.
    EXPECT_EQ(At(img, 0, 0), (Bgr{M(0, 1), M(0, 0), M(1, 0)}));
    EXPECT_EQ(At(img, 1, 0), (Bgr{(M(0, 1) + M(0, 1) + M(0, 1) + M(2, 1)) / 4,
                                  (M(0, 0) + M(0, 0) + M(2, 0) + M(1, 1)) / 4, M(1, 0)}));
    EXPECT_EQ(At(img, 0, 1), (Bgr{M(0, 1), (M(0, 0) + M(1, 1) + M(1, 1) + M(0, 2)) / 4,
                                  (M(1, 0) + M(1, 0) + M(1, 0) + M(1, 2)) / 4}));
    // Top-right cell: the green right of the upper row is the upper-left one.
    {
        const int x = 510, y = 0;
        EXPECT_EQ(At(img, x + 1, y).g, (M(x, y) + M(x, y) + M(x, y) + M(x + 1, y + 1)) / 4);
    }
    // Bottom-right cell: red and blue beyond the edge are the cell's own.
    {
        const int x = 510, y = 142;
        EXPECT_EQ(At(img, x + 1, y + 1), (Bgr{M(x, y + 1), M(x + 1, y + 1), M(x + 1, y)}));
        EXPECT_EQ(At(img, x, y + 1).g, (M(x, y) + M(x - 1, y + 1) + M(x + 1, y + 1) + M(x + 1, y + 1)) / 4);
    }
    ImgFree(img);
}

TEST_F(BayTest, FlatColoursStayFlatUpToTheEdges)
{
    const std::string p = Path("f.bay");
    rtest::WriteBytes(p, BayFile(144, 1, "RO", 2, [](int x, int y) {
                          const bool oddRow = y & 1, oddCol = x & 1;
                          return oddRow == oddCol ? 100 : (oddCol ? 200 : 50);
                      }));
    Image img;
    BayLoad(p, img);
    for (int y = 0; y < 144; ++y)
        for (int x = 0; x < 512; ++x) ASSERT_EQ(At(img, x, y), (Bgr{50, 100, 200})) << x << "," << y;
    ImgFree(img);
}

TEST_F(BayTest, InvalidAndUnsupportedFiles)
{
    const std::string p = Path("x.bay");
    Image img;
    auto f = BayFile(144, 1);
    f.push_back(0);
    rtest::WriteBytes(p, f);
    EXPECT_EQ(ErrorOf([&] { BayLoad(p, img); }), "Invalid image format.");
    f = BayFile(144, 1);
    f[73728 + 6] = '3';
    rtest::WriteBytes(p, f);
    EXPECT_EQ(ErrorOf([&] { BayLoad(p, img); }), "Invalid image format.");
    rtest::WriteBytes(p, BayFile(384, 3));
    EXPECT_EQ(ErrorOf([&] { BayLoad(p, img); }), "Image format not supported.");
    rtest::WriteBytes(p, {});
    EXPECT_EQ(ErrorOf([&] { BayLoad(p, img); }), "Invalid image format.");
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}
