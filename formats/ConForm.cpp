// BMP/DIB, TGA and PCX: the entry the dispatcher calls, with the depth rules the three share.
#include "formats/ConForm.h"

#include "base/Mon.h"
#include "formats/FFFormatIds.h"
#include "formats/FF_BMP.h"
#include "formats/FF_PCX.h"
#include "formats/FF_TGA.h"

void ConLoad(const std::string& name, Image& img, int32_t format)
{
    TRACE("ConForm.ConLoad");
    MonBlock([&] {
        switch (format) {
        case FMT_BMP: DIBLoad(name, img); break;
        case FMT_TGA: TGALoad(name, img); break;
        case FMT_PCX: PCXLoad(name, img); break;
        default: MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__); break;
        }
    });
}

void ConSave(const std::string& name, Image& img, int32_t format)
{
    TRACE("ConForm.ConSave");
    MonBlock([&] {
        if (format != FMT_BMP && format != FMT_TGA && format != FMT_PCX)
            MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
        bool sizeOK = ImgIsValid(img) && img.Width > 0 && img.Height > 0 &&
                      img.BytesPerPixel == (img.Bpp + 7) / 8 && img.BytesPerPixel >= 1 && img.BytesPerPixel <= 4 &&
                      static_cast<int64_t>(img.Width) * img.Height * img.BytesPerPixel <= img.Size;
        if (!sizeOK) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        // These files cannot say 5-6-5 (a plain 16-bit BMP or TGA is 5-5-5), and PCX has no
        // 15-, 16- or 32-bit layout: such images go out at 24 bits, as the writer depth table says.
        Image* src = &img;
        Image conv;
        if (img.Bpp == 16 || (format == FMT_PCX && (img.Bpp == 15 || img.Bpp == 32))) {
            ImgConvBpp(img, conv, 24);
            src = &conv;
        }
        switch (format) {
        case FMT_BMP: DIBSave(name, *src); break;
        case FMT_TGA: TGASave(name, *src); break;
        default: PCXSave(name, *src); break;
        }
        if (src == &conv) ImgFree(conv);
    });
}

void ConDone()
{
    TRACE("ConForm.ConDone");
}
