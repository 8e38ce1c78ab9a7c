// Files made or read by other programs, and names that are no picture file at all.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>

#include "ReaderTestUtil.h"
#include "formats/FFDispatch.h"

using namespace rtest;

namespace {

class InteropTest : public ImageTempDirTest {};

bool HaveTool(const char* name)
{
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

bool RunQuiet(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }

// A binary PPM as width, height and red-green-blue samples; empty when it is not one.
struct Ppm {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
};
Ppm ReadPpm(const std::string& path)
{
    std::vector<uint8_t> f = ReadBytes(path);
    std::string text(f.begin(), f.end());
    std::istringstream in(text);
    std::string magic;
    int maxval = 0;
    Ppm p;
    in >> magic >> p.w >> p.h >> maxval;
    if (magic != "P6" || maxval != 255) return Ppm();
    size_t at = static_cast<size_t>(in.tellg()) + 1;
    p.rgb.assign(f.begin() + std::min(at, f.size()), f.end());
    return p;
}

// The image's pixels as red, green, blue.
std::vector<uint8_t> RgbOf(const Image& img)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < img.Width * img.Height; ++i) {
        const uint8_t* px = img.BytesPerPixel == 1 ? img.Pal[img.Data[i]] : img.Data + i * img.BytesPerPixel;
        out.insert(out.end(), {px[2], px[1], px[0]});
    }
    return out;
}

void SwapRedBlue(std::vector<uint8_t>& rgb)
{
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
}

}  // namespace

// Devices, FIFOs and folders are refused with the file error before anything reads them: a
// link to /dev/zero would otherwise be read for ever, and a FIFO would wait for a writer.
TEST_F(InteropTest, EveryReaderRefusesWhatIsNotARegularFile)
{
    const std::string zero = Path("zero.ppm"), fifo = Path("pipe.bmp"), folder = Path("folder.png");
    ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& name : {zero, fifo, folder}) {
        EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img_); }), "Cannot open file: " + name);
        for (int fmt : {FMT_TGA, FMT_PCX, FMT_BMP, FMT_GIF, FMT_JPEG, FMT_PNG, FMT_TIFF, FMT_SGI, FMT_RAS, FMT_PNM,
                        FMT_BAY, FMT_XPM})
            EXPECT_EQ(ErrorOf([&] { ImgLoad(name, img_, fmt); }), "Cannot open file: " + name) << fmt;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

// Deflate under both its codes: 8 as tiffcp writes it, 32946 for the same zlib data.
TEST_F(InteropTest, DeflateTiffsOfBothCodesRead)
{
    if (!HaveTool("tiffcp") || !HaveTool("tiffset")) GTEST_SKIP() << "tiffcp and tiffset (libtiff-tools) not installed";
    FillPattern(img_, 37, 21, 24);
    const std::string plain = Path("plain.tif"), zip = Path("zip.tif");
    ImgSave(plain, img_);
    ASSERT_TRUE(RunQuiet("tiffcp -c zip '" + plain + "' '" + zip + "'"));
    ASSERT_EQ(ErrorOf([&] { ImgLoad(zip, back_); }), "");
    EXPECT_EQ(Pixels(back_), Pixels(img_));
    ASSERT_TRUE(RunQuiet("tiffset -s 259 32946 '" + zip + "'"));
    ImgFree(back_);
    ASSERT_EQ(ErrorOf([&] { ImgLoad(zip, back_); }), "");
    EXPECT_EQ(Pixels(back_), Pixels(img_));
}

// Our byte-encoded Sun raster files read exactly in netpbm, and ImageMagick reads them with
// red and blue exchanged (its way with the byte-encoded type).
TEST_F(InteropTest, SunRasterFilesReadInOtherPrograms)
{
    const bool netpbm = HaveTool("rasttopnm"), magick = HaveTool("convert");
    if (!netpbm && !magick) GTEST_SKIP() << "neither rasttopnm (netpbm) nor convert (imagemagick) installed";
    for (int bpp : {8, 24, 32}) {
        // Wide enough for runs of 256 and more, with an even row length.
        FillPattern(img_, 300, 7, bpp);
        if (bpp == 8)
            for (int i = 0; i < 256; ++i) img_.Pal[i][0] = uint8_t(i), img_.Pal[i][1] = uint8_t(255 - i), img_.Pal[i][2] = 9;
        for (int i = 0; i < 300 * img_.BytesPerPixel; ++i) img_.Data[i] = 7;
        const std::string ras = Path("t.ras"), ppm = Path("t.ppm");
        ImgSave(ras, img_);
        std::vector<uint8_t> want = RgbOf(img_);
        if (netpbm) {
            ASSERT_TRUE(RunQuiet("rasttopnm '" + ras + "' > '" + ppm + "'")) << bpp;
            Ppm got = ReadPpm(ppm);
            EXPECT_EQ(got.w, 300);
            EXPECT_EQ(got.h, 7);
            EXPECT_EQ(got.rgb, want) << "rasttopnm, depth " << bpp;
        }
        if (magick) {
            ASSERT_TRUE(RunQuiet("convert '" + ras + "' -depth 8 '" + ppm + "'")) << bpp;
            Ppm got = ReadPpm(ppm);
            EXPECT_EQ(got.w, 300);
            EXPECT_EQ(got.h, 7);
            if (bpp != 8) SwapRedBlue(want);
            EXPECT_EQ(got.rgb, want) << "ImageMagick, depth " << bpp;
        }
    }
}
