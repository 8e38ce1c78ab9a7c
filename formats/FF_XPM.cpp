// XPM through the codec library's whole-file reader and writer.
#include "formats/FF_XPM.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFFile.h"
#include "formats/FFPrepare.h"
#include "platform/XpmCodec.h"

void XPMLoad(const std::string& name, Image& img)
{
    TRACE("FF_XPM.XPMLoad");
    MonBlock([&] {
        FFCheckRegular(name);
        XpmRec rec;
        if (ReadXpm(name.c_str(), &rec) != 0) MonError(EC_IMAGE, IE_OPEN, __LINE__);
        if (!ImgSizeOK(rec.Width, rec.Height, 24)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        ImgAllocNamed(img, rec.Width, rec.Height, "FF_XPM.XPMLoad.img", __LINE__, 24);
        rec.Pixels = img.Data;
        if (ReadXpm(name.c_str(), &rec) != 0) MonError(EC_IMAGE, IE_OPEN, __LINE__);
    });
}

void XPMSave(const std::string& name, Image& img)
{
    TRACE("FF_XPM.XPMSave");
    MonBlock([&] {
        // Prepared before the old file goes, so an image XPM cannot hold destroys nothing.
        FFInfo ffi;
        FFInit(FMT_XPM, ffi, img, 1);
        FDelete(name);
        XpmRec rec;
        rec.Width = ffi.img->Width;
        rec.Height = ffi.img->Height;
        rec.Pixels = ffi.img->Data;
        rec.Zero = 0;
        if (WriteXpm(name.c_str(), &rec) != 0) MonError(EC_IMAGE, IE_CREATE, __LINE__);
        FFDone(ffi);
    });
}
