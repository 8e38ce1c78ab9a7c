// Fitting while decoding must give exactly what loading the whole picture and fitting it gives.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "core/AddImages.h"
#include "core/LogoFit.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "formats/FFDispatch.h"
#include "formats/FFSniff.h"
#include "image/ImgBasic.h"
#include "image/ImgOrient.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

namespace {

// A picture with gradients and noise, so that every average and rounding shows.
uint8_t Sample_(int x, int y, int c)
{
    uint32_t v = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^ (c + 1) * 83492791u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    return static_cast<uint8_t>((x * 3 + y * (c + 1)) / 4 + ((v >> 24) & 31));
}

std::vector<uint8_t> Row_(int w, int y, int comps)
{
    std::vector<uint8_t> row(static_cast<size_t>(w) * comps);
    for (int x = 0; x < w; ++x)
        for (int c = 0; c < comps; ++c) row[static_cast<size_t>(x) * comps + c] = Sample_(x, y, comps == 1 ? 1 : c);
    return row;
}

void WriteJpeg_(const std::string& path, int w, int h, int comps, bool progressive)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = comps;
    c.in_color_space = comps == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < h; ++y) {
        std::vector<uint8_t> row = Row_(w, y, comps);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

// colorType PNG_COLOR_TYPE_RGB, _GRAY (16-bit samples) or _PALETTE (64 entries).
void WritePng_(const std::string& path, int w, int h, int colorType, bool interlaced)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    ASSERT_FALSE(setjmp(png_jmpbuf(png)));
    png_init_io(png, f);
    png_set_compression_level(png, 1);
    const int depth = colorType == PNG_COLOR_TYPE_GRAY ? 16 : 8;
    png_set_IHDR(png, info, w, h, depth, colorType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color plte[64];
    for (int i = 0; i < 64; ++i) plte[i] = {uint8_t(i * 4), uint8_t(255 - i * 3), uint8_t(i * 37)};
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, plte, 64);
    png_write_info(png, info);
    const int comps = colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<png_bytep> ptrs;
    for (int y = 0; y < h; ++y) {
        std::vector<uint8_t> row = Row_(w, y, comps);
        if (colorType == PNG_COLOR_TYPE_PALETTE)
            for (uint8_t& v : row) v &= 63;
        if (depth == 16) {
            std::vector<uint8_t> wide(row.size() * 2);
            for (size_t i = 0; i < row.size(); ++i) wide[2 * i] = row[i], wide[2 * i + 1] = uint8_t(row[i] * 7);
            row.swap(wide);
        }
        rows.push_back(std::move(row));
    }
    for (auto& r : rows) ptrs.push_back(r.data());
    png_write_image(png, ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

// Binary PNM: P6 colour or P5 grey.
void WritePnm_(const std::string& path, int w, int h, bool grey)
{
    std::ofstream out(path, std::ios::binary);
    out << (grey ? "P5\n" : "P6\n") << w << " " << h << "\n255\n";
    for (int y = 0; y < h; ++y) {
        const std::vector<uint8_t> row = Row_(w, y, grey ? 1 : 3);
        out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
    }
}

struct Kind {
    const char* Name;
    const char* Ext;
    void (*Write)(const std::string& path, int w, int h);
    int MinSide, MaxSide;  // the format's limits
};

const Kind kKinds[] = {
    {"Jpeg", ".jpg", [](const std::string& p, int w, int h) { WriteJpeg_(p, w, h, 3, false); }, 1, 65500},
    {"JpegProgressive", ".jpg", [](const std::string& p, int w, int h) { WriteJpeg_(p, w, h, 3, true); }, 1, 65500},
    {"JpegGrey", ".jpg", [](const std::string& p, int w, int h) { WriteJpeg_(p, w, h, 1, false); }, 1, 65500},
    {"PngRgb", ".png", [](const std::string& p, int w, int h) { WritePng_(p, w, h, PNG_COLOR_TYPE_RGB, false); }, 1, 1 << 30},
    {"PngPalette", ".png", [](const std::string& p, int w, int h) { WritePng_(p, w, h, PNG_COLOR_TYPE_PALETTE, false); }, 1, 1 << 30},
    {"PngGrey16", ".png", [](const std::string& p, int w, int h) { WritePng_(p, w, h, PNG_COLOR_TYPE_GRAY, false); }, 1, 1 << 30},
    {"PngInterlaced", ".png", [](const std::string& p, int w, int h) { WritePng_(p, w, h, PNG_COLOR_TYPE_RGB, true); }, 1, 1 << 30},
    {"Ppm", ".ppm", [](const std::string& p, int w, int h) { WritePnm_(p, w, h, false); }, 4, 4096},
    {"Pgm", ".pgm", [](const std::string& p, int w, int h) { WritePnm_(p, w, h, true); }, 4, 4096},
};

class AddStreamTest : public ::testing::TestWithParam<Kind> {};

// The whole-picture path builds a border canvas; beyond this it is not worth building one.
bool ReferenceFits_(int w, int h, int mode)
{
    int bw, bh, x, y;
    LogoFitBox(w, h, mode, bw, bh, x, y);
    return static_cast<int64_t>(bw) * bh * 3 <= (64 << 20) && ImgSizeOK(w, h, 24);
}

}  // namespace

TEST_P(AddStreamTest, FittingWhileDecodingEqualsFittingTheWholePicture)
{
    const Kind& kind = GetParam();
    TempDir dir;
    // Odd sizes, both sides of 320 and 400, exactly 4:3, tall, wide, 1-pixel lines, the logo size
    // itself, and row groups too long for 16-bit sums (over 257 rows per output row).
    const std::vector<std::pair<int, int>> sizes = {
        {1, 1},     {7, 5},     {1, 500},   {600, 1},   {319, 401},  {321, 399},   {333, 251},
        {161, 199}, {640, 480}, {1600, 1200}, {400, 400}, {402, 1001}, {1000, 406}, {300, 1500},
        {2000, 150}, {320, 400}, {5, 3000}, {2, 120000}};
    for (auto [w, h] : sizes) {
        if (std::min(w, h) < kind.MinSide || std::max(w, h) > kind.MaxSide) continue;
        // Long row groups are the same for every reader: one format shows them.
        if (h > 65535 && std::string(kind.Name) != "PngGrey16") continue;
        const std::string file = dir / ("pic" + std::to_string(w) + "x" + std::to_string(h) + kind.Ext);
        kind.Write(file, w, h);
        for (int mode : {RM_BORDER, RM_CROP, RM_STRETCH}) {
            if (!ReferenceFits_(w, h, mode)) continue;
            SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + " mode " + std::to_string(mode));
            Image whole, streamed;
            ImgLoad(file, whole);
            LogoFitImage(whole, mode);
            LogoFitLoad(file, Undef, mode, streamed);
            ASSERT_EQ(streamed.Width, whole.Width);
            ASSERT_EQ(streamed.Height, whole.Height);
            ASSERT_EQ(streamed.Bpp, whole.Bpp);
            int64_t firstDiff = -1;
            for (int64_t i = 0; i < whole.Size && firstDiff < 0; ++i)
                if (streamed.Data[i] != whole.Data[i]) firstDiff = i;
            EXPECT_EQ(firstDiff, -1) << "first differing byte; row " << firstDiff / (whole.Width * whole.BytesPerPixel);
            ImgFree(whole);
            ImgFree(streamed);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AddStreamTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& i) { return std::string(i.param.Name); });

// A picture that breaks off while its rows are decoded names the file and the reason, leaves
// nothing allocated behind, and the batch goes on.
TEST(AddStreamErrors, DamageFoundWhileDecodingNamesTheFileAndTheReason)
{
    TempDir src, store;
    ScriptedUi ui;
    SetStorageDir(store.str());
    ImageListFree(Images);
    Images = ImageListCreate();
    OverwriteChoice = OC_NONE;
    const std::string jpg = src / "cut.jpg", png = src / "cut.png";
    WriteJpeg_(jpg, 900, 700, 3, false);
    WritePng_(png, 900, 700, PNG_COLOR_TYPE_RGB, false);
    for (const std::string& f : {jpg, png}) {
        std::string bytes = ReadWholeFile(f);
        WriteWholeFile(f, bytes.substr(0, bytes.size() / 2));
    }
    const int blocks = MemCount(), files = FileCount();
    AddResult r;
    ImagesAddBatch({jpg, png}, &r);
    EXPECT_EQ(r.Failed, 2);
    EXPECT_TRUE(ui.Has("error", "Error loading \"" + jpg + "\"\nCannot open image file.")) << ui.Last("error");
    EXPECT_TRUE(ui.Has("error", "Error loading \"" + png + "\"\nCannot read from file.")) << ui.Last("error");
    EXPECT_EQ(MemCount(), blocks);
    EXPECT_EQ(FileCount(), files);
    ImageListFree(Images);
}

// Pictures written by other programs (EXIF orientations, bitmaps of every kind, WebP, HEIC, AVIF,
// names that say another format) add as those programs show them: within 2 levels per channel
// of the same pixels added from a PNG, in every fit mode.
TEST(AddForeign, PicturesAddAsTheProgramsThatMadeThemShowThem)
{
    TempDir dir;
    const std::string maker = KVS_SOURCE_DIR "/tests/formats/make-foreign-pictures";
    const std::string list = dir / "made.txt";
    if (std::system(("/usr/bin/python3 -c 'import PIL' 2>/dev/null && " + maker + " " + dir.str() + " > " + list).c_str()) != 0)
        GTEST_SKIP() << "python3-pil is not installed";
    std::ifstream in(list);
    int checked = 0;
    for (std::string name; std::getline(in, name);) {
        if (name.empty()) continue;
        for (int mode : {RM_BORDER, RM_CROP, RM_STRETCH}) {
            SCOPED_TRACE(name + " mode " + std::to_string(mode));
            Image got, want;
            // As adding does it: a failure is the monitor's error, not an escaping exception.
            MonBlockTransparent([&] {
                LogoFitLoad(dir / name, Undef, mode, got);
                LogoFitLoad(dir / (name + ".ref.png"), Undef, mode, want);
            });
            if (!MonOK()) {
                ADD_FAILURE() << MonErrorText();
                MonClearError();
                ImgFree(got);
                break;
            }
            ASSERT_EQ(got.Size, want.Size);
            int worst = 0;
            int64_t at = 0;
            for (int64_t i = 0; i < want.Size; ++i)
                if (std::abs(got.Data[i] - want.Data[i]) > worst) worst = std::abs(got.Data[i] - want.Data[i]), at = i;
            EXPECT_LE(worst, 2) << "at pixel " << at / 3 % got.Width << ", " << at / 3 / got.Width;
            ImgFree(got);
            ImgFree(want);
        }
        ++checked;
    }
    EXPECT_GE(checked, 32) << "the eight orientations of four formats at least";

    // What kvs info reports of a turned HEIC: that orientation applied to the unturned picture
    // gives what libheif shows.
    std::ifstream turned(dir / "turned.txt");
    for (std::string name; std::getline(turned, name);) {
        if (name.empty()) continue;
        SCOPED_TRACE(name);
        Image plain, shown;
        ImgLoad(dir / "pic.heic", plain);
        ImgLoad(dir / name, shown);
        const int32_t o = FFOrientationShown(dir / name);
        EXPECT_NE(o, 1);
        ImgOrient(plain, plain, o);
        ASSERT_EQ(plain.Width, shown.Width);
        ASSERT_EQ(plain.Height, shown.Height);
        EXPECT_EQ(0, std::memcmp(plain.Data, shown.Data, static_cast<size_t>(shown.Size)));
        ImgFree(plain);
        ImgFree(shown);
    }
}
