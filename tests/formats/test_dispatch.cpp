// The dispatcher: format look-up, the open-dialog filter, writer preparation and the
// errors of ImgLoad/ImgSave.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FF_AVI.h"
#include "formats/FFDispatch.h"
#include "formats/FFPrepare.h"
#include "image/ImgBasic.h"
#include "support/TempDir.h"

#include "ReaderTestUtil.h"

namespace {

using rtest::ErrorOf;

void Fill(Image& img, int w, int h, int bpp)
{
    ImgAlloc(img, w, h, bpp);
    for (int i = 0; i < img.Size; ++i) img.Data[i] = static_cast<uint8_t>(i * 7 + 3);
    if (bpp == 15)
        for (int i = 1; i < img.Size; i += 2) img.Data[i] &= 0x7F;
    for (int i = 0; i < 256; ++i) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = static_cast<uint8_t>(i);
}

} // namespace

TEST(FFDispatch, FormatOfName)
{
    EXPECT_EQ(FFFormatOfName("a/b/picture.JPEG", FF_READ), FMT_JPEG);
    EXPECT_EQ(FFFormatOfName("picture.JPEG", FF_WRITE), FMT_JPEG);
    EXPECT_EQ(FFFormatOfName("x.jpe", FF_READ), FMT_JPEG);
    EXPECT_EQ(FFFormatOfName("x.jpe", FF_WRITE), Undef);
    EXPECT_EQ(FFFormatOfName("x.J", FF_READ), FMT_JPEG);
    EXPECT_EQ(FFFormatOfName("x.j", FF_READ), FMT_JPEG);
    EXPECT_EQ(FFFormatOfName("song.mp2", FF_READ), FMT_MPEG);
    EXPECT_EQ(FFFormatOfName("song.mp2", FF_WRITE), FMT_MPA);
    EXPECT_EQ(FFFormatOfName("x.jp", FF_READ), Undef);   // no partial extension match
    EXPECT_EQ(FFFormatOfName("noext", FF_READ), Undef);
    EXPECT_EQ(FFFormatOfName("dir.bmp/noext", FF_READ), Undef);
    EXPECT_EQ(FFFormatOfName("x.", FF_READ), Undef);
    EXPECT_EQ(FFFormatOfName("x.rle", FF_READ), FMT_BMP);
    EXPECT_EQ(FFFormatOfName("x.rle", FF_WRITE), Undef);
    EXPECT_EQ(FFFormatOfName("x.Ras", FF_READ), FMT_RAS);
    EXPECT_EQ(FFFormatOfName("x.pgm", FF_WRITE), Undef);
    EXPECT_EQ(FFFormatOfName("x.gif", FF_WRITE), Undef);
    QffDesc d;
    FFFormatOfName("logo.SYS.bmp", FF_READ, d);
    EXPECT_EQ(d.Id, FMT_BMP);
    EXPECT_EQ(d.Mask, 9);
    EXPECT_EQ(d.Long, "BMP/DIB, Windows Device Independent Bitmap");
    FFFormatOfName("logo.sys", FF_READ, d);
    EXPECT_EQ(d.Id, Undef);
    EXPECT_EQ(d.Short, "");
    EXPECT_EQ(FFTableCount(FF_READ), 22);
    EXPECT_EQ(FFTableCount(FF_WRITE), 17);
}

TEST(FFDispatch, LoadFilterTexts)
{
    EXPECT_EQ(FFMakeLoadFilter(1, 1),
              "All supported formats|*.gif;*.giff;*.bmp;*.dib;*.rle;*.ras;*.sun;*.im1;*.rgb;*.rgba;*.bw;*.sgi;"
              "*.pnm;*.ppm;*.pgm;*.pcx;*.png;*.jpg;*.jpeg;*.jif;*.jfif;*.jpe;*.J;*.tif;*.tiff;*.tga;*.bay;*.xpm;"
              "*.webp;*.heic;*.heif;*.hif;*.avif|"
              "AVIF, AV1 Image File|*.avif|"
              "BAY, Bayer Image|*.bay|"
              "BMP/DIB, Windows Device Independent Bitmap|*.bmp;*.dib;*.rle|"
              "GIF, Graphics Interchange Format|*.gif;*.giff|"
              "HEIC/HEIF, High Efficiency Image File|*.heic;*.heif;*.hif|"
              "JPEG, Joint Photographic Experts Group|*.jpg;*.jpeg;*.jif;*.jfif;*.jpe;*.J|"
              "PCX, Zsoft Paintbrush|*.pcx|"
              "PNG, Portable Network Graphics|*.png|"
              "PNM, Portable Image|*.pnm;*.ppm;*.pgm|"
              "RAS, Sun Raster Image|*.ras;*.sun;*.im1|"
              "RGB, Silicon Graphics Image|*.rgb;*.rgba;*.bw;*.sgi|"
              "TGA, Truevision Targa|*.tga|"
              "TIFF, Tagged Image File Format|*.tif;*.tiff|"
              "WEBP, WebP Image|*.webp|"
              "XPM, X PixMap|*.xpm|"
              "Any file (*.*)|*.*");
    EXPECT_EQ(FFMakeLoadFilter(4, 0),
              "All supported formats|*.wav;*.mp3;*.mpa;*.mp2;*.ogg|MPA|*.mp3;*.mpa;*.mp2|OGG|*.ogg|WAV|*.wav|"
              "Any file (*.*)|*.*");
    EXPECT_EQ(FFMakeLoadFilter(4, 4), "MPA|*.mp3;*.mpa;*.mp2|OGG|*.ogg|WAV|*.wav|");
    EXPECT_EQ(FFMakeLoadFilter(4, 2 | 4), "MPA (mp3,mpa,mp2)|*.mp3;*.mpa;*.mp2|OGG (ogg)|*.ogg|WAV (wav)|*.wav|");
    // No row takes part: no "All supported formats" entry.
    EXPECT_EQ(FFMakeLoadFilter(32, 0), "Any file (*.*)|*.*");
    // Mask 0 takes every row, sorted by short name.
    std::string all = FFMakeLoadFilter(0, 0);
    EXPECT_NE(all.find("|MPA|*.mp3;*.mpa;*.mp2|MPEG|*.mpg;"), std::string::npos);
    EXPECT_NE(all.find("|AVI|*.avi|BAY|*.bay|BMP|"), std::string::npos);
}

TEST(FFDispatch, WriterDepthTable)
{
    EXPECT_EQ(FFTargetBpp(FMT_PNG, 8), 8);
    EXPECT_EQ(FFTargetBpp(FMT_PNG, 15), 24);
    EXPECT_EQ(FFTargetBpp(FMT_JPEG, 8), 24);
    EXPECT_EQ(FFTargetBpp(FMT_BMP, 32), 32);
    EXPECT_EQ(FFTargetBpp(FMT_BMP, 16), 24);
    EXPECT_EQ(FFTargetBpp(FMT_QMF, 15), 16);
    EXPECT_EQ(FFTargetBpp(FMT_SGI, 8), 24);
    EXPECT_EQ(FFTargetBpp(FMT_SGI, 32), 32);
    EXPECT_EQ(FFTargetBpp(FMT_RAS, 8), 8);
    EXPECT_EQ(FFTargetBpp(FMT_FLIC, 24), 8);
    EXPECT_EQ(FFTargetBpp(FMT_TGA, 12), 24);
    EXPECT_EQ(FFTargetBpp(FMT_WAV, 24), 0);
    EXPECT_EQ(FFTargetBpp(FMT_GIF, 8), Undef);
    EXPECT_EQ(FFTargetBpp(FMT_BAY, 8), Undef);
    EXPECT_EQ(FFTargetBpp(99, 8), Undef);
    // The depths live apart from the writing table: every row there must have its depth row.
    for (int i = 0; i < FFTableCount(FF_WRITE); ++i)
        EXPECT_NE(FFTargetBpp(FFTableRow(FF_WRITE, i).Id, 24), Undef) << FFTableRow(FF_WRITE, i).Short;
}

TEST(FFDispatch, WriterPreparation)
{
    int mem0 = MemCount();
    Image img;
    Fill(img, 3, 10, 24);
    FFInfo ffi;
    EXPECT_EQ(ErrorOf([&] { FFInit(FMT_PNG, ffi, img, 1); }), "Invalid movie format.");
    EXPECT_EQ(ffi.img, nullptr);
    ImgFree(img);
    Fill(img, 10, 4097, 8);
    EXPECT_EQ(ErrorOf([&] { FFInit(FMT_PNG, ffi, img, 1); }), "Invalid movie format.");
    ImgFree(img);
    Fill(img, 4, 4, 8);
    EXPECT_EQ(ErrorOf([&] { FFInit(FMT_GIF, ffi, img, 1); }), "Invalid movie format.");
    Image none;
    EXPECT_EQ(ErrorOf([&] { FFInit(FMT_PNG, ffi, none, 1); }), "Invalid movie format.");

    // 8 bits stays 8 for PNG: the caller's own image is encoded.
    ASSERT_EQ(ErrorOf([&] { FFInit(FMT_PNG, ffi, img, 1); }), "");
    EXPECT_EQ(ffi.img, &img);
    EXPECT_FALSE(ffi.temp_used);
    FFDone(ffi);
    EXPECT_EQ(ffi.img, nullptr);
    // JPEG takes 24 bits: a converted copy, the caller's image unchanged.
    ASSERT_EQ(ErrorOf([&] { FFInit(FMT_JPEG, ffi, img, 1); }), "");
    ASSERT_TRUE(ffi.temp_used);
    EXPECT_EQ(ffi.img, &ffi.temp_img);
    EXPECT_EQ(ffi.img->Bpp, 24);
    EXPECT_EQ(img.Bpp, 8);
    EXPECT_EQ(ffi.img->Data[3 * 5], img.Pal[img.Data[5]][0]);
    FFDone(ffi);
    ImgFree(img);

    // A 15-bit image for PNG becomes 24 bits, the caller's keeps 15.
    Fill(img, 6, 5, 15);
    ASSERT_EQ(ErrorOf([&] { FFInit(FMT_PNG, ffi, img, 1); }), "");
    EXPECT_EQ(ffi.img->Bpp, 24);
    EXPECT_EQ(img.Bpp, 15);
    FFDone(ffi);

    // Alignment pads with zeros and keeps the picture at the top left.
    ImgFree(img);
    Fill(img, 5, 6, 24);
    ASSERT_EQ(ErrorOf([&] { FFInit(FMT_BMP, ffi, img, 4); }), "");
    ASSERT_TRUE(ffi.temp_used);
    EXPECT_EQ(ffi.img->Width, 8);
    EXPECT_EQ(ffi.img->Height, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            for (int c = 0; c < 3; ++c) {
                uint8_t want = (x < 5 && y < 6) ? img.Data[(y * 5 + x) * 3 + c] : 0;
                ASSERT_EQ(ffi.img->Data[(y * 8 + x) * 3 + c], want) << x << "," << y;
            }
    FFDone(ffi);
    ImgFree(img);
    EXPECT_EQ(MemCount(), mem0);
}

TEST(FFDispatch, LoadAndSaveErrors)
{
    TempDir dir;
    int mem0 = MemCount(), files0 = FileCount();
    Image img;
    EXPECT_EQ(ErrorOf([&] { ImgLoad(dir / "noext", img); }), "Invalid image format.");
    WriteWholeFile(dir / "clip.avi", "RIFF");
    EXPECT_EQ(ErrorOf([&] { ImgLoad(dir / "clip.avi", img); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { ImgLoad(dir / "x.bmp", img, 99); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { ImgLoad(dir / "missing.bmp", img); }), "Cannot open file: " + (dir / "missing.bmp"));

    Image none;
    EXPECT_EQ(ErrorOf([&] { ImgSave(dir / "a.bmp", none); }), "Image data corrupted.");
    EXPECT_FALSE(std::filesystem::exists(dir / "a.bmp"));
    Fill(img, 8, 8, 24);
    EXPECT_EQ(ErrorOf([&] { ImgSave(dir / "a.gif", img); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { ImgSave(dir / "a.bay", img); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { ImgSave(dir / "a.bay", img, FMT_BAY); }), "Invalid image format.");
    EXPECT_EQ(ErrorOf([&] { ImgSave(dir / "a.wav", img); }), "Invalid image format.");
    EXPECT_FALSE(std::filesystem::exists(dir / "a.gif"));

    // An explicit identifier wins over the extension; BMP, TGA and PCX take narrow images.
    Image small, back;
    Fill(small, 3, 2, 24);
    ASSERT_EQ(ErrorOf([&] { ImgSave(dir / "logo.sys", small, FMT_BMP); }), "");
    EXPECT_EQ(ReadWholeFile(dir / "logo.sys").substr(0, 2), "BM");
    ASSERT_EQ(ErrorOf([&] { ImgLoad(dir / "logo.sys", back, FMT_BMP); }), "");
    EXPECT_EQ(0, std::memcmp(back.Data, small.Data, 18));
    for (const char* ext : {"t.tga", "t.pcx", "t.dib"}) {
        ASSERT_EQ(ErrorOf([&] { ImgSave(dir / ext, small); }), "") << ext;
        ASSERT_EQ(ErrorOf([&] { ImgLoad(dir / ext, back); }), "") << ext;
        EXPECT_EQ(0, std::memcmp(back.Data, small.Data, 18)) << ext;
    }
    // Saving over an existing file replaces it.
    WriteWholeFile(dir / "t.tga", std::string(5000, 'x'));
    ASSERT_EQ(ErrorOf([&] { ImgSave(dir / "t.tga", small); }), "");
    EXPECT_LT(ReadWholeFile(dir / "t.tga").size(), 100u);
    ImgFree(back);
    ImgFree(small);
    ImgFree(img);
    EXPECT_EQ(MemCount(), mem0);
    EXPECT_EQ(FileCount(), files0);
}

// Without Video for Windows the codec helpers start and end with their defaults.
TEST(FFAvi, StartUpAndEndWithoutVideoForWindows)
{
    int mem0 = MemCount();
    AviInit();
    EXPECT_TRUE(AviIsInitialized());
    const AviCodecRec& c = AviCurrentCodec();
    EXPECT_EQ(c.FourCC, AviFourCC('c', 'v', 'i', 'd'));
    EXPECT_EQ(c.FourCC, 0x64697663u);
    EXPECT_EQ(c.Depth, 24);
    EXPECT_EQ(c.KeyFrameRate, 0);
    EXPECT_EQ(c.Quality, 0);
    EXPECT_FALSE(AviCurrentIsFullFrame());
    int32_t rate = -5, quality = -5;
    AviCodecKeyFrameRate(c.FourCC, rate);
    AviCodecQuality(c.FourCC, quality);
    EXPECT_EQ(rate, 0);
    EXPECT_EQ(quality, 0);
    const uint32_t first[3] = {0x20000, 0x20001, 0x2000F};
    for (int i = 0; i < 3; ++i) {
        const uint8_t* b = AviDefaultSettings(i);
        EXPECT_EQ(uint32_t(b[0] | (b[1] << 8) | (b[2] << 16) | (b[3] << 24)), first[i]);
    }
    AviDone();
    EXPECT_FALSE(AviIsInitialized());
    EXPECT_EQ(AviCodecs().Count, 0);
    EXPECT_FALSE(AviCodecs().Present);
    EXPECT_EQ(MemCount(), mem0);
}
