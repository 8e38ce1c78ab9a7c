// TIFF reader and writer: round trips checked with libtiff itself, libtiff-made files of the
// layouts we accept or refuse, and damaged input.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <random>

#include "ReaderTestUtil.h"
#include "formats/FFDispatch.h"
#include "formats/FF_TIF.h"

using namespace rtest;

namespace {

struct TiffSpec {
    uint32_t w, h;
    uint16_t spp = 1, bps = 8, photometric = PHOTOMETRIC_MINISBLACK, compression = COMPRESSION_NONE;
    const uint16_t* map = nullptr;  // three arrays of 256 when set
    uint32_t tile = 0;              // tile side, 0 for strips
    uint32_t rowsToWrite = UINT32_MAX;
};

void SilenceTiff()
{
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
}

// rows hold the samples as the file stores them, red first.
bool WriteTiff(const std::string& path, const TiffSpec& s, const std::vector<uint8_t>& rows)
{
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.h);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bps);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (s.map) TIFFSetField(t, TIFFTAG_COLORMAP, s.map, s.map + 256, s.map + 512);
    bool ok = true;
    if (s.tile) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
        std::vector<uint8_t> tile(TIFFTileSize(t), 0x55);
        ok = TIFFWriteTile(t, tile.data(), 0, 0, 0, 0) >= 0;
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.rowsToWrite < s.h ? s.h : 4);
        tmsize_t line = TIFFScanlineSize(t);
        for (uint32_t y = 0; y < s.h && y < s.rowsToWrite && ok; y++)
            ok = TIFFWriteScanline(t, const_cast<uint8_t*>(rows.data() + y * line), y, 0) >= 0;
    }
    TIFFClose(t);
    return ok;
}

class TifTest : public ImageTempDirTest {
protected:
    void SetUp() override
    {
        ImageTempDirTest::SetUp();
        SilenceTiff();
    }
};

}  // namespace

TEST_F(TifTest, EightBitRoundTripWritesThePaletteLayoutLibtiffReads)
{
    FillPattern(img_, 50, 9, 8, 2);
    for (int i = 0; i < 256; i++) img_.Pal[i][0] = uint8_t(i), img_.Pal[i][1] = uint8_t(255 - i), img_.Pal[i][2] = uint8_t(i * 7);
    std::string p = Path("p.tif");
    ASSERT_EQ(ErrorOf([&] { TIFSave(p, img_); }), "");

    TIFF* t = TIFFOpen(p.c_str(), "rc");
    ASSERT_NE(t, nullptr);
    uint16_t photo = 0, comp = 0, spp = 0, bps = 0, orient = 0, planar = 0;
    uint32_t rps = 0;
    uint16_t *r, *g, *b;
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &comp);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetField(t, TIFFTAG_ORIENTATION, &orient);
    TIFFGetField(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rps);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b));
    EXPECT_EQ(photo, PHOTOMETRIC_PALETTE);
    EXPECT_EQ(comp, COMPRESSION_NONE);
    EXPECT_EQ(spp, 1);
    EXPECT_EQ(bps, 8);
    EXPECT_EQ(orient, ORIENTATION_TOPLEFT);
    EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(rps, 8192u / 50);
    EXPECT_EQ(r[3], 21 * 256);
    EXPECT_EQ(g[3], 252 * 256);
    EXPECT_EQ(b[255], 255 * 256);
    std::vector<uint8_t> line(50);
    ASSERT_GE(TIFFReadScanline(t, line.data(), 8, 0), 0);
    EXPECT_EQ(0, memcmp(line.data(), img_.Data + 8 * 50, 50));
    TIFFClose(t);

    ASSERT_EQ(ErrorOf([&] { TIFLoad(p, back_); }), "");
    EXPECT_EQ(back_.Bpp, 8);
    EXPECT_EQ(Pixels(back_), Pixels(img_));
    EXPECT_EQ(0, memcmp(back_.Pal, img_.Pal, sizeof img_.Pal));
}

TEST_F(TifTest, TwentyFourBitRoundTripStoresRedFirst)
{
    FillPattern(img_, 3000, 5, 24, 6);  // rows above 8192 bytes: 8 rows per strip
    img_.Data[0] = 1, img_.Data[1] = 2, img_.Data[2] = 3;
    std::string p = Path("c.tiff");
    ASSERT_EQ(ErrorOf([&] { TIFSave(p, img_); }), "");
    TIFF* t = TIFFOpen(p.c_str(), "rc");  // no strip chopping: see the stored value
    ASSERT_NE(t, nullptr);
    uint16_t photo = 0;
    uint32_t rps = 0;
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
    TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rps);
    EXPECT_EQ(photo, PHOTOMETRIC_RGB);
    EXPECT_EQ(rps, 8u);
    std::vector<uint8_t> line(9000);
    ASSERT_GE(TIFFReadScanline(t, line.data(), 0, 0), 0);
    EXPECT_EQ(line[0], 3);
    EXPECT_EQ(line[2], 1);
    TIFFClose(t);
    ASSERT_EQ(ErrorOf([&] { ImgLoad(p, back_); }), "");  // ".tiff" reaches the TIFF reader
    EXPECT_EQ(back_.Bpp, 24);
    EXPECT_EQ(Pixels(back_), Pixels(img_));
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(TifTest, ReadsEveryAcceptedCompressionWithCorrectColours)
{
    const uint32_t w = 24, h = 20;
    std::vector<uint8_t> rgb(w * h * 3);
    for (uint32_t i = 0; i < w * h; i++) {
        rgb[i * 3] = uint8_t(i % w * 10), rgb[i * 3 + 1] = uint8_t(i / w * 12), rgb[i * 3 + 2] = 100;
    }
    for (uint16_t comp :
         {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_DEFLATE}) {
        TiffSpec s{w, h};
        s.spp = 3, s.photometric = PHOTOMETRIC_RGB, s.compression = comp;
        std::string p = Path("rgb" + std::to_string(comp) + ".tif");
        ASSERT_TRUE(WriteTiff(p, s, rgb));
        ASSERT_EQ(ErrorOf([&] { TIFLoad(p, img_); }), "") << comp;
        ASSERT_EQ(img_.Bpp, 24);
        for (uint32_t i = 0; i < w * h; i++) {
            ASSERT_EQ(img_.Data[i * 3], rgb[i * 3 + 2]) << comp;
            ASSERT_EQ(img_.Data[i * 3 + 2], rgb[i * 3]) << comp;
        }
    }
    // JPEG-compressed YCbCr comes out as RGB, within JPEG's loss.
    // libtiff takes RGB rows for YCbCr JPEG only in RGB colour mode.
    {
        TIFF* t = TIFFOpen(Path("jpeg.tif").c_str(), "w");
        ASSERT_NE(t, nullptr);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        TIFFSetField(t, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        for (uint32_t y = 0; y < h; y++) ASSERT_GE(TIFFWriteScanline(t, rgb.data() + y * w * 3, y, 0), 0);
        TIFFClose(t);
    }
    ASSERT_EQ(ErrorOf([&] { TIFLoad(Path("jpeg.tif"), img_); }), "");
    ASSERT_EQ(img_.Bpp, 24);
    double err = 0;
    for (uint32_t i = 0; i < w * h; i++)
        err += std::abs(img_.Data[i * 3] - rgb[i * 3 + 2]) + std::abs(img_.Data[i * 3 + 2] - rgb[i * 3]);
    EXPECT_LT(err / (w * h * 2), 8.0);
}

TEST_F(TifTest, PaletteAndGreyInterpretations)
{
    std::vector<uint8_t> px(16);
    for (int i = 0; i < 16; i++) px[i] = uint8_t(i * 16);
    std::vector<uint16_t> map(768);
    // Values below 256 everywhere: taken as 8-bit values.
    for (int i = 0; i < 256; i++) map[i] = uint16_t(i), map[256 + i] = uint16_t(255 - i), map[512 + i] = 7;
    TiffSpec s{4, 4};
    s.photometric = PHOTOMETRIC_PALETTE, s.map = map.data();
    ASSERT_TRUE(WriteTiff(Path("p8.tif"), s, px));
    ASSERT_EQ(ErrorOf([&] { TIFLoad(Path("p8.tif"), img_); }), "");
    EXPECT_EQ(img_.Pal[10][2], 10);
    EXPECT_EQ(img_.Pal[10][1], 245);
    EXPECT_EQ(img_.Pal[10][0], 7);
    EXPECT_EQ(Pixels(img_), px);
    // Any value of 256 or more: every entry's high byte.
    map[512 + 3] = 0x1234;
    map[5] = 0xAB00;
    ASSERT_TRUE(WriteTiff(Path("p16.tif"), s, px));
    ASSERT_EQ(ErrorOf([&] { TIFLoad(Path("p16.tif"), img_); }), "");
    EXPECT_EQ(img_.Pal[3][0], 0x12);
    EXPECT_EQ(img_.Pal[5][2], 0xAB);
    EXPECT_EQ(img_.Pal[200][2], 0);  // 200 >> 8

    s.map = nullptr;
    s.photometric = PHOTOMETRIC_MINISWHITE;
    ASSERT_TRUE(WriteTiff(Path("w.tif"), s, px));
    ASSERT_EQ(ErrorOf([&] { TIFLoad(Path("w.tif"), img_); }), "");
    EXPECT_EQ(img_.Pal[0][0], 255);
    EXPECT_EQ(img_.Pal[255][1], 0);
    EXPECT_EQ(img_.Pal[100][2], 155);
    s.photometric = PHOTOMETRIC_MINISBLACK;
    ASSERT_TRUE(WriteTiff(Path("b.tif"), s, px));
    ASSERT_EQ(ErrorOf([&] { TIFLoad(Path("b.tif"), img_); }), "");
    EXPECT_EQ(img_.Pal[100][2], 100);
    EXPECT_EQ(Pixels(img_), px);
}

TEST_F(TifTest, UnsupportedLayoutsAreRefused)
{
    std::vector<uint8_t> data(64 * 64 * 6, 0x33);
    TiffSpec s16{4, 4};
    s16.bps = 16;
    ASSERT_TRUE(WriteTiff(Path("s16.tif"), s16, data));
    EXPECT_EQ(ErrorOf([&] { TIFLoad(Path("s16.tif"), img_); }), "Image format not supported.");

    TiffSpec g4{16, 4};
    g4.bps = 1, g4.photometric = PHOTOMETRIC_MINISWHITE, g4.compression = COMPRESSION_CCITTFAX4;
    ASSERT_TRUE(WriteTiff(Path("g4.tif"), g4, data));
    EXPECT_EQ(ErrorOf([&] { TIFLoad(Path("g4.tif"), img_); }), "Image format not supported.");

    TiffSpec tiled{64, 64};
    tiled.tile = 64;
    ASSERT_TRUE(WriteTiff(Path("tiled.tif"), tiled, data));
    EXPECT_EQ(ErrorOf([&] { TIFLoad(Path("tiled.tif"), img_); }), "Image format not supported.");

    TiffSpec ga{4, 4};
    ga.spp = 2;  // grey with alpha: two bytes a pixel
    ASSERT_TRUE(WriteTiff(Path("ga.tif"), ga, data));
    EXPECT_EQ(ErrorOf([&] { TIFLoad(Path("ga.tif"), img_); }), "Image format not supported.");

    // 20000 x 20000 declared, one row present: refused before the pixels are allocated.
    TiffSpec huge{20000, 20000};
    huge.rowsToWrite = 1;
    std::vector<uint8_t> row(20000, 1);
    ASSERT_TRUE(WriteTiff(Path("huge.tif"), huge, row));
    EXPECT_EQ(ErrorOf([&] { TIFLoad(Path("huge.tif"), img_); }), "Image format not supported.");
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(TifTest, DamagedFilesRaiseLibtiffsTextOrTheImageErrors)
{
    WriteBytes(Path("junk.tif"), {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'});
    try {
        TIFLoad(Path("junk.tif"), img_);
        ADD_FAILURE() << "no error";
    } catch (const EMon& e) {
        EXPECT_EQ(MonErrorClass(), EC_CODEC);
        EXPECT_NE(std::string(e.what()).find("Not a TIFF"), std::string::npos) << e.what();
    }
    MonClearError();
    WriteBytes(Path("zero.tif"), {});
    EXPECT_NE(ErrorOf([&] { TIFLoad(Path("zero.tif"), img_); }), "");

    FillPattern(img_, 33, 21, 24, 3);
    ASSERT_EQ(ErrorOf([&] { TIFSave(Path("ok.tif"), img_); }), "");
    ImgFree(img_);
    auto good = ReadBytes(Path("ok.tif"));
    // Pixel data comes first in the file: cuts there lose rows, later ones the directory.
    for (size_t cut = 0; cut < good.size(); cut += 97) {
        std::string cutPath = Path("cut" + std::to_string(cut) + ".tif");
        WriteBytes(cutPath, std::vector<uint8_t>(good.begin(), good.begin() + (long)cut));
        EXPECT_NE(ErrorOf([&] { TIFLoad(cutPath, back_); }), "") << cut;
    }
    std::mt19937 rng(99);
    for (int round = 0; round < 300; round++) {
        auto f = good;
        for (int k = 0; k < 3; k++) f[rng() % f.size()] = uint8_t(rng());
        // Aim half of the damage at the directory, where the sizes live.
        if (round % 2) f[f.size() - 1 - rng() % 200] = uint8_t(rng());
        std::string fzPath = Path("fz" + std::to_string(round) + ".tif");
        WriteBytes(fzPath, f);
        ErrorOf([&] { TIFLoad(fzPath, back_); });
        if (back_.Data) {
            ASSERT_EQ(back_.Size, back_.Width * back_.Height * back_.BytesPerPixel);
        }
    }
    ImgFree(back_);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}
