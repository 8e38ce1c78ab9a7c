// WebP reading.
#include "formats/FF_WEBP.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFFile.h"
#include "platform/WebpCodec.h"

static void WEBPRaise_(int rc)
{
    TRACE("FF_WEBP.WEBPRaise_");
    switch (rc) {
    case WEBP_OK: return;
    case WEBP_READ: MonError(EC_FILE, FE_READ, __LINE__); return;
    case WEBP_MEMORY: MonError(EC_MEMORY, ME_ALLOC, __LINE__); return;
    case WEBP_UNSUPPORTED: MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__); return;
    default: MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__); return;
    }
}

void WEBPOpen(const std::string& name, WebpRows*& rows, int32_t& width, int32_t& height)
{
    TRACE("FF_WEBP.WEBPOpen");
    rows = nullptr;
    FFCheckRegular(name);
    const int rc = WebpRowsOpen(name.c_str(), &rows, &width, &height);
    if (rc != WEBP_OK) WEBPClose(rows);
    // A file that is not there is the file error every reader gives.
    if (rc == WEBP_READ) {
        int handle = Undef;
        FOpen(handle, name, FM_READ);
        FClose(handle);
    }
    WEBPRaise_(rc);
}

void WEBPNextRow(WebpRows* rows, uint8_t* row)
{
    WEBPRaise_(WebpRowsNext(rows, row));
}

void WEBPClose(WebpRows*& rows)
{
    TRACE("FF_WEBP.WEBPClose");
    WebpRowsClose(rows);
    rows = nullptr;
}

void WEBPLoad(const std::string& name, Image& img)
{
    TRACE("FF_WEBP.WEBPLoad");
    WebpRows* rows = nullptr;
    MonBlock([&] {
        try {
            int32_t w = 0, h = 0;
            WEBPOpen(name, rows, w, h);
            if (!ImgSizeOK(w, h, 24)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
            ImgAllocNamed(img, w, h, "FF_WEBP.WEBPLoad.img", __LINE__, 24);
            for (int32_t y = 0; y < h; ++y) WEBPNextRow(rows, img.Data + static_cast<size_t>(y) * w * 3);
        } catch (...) {
            WEBPClose(rows);
            throw;
        }
        WEBPClose(rows);
    });
}
