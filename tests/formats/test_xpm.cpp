// XPM reader and writer: round trips at one and more characters per pixel, the colour forms
// XPM files use, and damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "ReaderTestUtil.h"
#include "formats/FFDispatch.h"
#include "formats/FF_XPM.h"

using namespace rtest;

namespace {

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// Header line of a written file: "w h ncolors cpp".
std::string HeaderOf(const std::string& path)
{
    auto b = ReadBytes(path);
    std::string s(b.begin(), b.end());
    size_t at = s.find("*/\n\"", s.find("chars-per-pixel"));
    size_t end = s.find('"', at + 4);
    return s.substr(at + 4, end - at - 4);
}

class XpmTest : public ImageTempDirTest {
protected:
    // A 24-bit picture of exactly n distinct colours.
    void Colours(int w, int h, int n)
    {
        ImgAlloc(img_, w, h, 24);
        for (int i = 0; i < w * h; i++) {
            uint32_t c = uint32_t(i % n) * 2654435761u >> 8;
            img_.Data[i * 3] = uint8_t(c), img_.Data[i * 3 + 1] = uint8_t(c >> 8), img_.Data[i * 3 + 2] = uint8_t(c >> 16);
        }
    }
};

}  // namespace

TEST_F(XpmTest, RoundTripsAtOneTwoAndThreeCharactersPerPixel)
{
    struct Case {
        int w, h, n;
        const char* header;
    } cases[] = {{9, 7, 5, "9 7 5 1 "}, {30, 20, 300, "30 20 300 2 "}, {100, 95, 9000, "100 95 9000 3 "}};
    for (const Case& c : cases) {
        Colours(c.w, c.h, c.n);
        std::string p = Path("r" + std::to_string(c.n) + ".xpm");
        ASSERT_EQ(ErrorOf([&] { XPMSave(p, img_); }), "");
        auto bytes = ReadBytes(p);
        ASSERT_GT(bytes.size(), 9u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 9), "/* XPM */");
        EXPECT_EQ(HeaderOf(p), c.header);
        ASSERT_EQ(ErrorOf([&] { XPMLoad(p, back_); }), "");
        EXPECT_EQ(back_.Bpp, 24);
        EXPECT_EQ(back_.Width, c.w);
        EXPECT_EQ(back_.Height, c.h);
        EXPECT_EQ(Pixels(back_), Pixels(img_)) << c.n;
    }
}

TEST_F(XpmTest, EightBitImageIsWrittenWithItsPaletteColours)
{
    ImgAlloc(img_, 4, 4, 8);
    for (int i = 0; i < 16; i++) img_.Data[i] = uint8_t(i % 3);
    memset(img_.Pal, 0, sizeof img_.Pal);
    img_.Pal[1][0] = 0x11, img_.Pal[1][1] = 0x22, img_.Pal[1][2] = 0x33;
    img_.Pal[2][2] = 0xFF;
    ASSERT_EQ(ErrorOf([&] { ImgSave(Path("p.xpm"), img_); }), "");
    auto b = ReadBytes(Path("p.xpm"));
    std::string text(b.begin(), b.end());
    EXPECT_NE(text.find("c #332211"), std::string::npos);
    EXPECT_NE(text.find("c #FF0000"), std::string::npos);
    ASSERT_EQ(ErrorOf([&] { ImgLoad(Path("p.xpm"), back_); }), "");
    EXPECT_EQ(back_.Data[1 * 3 + 2], 0x33);
    EXPECT_EQ(back_.Data[2 * 3 + 2], 0xFF);
    EXPECT_EQ(back_.Data[2 * 3 + 0], 0x00);
}

TEST_F(XpmTest, ReadsTheColourFormsXpmFilesUse)
{
    WriteText(Path("f.xpm"),
              "/* XPM */\n"
              "static const char * const icon[] = {\n"
              "/* width height ncolors cpp */\n"
              "\"8 2 8 2\",\n"
              "\"aa c #F00\",\n"
              "\"bb c #00ff00\",\n"
              "\"cc c #00000000FFFF\",\n"
              "\"dd s mask c None\",\n"
              "\"ee c light grey\",\n"  // a name with a blank
              "\"ff m white c gray50\",\n"  // the colour key wins over mono
              "\"gg m Yellow\",\n"          // mono only
              "\"h\\\" c Navy\",\n"         // escaped quote as pixel character
              "/* pixels */\n"
              "\"aabbccddeeffggh\\\"\",\n"
              "\"h\\\"ggffeeddccbbaa\"\n"
              "};\n");
    ASSERT_EQ(ErrorOf([&] { XPMLoad(Path("f.xpm"), img_); }), "");
    ASSERT_EQ(img_.Width, 8);
    ASSERT_EQ(img_.Height, 2);
    auto px = [&](int x, int y) {
        const uint8_t* p = img_.Data + (y * 8 + x) * 3;
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    };
    EXPECT_EQ(px(0, 0), 0xFF0000u);
    EXPECT_EQ(px(1, 0), 0x00FF00u);
    EXPECT_EQ(px(2, 0), 0x0000FFu);
    EXPECT_EQ(px(3, 0), 0x000000u);
    EXPECT_EQ(px(4, 0), 0xD3D3D3u);
    EXPECT_EQ(px(5, 0), 0x7F7F7Fu);
    EXPECT_EQ(px(6, 0), 0xFFFF00u);
    EXPECT_EQ(px(7, 0), 0x000080u);
    EXPECT_EQ(px(0, 1), 0x000080u);
    EXPECT_EQ(px(7, 1), 0xFF0000u);
}

TEST_F(XpmTest, DamagedFilesGiveCannotOpenImageFile)
{
    const std::string e8 = "Cannot open image file.";
    const std::string head = "/* XPM */\nstatic char *x[] = {\n";
    const char* bad[] = {
        "",                                                         // empty
        "static char *x[] = {\"2 1 1 1\",\"a c red\",\"aa\"};",     // no XPM comment
        "\"2 1 1 1\",\"a c red\",\"a\"};",                          // row too short
        "\"2 1 1 1\",\"a c red\",\"ab\"};",                         // undeclared pixel
        "\"2 2 1 1\",\"a c red\",\"aa\"};",                         // a row missing
        "\"2 1 2 1\",\"a c red\"",                                  // colours missing
        "\"2 1 1 1\",\"a q red\",\"aa\"};",                         // no colour key
        "\"2 1 1 1\",\"a c #12345\",\"aa\"};",                      // bad hex length
        "\"2 1 1 0\",\"a c red\",\"aa\"};",                         // zero characters per pixel
        "\"0 1 1 1\",\"a c red\",\"\"};",                           // zero width
        "\"100000 100000 1 1\",\"a c red\",\"aa\"};",               // over the pixel limit
        "\"2 1 1 1\",\"a c red\",\"aa",                             // unterminated string
        "\"99999999999999 1 1 1\",\"a c red\",\"aa\"};",            // number overflow
    };
    int i = 0;
    for (const char* body : bad) {
        std::string text = i == 0 || i == 1 ? body : head + body;
        WriteText(Path("bad.xpm"), text);
        EXPECT_EQ(ErrorOf([&] { XPMLoad(Path("bad.xpm"), img_); }), e8) << i;
        i++;
    }
    EXPECT_EQ(ErrorOf([&] { XPMLoad(Path("none.xpm"), img_); }), e8);

    Colours(20, 10, 120);
    ASSERT_EQ(ErrorOf([&] { XPMSave(Path("ok.xpm"), img_); }), "");
    ImgFree(img_);
    auto good = ReadBytes(Path("ok.xpm"));
    for (size_t cut = 0; cut + 4 < good.size(); cut += 23) {
        std::string cutPath = Path("cut" + std::to_string(cut) + ".xpm");
        WriteBytes(cutPath, std::vector<uint8_t>(good.begin(), good.begin() + (long)cut));
        EXPECT_EQ(ErrorOf([&] { XPMLoad(cutPath, back_); }), e8) << cut;
    }
    std::mt19937 rng(17);
    for (int round = 0; round < 300; round++) {
        auto f = good;
        for (int k = 0; k < 3; k++) f[rng() % f.size()] = uint8_t(rng() % 2 ? '"' : rng());
        std::string fzPath = Path("fz" + std::to_string(round) + ".xpm");
        WriteBytes(fzPath, f);
        ErrorOf([&] { XPMLoad(fzPath, back_); });
        if (back_.Data) {
            ASSERT_EQ(back_.Size, back_.Width * back_.Height * 3);
        }
    }
    ImgFree(back_);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(XpmTest, FailedSaveKeepsNothingAndBadSizesDeleteNothing)
{
    Colours(8, 8, 3);
    EXPECT_EQ(ErrorOf([&] { XPMSave(Path("no/dir/a.xpm"), img_); }), "Cannot create image file.");
    WriteText(Path("keep.xpm"), "old");
    Image tiny;
    FillPattern(tiny, 2, 8, 24);
    EXPECT_EQ(ErrorOf([&] { XPMSave(Path("keep.xpm"), tiny); }), "Invalid movie format.");
    EXPECT_EQ(ReadBytes(Path("keep.xpm")).size(), 3u);
    ImgFree(tiny);
}
