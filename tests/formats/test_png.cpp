// PNG reader and writer: round trips, files read back by libpng itself, files made by libpng
// read by us, and damaged input.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <random>

#include "ReaderTestUtil.h"
#include "formats/FFDispatch.h"
#include "formats/FF_PNG.h"

using namespace rtest;

namespace {

// A PNG written by libpng with whatever layout a test needs.
struct RawPng {
    int w, h, depth, colorType, interlace;
    const uint8_t* rows;  // packed as the PNG stores them
    size_t stride;
    const png_color* pal;
    int npal;
};

void RawRows_(png_structp png, const RawPng* r)
{
    int passes = png_set_interlace_handling(png);
    for (int p = 0; p < passes; p++)
        for (int y = 0; y < r->h; y++) png_write_row(png, r->rows + (size_t)y * r->stride);
}

// Plain-C frame: the setjmp here must not skip destructors.
bool WriteRawPng(const char* path, const RawPng* r)
{
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, r->w, r->h, r->depth, r->colorType, r->interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (r->pal) png_set_PLTE(png, info, r->pal, r->npal);
    png_write_info(png, info);
    RawRows_(png, r);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return true;
}

// Decodes with libpng's simplified interface into blue-green-red bytes.
bool DecodeWithLibpng(const std::string& path, std::vector<uint8_t>& bgr, int& w, int& h, bool& colormapped,
                      int& entries)
{
    png_image im;
    memset(&im, 0, sizeof im);
    im.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&im, path.c_str())) return false;
    colormapped = (im.format & PNG_FORMAT_FLAG_COLORMAP) != 0;
    entries = (int)im.colormap_entries;
    w = (int)im.width;
    h = (int)im.height;
    im.format = PNG_FORMAT_BGR;
    bgr.assign(PNG_IMAGE_SIZE(im), 0);
    return png_image_finish_read(&im, nullptr, bgr.data(), 0, nullptr) != 0;
}

struct PngChunk {
    std::string type;
    size_t at;  // offset of the length field
    uint32_t length;
};

std::vector<PngChunk> Chunks(const std::vector<uint8_t>& f)
{
    std::vector<PngChunk> out;
    size_t at = 8;
    while (at + 12 <= f.size()) {
        uint32_t len = Be32(f, at);
        out.push_back({std::string(f.begin() + (long)at + 4, f.begin() + (long)at + 8), at, len});
        at += 12 + (size_t)len;
    }
    return out;
}

void FixCrcs(std::vector<uint8_t>& f)
{
    for (const PngChunk& c : Chunks(f)) {
        if (c.at + 12 + c.length > f.size()) break;
        uint32_t crc = (uint32_t)crc32(0, f.data() + c.at + 4, 4 + c.length);
        for (int k = 0; k < 4; k++) f[c.at + 8 + c.length + k] = uint8_t(crc >> (24 - 8 * k));
    }
}

std::vector<uint8_t> Chunk(const char* type, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> c;
    PutBe32(c, (uint32_t)data.size());
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    uint32_t crc = (uint32_t)crc32(0, c.data() + 4, 4 + (uInt)data.size());
    PutBe32(c, crc);
    return c;
}

std::vector<uint8_t> PngWithHeader(uint32_t w, uint32_t h, uint8_t depth, uint8_t type)
{
    std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr;
    PutBe32(ihdr, w);
    PutBe32(ihdr, h);
    ihdr.insert(ihdr.end(), {depth, type, 0, 0, 0});
    auto a = Chunk("IHDR", ihdr);
    f.insert(f.end(), a.begin(), a.end());
    // A little deflate data that ends long before the declared picture does.
    std::vector<uint8_t> z(64);
    uLongf zl = (uLongf)z.size();
    std::vector<uint8_t> raw(16, 0);
    compress(z.data(), &zl, raw.data(), (uLong)raw.size());
    z.resize(zl);
    auto b = Chunk("IDAT", z);
    f.insert(f.end(), b.begin(), b.end());
    auto c = Chunk("IEND", {});
    f.insert(f.end(), c.begin(), c.end());
    return f;
}

class PngTest : public ImageTempDirTest {
protected:
    void TearDown() override
    {
        PNGCompressionLevel(6);
        ImageTempDirTest::TearDown();
    }
    void Make8(int w, int h, uint32_t seed)
    {
        FillPattern(img_, w, h, 8, seed);
        std::mt19937 rng(seed);
        for (auto& e : img_.Pal)
            for (auto& c : e) c = uint8_t(rng());
    }
};

}  // namespace

TEST_F(PngTest, EightBitRoundTripIsPaletteTypeWith256EntriesAndReadsBackInLibpng)
{
    Make8(37, 23, 3);
    std::string p = Path("a.png");
    ASSERT_EQ(ErrorOf([&] { PNGSave(p, img_); }), "");

    auto bytes = ReadBytes(p);
    ASSERT_GT(bytes.size(), 33u);
    EXPECT_EQ(bytes[24], 8);  // bit depth
    EXPECT_EQ(bytes[25], 3);  // colour type palette
    bool sawPlte = false;
    for (const PngChunk& c : Chunks(bytes))
        if (c.type == "PLTE") {
            sawPlte = true;
            EXPECT_EQ(c.length, 768u);
        }
    EXPECT_TRUE(sawPlte);

    std::vector<uint8_t> bgr;
    int w, h, entries;
    bool cmap;
    ASSERT_TRUE(DecodeWithLibpng(p, bgr, w, h, cmap, entries));
    EXPECT_TRUE(cmap);
    EXPECT_EQ(entries, 256);
    ASSERT_EQ(w, 37);
    ASSERT_EQ(h, 23);
    for (int i = 0; i < w * h; i++)
        for (int c = 0; c < 3; c++) ASSERT_EQ(bgr[i * 3 + c], img_.Pal[img_.Data[i]][c]) << "pixel " << i;

    ASSERT_EQ(ErrorOf([&] { PNGLoad(p, back_); }), "");
    EXPECT_EQ(back_.Bpp, 8);
    EXPECT_EQ(back_.Width, 37);
    EXPECT_EQ(back_.Height, 23);
    EXPECT_EQ(Pixels(back_), Pixels(img_));
    EXPECT_EQ(0, memcmp(back_.Pal, img_.Pal, sizeof img_.Pal));
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(PngTest, TwentyFourBitRoundTripIsRgbTypeInRightChannelOrder)
{
    FillPattern(img_, 61, 17, 24, 9);
    img_.Data[0] = 10, img_.Data[1] = 20, img_.Data[2] = 30;  // blue, green, red
    std::string p = Path("c.png");
    ASSERT_EQ(ErrorOf([&] { PNGSave(p, img_); }), "");
    auto bytes = ReadBytes(p);
    EXPECT_EQ(bytes[25], 2);

    // libpng's own RGB reading sees red first.
    png_image im;
    memset(&im, 0, sizeof im);
    im.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&im, p.c_str()));
    im.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(im));
    ASSERT_TRUE(png_image_finish_read(&im, nullptr, rgb.data(), 0, nullptr));
    EXPECT_EQ(rgb[0], 30);
    EXPECT_EQ(rgb[1], 20);
    EXPECT_EQ(rgb[2], 10);

    ASSERT_EQ(ErrorOf([&] { PNGLoad(p, back_); }), "");
    EXPECT_EQ(back_.Bpp, 24);
    EXPECT_EQ(Pixels(back_), Pixels(img_));
}

TEST_F(PngTest, FifteenAndThirtyTwoBitImagesAreWrittenAsRgbLeavingTheCallersImageAlone)
{
    for (int bpp : {15, 32}) {
        FillPattern(img_, 8, 6, bpp, 4);
        auto before = Pixels(img_);
        std::string p = Path("d" + std::to_string(bpp) + ".png");
        ASSERT_EQ(ErrorOf([&] { PNGSave(p, img_); }), "");
        EXPECT_EQ(ReadBytes(p)[25], 2) << bpp;
        EXPECT_EQ(img_.Bpp, bpp);
        EXPECT_EQ(Pixels(img_), before);
        ASSERT_EQ(ErrorOf([&] { PNGLoad(p, back_); }), "");
        EXPECT_EQ(back_.Bpp, 24);
        Image conv;
        ImgConvBpp(img_, conv, 24);
        EXPECT_EQ(Pixels(back_), Pixels(conv)) << bpp;
        ImgFree(conv);
    }
    EXPECT_EQ(LeakedBlocks(), 2);  // img_ and back_
}

TEST_F(PngTest, CompressionLevelIsClampedAndUsed)
{
    EXPECT_EQ(PNGCompressionLevel(Undef), 6);
    EXPECT_EQ(PNGCompressionLevel(12), 9);
    EXPECT_EQ(PNGCompressionLevel(-3), 0);
    EXPECT_EQ(PNGCompressionLevel(Undef), 0);
    // A smooth picture: stored (level 0) must be far larger than level 9.
    ImgAlloc(img_, 200, 100, 24);
    for (int i = 0; i < img_.Size; i++) img_.Data[i] = uint8_t(i / 3 % 200);
    ASSERT_EQ(ErrorOf([&] { PNGSave(Path("l0.png"), img_); }), "");
    PNGCompressionLevel(9);
    ASSERT_EQ(ErrorOf([&] { PNGSave(Path("l9.png"), img_); }), "");
    auto s0 = ReadBytes(Path("l0.png")).size(), s9 = ReadBytes(Path("l9.png")).size();
    EXPECT_GT(s0, 200u * 100 * 3);
    EXPECT_LT(s9 * 10, s0);
}

TEST_F(PngTest, SavingReplacesAnExistingFileAndRefusesBadSizesWithoutDeletingIt)
{
    Make8(10, 10, 1);
    std::string p = Path("r.png");
    WriteBytes(p, std::vector<uint8_t>(5000, 0xAB));
    ASSERT_EQ(ErrorOf([&] { PNGSave(p, img_); }), "");
    ASSERT_EQ(ErrorOf([&] { PNGLoad(p, back_); }), "");
    EXPECT_EQ(Pixels(back_), Pixels(img_));

    Image tiny;
    FillPattern(tiny, 3, 10, 24);
    auto before = ReadBytes(p);
    EXPECT_EQ(ErrorOf([&] { PNGSave(p, tiny); }), "Invalid movie format.");
    EXPECT_EQ(ReadBytes(p), before);
    ImgFree(tiny);

    EXPECT_EQ(ErrorOf([&] { PNGSave(Path("no/such/dir/x.png"), img_); }).rfind("Cannot create file: ", 0), 0u);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(PngTest, ReadsWhatLibpngWritesInOtherLayouts)
{
    // 16-bit RGBA: samples reduced to their high bytes, alpha dropped.
    {
        const int w = 5, h = 3;
        std::vector<uint8_t> rows(w * h * 8);
        for (size_t i = 0; i < rows.size(); i++) rows[i] = uint8_t(i * 7 + 1);
        RawPng r{w, h, 16, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, rows.data(), (size_t)w * 8, nullptr, 0};
        ASSERT_TRUE(WriteRawPng(Path("rgba16.png").c_str(), &r));
        ASSERT_EQ(ErrorOf([&] { PNGLoad(Path("rgba16.png"), img_); }), "");
        ASSERT_EQ(img_.Bpp, 24);
        for (int i = 0; i < w * h; i++) {
            const uint8_t* s = &rows[i * 8];
            EXPECT_EQ(img_.Data[i * 3 + 0], s[4]);  // blue high byte
            EXPECT_EQ(img_.Data[i * 3 + 1], s[2]);
            EXPECT_EQ(img_.Data[i * 3 + 2], s[0]);
        }
    }
    // 4-bit palette with 16 entries: indices unpacked, entries 0..15 set, the rest black.
    {
        const int w = 7, h = 4;
        png_color pal[16];
        for (int i = 0; i < 16; i++) pal[i] = {uint8_t(i * 16), uint8_t(255 - i), uint8_t(i * 3)};
        std::vector<uint8_t> idx(w * h), rows(h * 4, 0);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                idx[y * w + x] = uint8_t((x * 3 + y * 5) % 16);
                rows[y * 4 + x / 2] |= uint8_t(idx[y * w + x] << (x % 2 ? 0 : 4));
            }
        RawPng r{w, h, 4, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, rows.data(), 4, pal, 16};
        ASSERT_TRUE(WriteRawPng(Path("p4.png").c_str(), &r));
        ASSERT_EQ(ErrorOf([&] { PNGLoad(Path("p4.png"), img_); }), "");
        ASSERT_EQ(img_.Bpp, 8);
        EXPECT_EQ(Pixels(img_), idx);
        for (int i = 0; i < 16; i++) {
            EXPECT_EQ(img_.Pal[i][0], pal[i].blue);
            EXPECT_EQ(img_.Pal[i][1], pal[i].green);
            EXPECT_EQ(img_.Pal[i][2], pal[i].red);
        }
        EXPECT_EQ(img_.Pal[16][0] | img_.Pal[255][2], 0);
    }
    // Interlaced RGB: de-interlaced exactly.
    {
        const int w = 13, h = 11;
        std::vector<uint8_t> rows(w * h * 3);
        for (size_t i = 0; i < rows.size(); i++) rows[i] = uint8_t(i * 31 + i / 5);
        RawPng r{w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, rows.data(), (size_t)w * 3, nullptr, 0};
        ASSERT_TRUE(WriteRawPng(Path("adam7.png").c_str(), &r));
        ASSERT_EQ(ErrorOf([&] { PNGLoad(Path("adam7.png"), img_); }), "");
        ASSERT_EQ(img_.Size, w * h * 3);
        for (int i = 0; i < w * h; i++) {
            ASSERT_EQ(img_.Data[i * 3], rows[i * 3 + 2]);
            ASSERT_EQ(img_.Data[i * 3 + 2], rows[i * 3]);
        }
    }
    // Grey: 8-bit with the grey ramp; 1-bit grey scaled so white stays white.
    {
        std::vector<uint8_t> rows = {0x00, 0x7F, 0xFF, 0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        RawPng r{4, 4, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, rows.data(), 4, nullptr, 0};
        ASSERT_TRUE(WriteRawPng(Path("g8.png").c_str(), &r));
        ASSERT_EQ(ErrorOf([&] { PNGLoad(Path("g8.png"), img_); }), "");
        EXPECT_EQ(img_.Bpp, 8);
        EXPECT_EQ(Pixels(img_), rows);
        for (int i = 0; i < 256; i += 51) EXPECT_EQ(img_.Pal[i][1], i);

        std::vector<uint8_t> bits = {0xA0, 0x50, 0xF0, 0x00};  // 4x4, one byte per row
        RawPng r1{4, 4, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, bits.data(), 1, nullptr, 0};
        ASSERT_TRUE(WriteRawPng(Path("g1.png").c_str(), &r1));
        ASSERT_EQ(ErrorOf([&] { PNGLoad(Path("g1.png"), img_); }), "");
        std::vector<uint8_t> want = {255, 0, 255, 0, 0, 255, 0, 255, 255, 255, 255, 255, 0, 0, 0, 0};
        EXPECT_EQ(Pixels(img_), want);
        EXPECT_EQ(img_.Pal[255][0], 255);
    }
    // Grey with alpha: one byte per pixel, grey ramp.
    {
        std::vector<uint8_t> rows = {10, 255, 20, 0, 30, 128, 40, 1};
        RawPng r{2, 2, 8, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_INTERLACE_NONE, rows.data(), 4, nullptr, 0};
        ASSERT_TRUE(WriteRawPng(Path("ga.png").c_str(), &r));
        ASSERT_EQ(ErrorOf([&] { PNGLoad(Path("ga.png"), img_); }), "");
        EXPECT_EQ(Pixels(img_), (std::vector<uint8_t>{10, 20, 30, 40}));
        EXPECT_EQ(img_.Pal[200][2], 200);
    }
}

TEST_F(PngTest, DamagedFilesGiveTheirErrorsAndReleaseEverything)
{
    EXPECT_EQ(ErrorOf([&] { PNGLoad(Path("missing.png"), img_); }), "Cannot open file: " + Path("missing.png"));
    WriteBytes(Path("empty.png"), {});
    EXPECT_EQ(ErrorOf([&] { PNGLoad(Path("empty.png"), img_); }), "Cannot read from file.");
    WriteBytes(Path("gif.png"), {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0});
    EXPECT_EQ(ErrorOf([&] { PNGLoad(Path("gif.png"), img_); }), "Invalid image format.");

    // Headers declaring more than the pixel limit are refused before allocating.
    WriteBytes(Path("huge.png"), PngWithHeader(20000, 20000, 8, 2));
    EXPECT_EQ(ErrorOf([&] { PNGLoad(Path("huge.png"), img_); }), "Image format not supported.");
    // A plausible size with too little data behind it.
    WriteBytes(Path("short.png"), PngWithHeader(300, 200, 8, 2));
    EXPECT_NE(ErrorOf([&] { PNGLoad(Path("short.png"), img_); }), "");

    // libpng's own text arrives as a codec-class error.
    Make8(16, 16, 5);
    ASSERT_EQ(ErrorOf([&] { PNGSave(Path("ok.png"), img_); }), "");
    auto good = ReadBytes(Path("ok.png"));
    auto bad = good;
    bad[20] ^= 0x40;  // inside IHDR, CRC left stale
    WriteBytes(Path("crc.png"), bad);
    try {
        PNGLoad(Path("crc.png"), back_);
        ADD_FAILURE() << "no error";
    } catch (const EMon& e) {
        EXPECT_EQ(MonErrorClass(), EC_CODEC);
        EXPECT_EQ(std::string(e.what()), "IHDR: CRC error");
    }
    MonClearError();

    // Truncated at every length: the short read is reported.
    for (size_t cut = 4; cut < good.size(); cut += 3) {
        std::string cutPath = Path("cut" + std::to_string(cut) + ".png");
        WriteBytes(cutPath, std::vector<uint8_t>(good.begin(), good.begin() + (long)cut));
        std::string err = ErrorOf([&] { PNGLoad(cutPath, back_); });
        EXPECT_EQ(err, "Cannot read from file.") << cut;
    }
    ImgFree(img_);
    ImgFree(back_);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(PngTest, CorruptedBytesWithValidChecksumsNeverCrash)
{
    FillPattern(img_, 40, 30, 24, 11);
    ASSERT_EQ(ErrorOf([&] { PNGSave(Path("src.png"), img_); }), "");
    ImgFree(img_);
    auto good = ReadBytes(Path("src.png"));
    std::mt19937 rng(1234);
    int failures = 0;
    for (int round = 0; round < 300; round++) {
        auto f = good;
        int flips = 1 + int(rng() % 4);
        for (int k = 0; k < flips; k++) f[8 + rng() % (f.size() - 8)] = uint8_t(rng());
        FixCrcs(f);
        std::string fzPath = Path("fz" + std::to_string(round) + ".png");
        WriteBytes(fzPath, f);
        if (!ErrorOf([&] { PNGLoad(fzPath, back_); }).empty()) failures++;
        if (back_.Data) {
            ASSERT_EQ(back_.Size, back_.Width * back_.Height * back_.BytesPerPixel);
        }
    }
    EXPECT_GT(failures, 0);
    ImgFree(back_);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(PngTest, DispatcherReachesPng)
{
    Make8(12, 9, 8);
    ASSERT_EQ(ErrorOf([&] { ImgSave(Path("via.PNG"), img_); }), "");
    ASSERT_EQ(ErrorOf([&] { ImgLoad(Path("via.PNG"), back_); }), "");
    EXPECT_EQ(Pixels(back_), Pixels(img_));
}
