// JPEG reader and writer: files checked against libjpeg itself, grey and CMYK files made by
// libjpeg, and damaged input.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <random>

#include <jpeglib.h>

#include "ReaderTestUtil.h"
#include "formats/FFDispatch.h"
#include "formats/FF_JPG.h"
#include "platform/JpegCodec.h"

using namespace rtest;

namespace {

struct JErr {
    jpeg_error_mgr pub;
    jmp_buf jump;
};
void JExit(j_common_ptr c) { longjmp(reinterpret_cast<JErr*>(c->err)->jump, 1); }

struct JRaw {
    jpeg_compress_struct c;
    JErr e;
    unsigned char* mem;
    unsigned long size;
};

void JRows(JRaw* j, const uint8_t* px, int stride)
{
    while (j->c.next_scanline < j->c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(px + (size_t)j->c.next_scanline * stride);
        jpeg_write_scanlines(&j->c, &row, 1);
    }
}

// Plain-C frame around libjpeg's long jump. comps 1 grey, 3 blue-green-red, 4 CMYK.
bool JEncode(JRaw* j, const uint8_t* px, int w, int h, int comps, int quality)
{
    j->c.err = jpeg_std_error(&j->e.pub);
    j->e.pub.error_exit = JExit;
    if (setjmp(j->e.jump)) {
        jpeg_destroy_compress(&j->c);
        return false;
    }
    jpeg_create_compress(&j->c);
    jpeg_mem_dest(&j->c, &j->mem, &j->size);
    j->c.image_width = (JDIMENSION)w;
    j->c.image_height = (JDIMENSION)h;
    j->c.input_components = comps;
    j->c.in_color_space = comps == 1 ? JCS_GRAYSCALE : comps == 3 ? JCS_EXT_BGR : JCS_CMYK;
    jpeg_set_defaults(&j->c);
    jpeg_set_quality(&j->c, quality, TRUE);
    jpeg_start_compress(&j->c, TRUE);
    JRows(j, px, w * comps);
    jpeg_finish_compress(&j->c);
    jpeg_destroy_compress(&j->c);
    return true;
}

std::vector<uint8_t> EncodeWithLibjpeg(const uint8_t* px, int w, int h, int comps, int quality)
{
    JRaw j;
    memset(&j, 0, sizeof j);
    std::vector<uint8_t> out;
    if (JEncode(&j, px, w, h, comps, quality)) out.assign(j.mem, j.mem + j.size);
    free(j.mem);
    return out;
}

struct JDec {
    jpeg_decompress_struct c;
    JErr e;
    FILE* f;
};

void JReadRows(JDec* d, uint8_t* out, size_t stride)
{
    while (d->c.output_scanline < d->c.output_height) {
        JSAMPROW row = out + d->c.output_scanline * stride;
        jpeg_read_scanlines(&d->c, &row, 1);
    }
}

bool JDecode(JDec* d, std::vector<uint8_t>* out, int* w, int* h, int* comps)
{
    d->c.err = jpeg_std_error(&d->e.pub);
    d->e.pub.error_exit = JExit;
    if (setjmp(d->e.jump)) {
        jpeg_destroy_decompress(&d->c);
        return false;
    }
    jpeg_create_decompress(&d->c);
    jpeg_stdio_src(&d->c, d->f);
    jpeg_read_header(&d->c, TRUE);
    d->c.out_color_space = d->c.num_components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_start_decompress(&d->c);
    *w = (int)d->c.output_width, *h = (int)d->c.output_height, *comps = d->c.output_components;
    out->resize((size_t)*w * *h * *comps);
    JReadRows(d, out->data(), (size_t)*w * *comps);
    jpeg_finish_decompress(&d->c);
    jpeg_destroy_decompress(&d->c);
    return true;
}

// Decodes a file with libjpeg directly.
bool DecodeWithLibjpeg(const std::string& path, std::vector<uint8_t>& out, int& w, int& h, int& comps)
{
    JDec d;
    memset(&d, 0, sizeof d);
    d.f = fopen(path.c_str(), "rb");
    if (!d.f) return false;
    bool ok = JDecode(&d, &out, &w, &h, &comps);
    fclose(d.f);
    return ok;
}

double MeanAbsDiff(const uint8_t* a, const uint8_t* b, size_t n)
{
    double s = 0;
    for (size_t i = 0; i < n; i++) s += std::abs(int(a[i]) - int(b[i]));
    return s / double(n);
}

// A smooth colour picture that JPEG keeps well.
void Smooth(Image& img, int w, int h)
{
    ImgAlloc(img, w, h, 24);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t* p = img.Data + (y * w + x) * 3;
            p[0] = uint8_t(x * 255 / w), p[1] = uint8_t(y * 255 / h), p[2] = uint8_t((x + y) * 127 / (w + h) + 60);
        }
}

class JpgTest : public ImageTempDirTest {};

}  // namespace

TEST_F(JpgTest, WritesBaselineQuality85ThatLibjpegDecodes)
{
    Smooth(img_, 64, 48);
    std::string p = Path("a.jpg");
    ASSERT_EQ(ErrorOf([&] { JPGSave(p, img_); }), "");
    auto bytes = ReadBytes(p);
    // Exactly what libjpeg makes of these pixels at quality 85, baseline.
    EXPECT_EQ(bytes, EncodeWithLibjpeg(img_.Data, 64, 48, 3, 85));
    bool sof0 = false;
    for (size_t i = 0; i + 1 < bytes.size(); i++)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) sof0 = true;
    EXPECT_TRUE(sof0);

    std::vector<uint8_t> px;
    int w, h, c;
    ASSERT_TRUE(DecodeWithLibjpeg(p, px, w, h, c));
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
    EXPECT_EQ(c, 3);
    EXPECT_LT(MeanAbsDiff(px.data(), img_.Data, px.size()), 2.0);

    ASSERT_EQ(ErrorOf([&] { JPGLoad(p, back_); }), "");
    EXPECT_EQ(back_.Bpp, 24);
    EXPECT_EQ(back_.Width, 64);
    EXPECT_EQ(back_.Height, 48);
    EXPECT_EQ(Pixels(back_), px);  // same decoder, same pixels

    JPGInfoRec info;
    ASSERT_EQ(ErrorOf([&] { JPGInfo(p, info); }), "");
    EXPECT_EQ(info.FileSize, (int64_t)bytes.size());
    EXPECT_EQ(info.Components, 3);
    EXPECT_EQ(info.Bpp, 24);
    EXPECT_EQ(info.Pictures, 1);
    EXPECT_EQ(info.Format, "JFIF 1.02");
}

TEST_F(JpgTest, GreyFileLoadsAsEightBitWithGreyRamp)
{
    std::vector<uint8_t> grey(32 * 16);
    for (size_t i = 0; i < grey.size(); i++) grey[i] = uint8_t(i % 32 * 8);
    auto bytes = EncodeWithLibjpeg(grey.data(), 32, 16, 1, 95);
    ASSERT_FALSE(bytes.empty());
    WriteBytes(Path("g.jpg"), bytes);
    ASSERT_EQ(ErrorOf([&] { JPGLoad(Path("g.jpg"), img_); }), "");
    EXPECT_EQ(img_.Bpp, 8);
    EXPECT_EQ(img_.Size, 32 * 16);
    EXPECT_LT(MeanAbsDiff(img_.Data, grey.data(), grey.size()), 3.0);
    for (int i = 0; i < 256; i += 17) EXPECT_EQ(img_.Pal[i][1], i);
}

TEST_F(JpgTest, AdobeCmykFileLoadsWithItsColours)
{
    // Adobe stores CMYK inverted: 255 means no ink. Left half white, right half cyan.
    std::vector<uint8_t> cmyk(16 * 16 * 4, 255);
    for (int y = 0; y < 16; y++)
        for (int x = 8; x < 16; x++) cmyk[(y * 16 + x) * 4] = 0;
    auto bytes = EncodeWithLibjpeg(cmyk.data(), 16, 16, 4, 100);
    ASSERT_FALSE(bytes.empty());
    WriteBytes(Path("k.jpg"), bytes);
    ASSERT_EQ(ErrorOf([&] { JPGLoad(Path("k.jpg"), img_); }), "");
    ASSERT_EQ(img_.Bpp, 24);
    const uint8_t* white = img_.Data + (4 * 16 + 2) * 3;
    const uint8_t* cyan = img_.Data + (4 * 16 + 13) * 3;
    EXPECT_GT(white[0], 245);
    EXPECT_GT(white[2], 245);
    EXPECT_GT(cyan[0], 245);  // blue
    EXPECT_GT(cyan[1], 245);  // green
    EXPECT_LT(cyan[2], 10);   // red
}

TEST_F(JpgTest, DamagedFilesGiveCannotOpenImageFile)
{
    const std::string e8 = "Cannot open image file.";
    EXPECT_EQ(ErrorOf([&] { JPGLoad(Path("none.jpg"), img_); }), e8);
    WriteBytes(Path("z.jpg"), {});
    EXPECT_EQ(ErrorOf([&] { JPGLoad(Path("z.jpg"), img_); }), e8);
    WriteBytes(Path("r.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(ErrorOf([&] { JPGLoad(Path("r.jpg"), img_); }), e8);

    Smooth(img_, 40, 40);
    ASSERT_EQ(ErrorOf([&] { JPGSave(Path("ok.jpg"), img_); }), "");
    ImgFree(img_);
    auto good = ReadBytes(Path("ok.jpg"));
    // A file cut anywhere is damage, not a picture padded with grey.
    for (size_t cut = 0; cut + 2 < good.size(); cut += 41) {
        std::string cutPath = Path("cut" + std::to_string(cut) + ".jpg");
        WriteBytes(cutPath, std::vector<uint8_t>(good.begin(), good.begin() + (long)cut));
        EXPECT_EQ(ErrorOf([&] { JPGLoad(cutPath, back_); }), e8) << cut;
    }
    // A frame header declaring 60000 x 60000: refused before the pixels are allocated.
    auto huge = good;
    for (size_t i = 0; i + 9 < huge.size(); i++)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xEA, huge[i + 6] = 0x60, huge[i + 7] = 0xEA, huge[i + 8] = 0x60;
            break;
        }
    WriteBytes(Path("huge.jpg"), huge);
    EXPECT_EQ(ErrorOf([&] { JPGLoad(Path("huge.jpg"), back_); }), "Image format not supported.");

    std::mt19937 rng(5);
    for (int round = 0; round < 300; round++) {
        auto f = good;
        for (int k = 0; k < 3; k++) f[2 + rng() % (f.size() - 2)] = uint8_t(rng());
        std::string fzPath = Path("fz" + std::to_string(round) + ".jpg");
        WriteBytes(fzPath, f);
        ErrorOf([&] { JPGLoad(fzPath, back_); });
        if (back_.Data) {
            ASSERT_EQ(back_.Size, back_.Width * back_.Height * back_.BytesPerPixel);
        }
    }
    ImgFree(back_);
    EXPECT_EQ(LeakedBlocks(), 0);
    EXPECT_EQ(LeakedFiles(), 0);
}

TEST_F(JpgTest, WriteFailuresAndBadSizes)
{
    Smooth(img_, 10, 10);
    EXPECT_EQ(ErrorOf([&] { JPGSave(Path("no/dir/x.jpg"), img_); }), "Cannot create image file.");
    Image tiny;
    FillPattern(tiny, 10, 4097, 24);
    EXPECT_EQ(ErrorOf([&] { JPGSave(Path("t.jpg"), tiny); }), "Invalid movie format.");
    EXPECT_FALSE(std::filesystem::exists(Path("t.jpg")));
    ImgFree(tiny);
    ASSERT_EQ(ErrorOf([&] { ImgSave(Path("via.jpeg"), img_); }), "");
    ASSERT_EQ(ErrorOf([&] { ImgLoad(Path("via.jpeg"), back_); }), "");
    EXPECT_EQ(back_.Width, 10);
}
