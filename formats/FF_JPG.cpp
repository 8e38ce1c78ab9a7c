// JPEG through the codec library, which decodes and encodes whole files.
#include "formats/FF_JPG.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFFile.h"
#include "formats/FFPrepare.h"
#include "platform/JpegCodec.h"

static const int32_t JPGQuality_ = 85;

void JPGInfo(const std::string& name, JPGInfoRec& info)
{
    TRACE("FF_JPG.JPGInfo");
    MonBlock([&] {
        info = JPGInfoRec();
        FFCheckRegular(name);
        int32_t w = 0, h = 0, c = 0;
        if (info_JPEG_file(name.c_str(), &w, &h, &c) != 0) MonError(EC_IMAGE, IE_OPEN, __LINE__);
        int handle = Undef;
        FOpen(handle, name, FM_READ);
        info.FileSize = FSize(handle);
        FClose(handle);
        info.Width = w;
        info.Height = h;
        info.Components = c;
        info.Bpp = c * 8;
        info.Pictures = 1;
        info.Format = "JFIF 1.02";
    });
}

void JPGLoad(const std::string& name, Image& img)
{
    TRACE("FF_JPG.JPGLoad");
    MonBlock([&] {
        JPGInfoRec info;
        JPGInfo(name, info);
        if (!ImgSizeOK(info.Width, info.Height, info.Bpp)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        ImgAllocNamed(img, info.Width, info.Height, "FF_JPG.JPGLoad.img", __LINE__, info.Bpp);
        // The buffer's dimensions go in; the codec refuses a file that no longer fits them.
        int32_t w = info.Width, h = info.Height, c = info.Components;
        if (read_JPEG_file(name.c_str(), img.Data, &w, &h, &c) != 0) MonError(EC_IMAGE, IE_OPEN, __LINE__);
        img.Width = w;
        img.Height = h;
        if (c == 1)
            for (int i = 0; i < 256; i++) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = (uint8_t)i;
    });
}

void JPGSave(const std::string& name, Image& img)
{
    TRACE("FF_JPG.JPGSave");
    MonBlock([&] {
        // Prepared before the old file goes, so an image JPEG cannot hold destroys nothing.
        FFInfo ffi;
        FFInit(FMT_JPEG, ffi, img, 1);
        FDelete(name);
        const Image& src = *ffi.img;
        if (write_JPEG_file(name.c_str(), src.Data, src.Width, src.Height, JPGQuality_) != 0)
            MonError(EC_IMAGE, IE_CREATE, __LINE__);
        FFDone(ffi);
    });
}
