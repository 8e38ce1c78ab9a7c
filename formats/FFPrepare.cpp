#include "formats/FFPrepare.h"

#include "base/Mon.h"

namespace {

struct FFWriterDepth_ {
    int32_t WriteId;   // the writing table's identifier (MPEG audio is written as FMT_MPA)
    int32_t Depth[6];  // for a source of 8, 15, 16, 24, 32 and other bits; 0: no pictures
};

// One row for each row of the writing table (formats/FFDispatch), in its order.
const FFWriterDepth_ kWriterDepths_[] = {
    {FMT_AVI, {8, 15, 24, 24, 24, 24}},
    {FMT_BMP, {8, 15, 24, 24, 32, 24}},
    {FMT_FLIC, {8, 8, 8, 8, 8, 8}},
    {FMT_QMF, {8, 16, 16, 24, 24, 24}},
    {FMT_JPEG, {24, 24, 24, 24, 24, 24}},
    {FMT_PCX, {8, 24, 24, 24, 24, 24}},
    {FMT_PNG, {8, 24, 24, 24, 24, 24}},
    {FMT_TGA, {8, 15, 24, 24, 32, 24}},
    {FMT_MPEG, {24, 24, 24, 24, 24, 24}},
    {FMT_WAV, {0, 0, 0, 0, 0, 0}},
    {FMT_SGI, {24, 24, 24, 24, 32, 24}},
    {FMT_RAS, {8, 24, 24, 24, 32, 24}},
    {FMT_PNM, {24, 24, 24, 24, 24, 24}},
    {FMT_TIFF, {8, 24, 24, 24, 24, 24}},
    {FMT_XPM, {24, 24, 24, 24, 24, 24}},
    {FMT_MPA, {0, 0, 0, 0, 0, 0}},
    {FMT_OGG, {0, 0, 0, 0, 0, 0}},
};

}  // namespace

int32_t FFTargetBpp(int32_t format, int32_t bpp)
{
    TRACE("FFPrepare.FFTargetBpp");
    int column;
    switch (bpp) {
    case 8: column = 0; break;
    case 15: column = 1; break;
    case 16: column = 2; break;
    case 24: column = 3; break;
    case 32: column = 4; break;
    default: column = 5; break;
    }
    for (const FFWriterDepth_& d : kWriterDepths_)
        if (d.WriteId == format) return d.Depth[column];
    return Undef;
}

static void FFClear_(FFInfo& ffi)
{
    ffi.img = nullptr;
    ffi.temp_img = Image();
    ffi.temp_used = false;
}

void FFInit(int32_t format, FFInfo& ffi, Image& image, int align)
{
    TRACE("FFPrepare.FFInit");
    FFClear_(ffi);
    try {
        MonBlock([&] {
            bool ok = ImgIsValid(image) && image.Width >= 4 && image.Width <= 4096 && image.Height >= 4 &&
                      image.Height <= 4096;
            int32_t target = ok ? FFTargetBpp(format, image.Bpp) : Undef;
            // A target of 0 means the format takes no pictures at all.
            if (target == Undef || target <= 0) ok = false;
            if (!ok) {
                MonError(EC_MOVIE2, MVE_INVALID_FORMAT, __LINE__);
                return;
            }
            if (align < 1) align = 1;
            Image* src = &image;
            int w = (image.Width + align - 1) / align * align;
            int h = (image.Height + align - 1) / align * align;
            if (w != image.Width || h != image.Height) {
                ImgAllocNamed(ffi.temp_img, w, h, "FFPrepare.FFInit.temp_img", __LINE__, image.Bpp);
                FillMem(0, ffi.temp_img.Size, ffi.temp_img.Data);
                ImgCopyPalette(image, ffi.temp_img);
                ImgInsert(image, ffi.temp_img, 0, 0);
                ffi.temp_used = true;
                src = &ffi.temp_img;
            }
            if (target != src->Bpp) {
                ImgConvBpp(*src, ffi.temp_img, target);
                ffi.temp_used = true;
            }
            ffi.img = ffi.temp_used ? &ffi.temp_img : &image;
        });
    } catch (...) {
        // The failing block has already released temp_img's block.
        FFClear_(ffi);
        throw;
    }
}

void FFDone(FFInfo& ffi)
{
    TRACE("FFPrepare.FFDone");
    if (ffi.temp_used) ImgFree(ffi.temp_img);
    FFClear_(ffi);
}
