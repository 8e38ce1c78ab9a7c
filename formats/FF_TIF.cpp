// TIFF over libtiff. libtiff reports errors through a handler and then returns a failure
// code, so error_handler_ only keeps the first text; the wrapper raises it (class 1) as soon
// as the failing libtiff call returns. Nothing is thrown through libtiff's C frames.
#include "formats/FF_TIF.h"

#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFFile.h"
#include "formats/FFPrepare.h"
#include "platform/ExternMsg.h"

namespace {

struct TifState_ {
    TIFF* Tif;
    uint32_t Height, Width;
    int64_t ScanSize;
    uint16_t BitsPerSample;
    int BytesPerPixel;
    uint16_t Compression;
    uint16_t Photometric;
    bool Supported;
};

}  // namespace

static TifState_ TIFState_;
static bool TIFErrPending_ = false;
static char TIFErrText_[1024];

// Settings of the writer: no compression; LZW stays off.
static const int TIFCompression_ = COMPRESSION_NONE;
static const bool TIFLZW_ = false;

static void error_handler_(const char* text)
{
    TRACE("FF_TIF.error_handler_");
    if (TIFErrPending_) return;  // the first text names the cause, the rest are follow-ups
    snprintf(TIFErrText_, sizeof TIFErrText_, "%s", text ? text : "");
    TIFErrPending_ = true;
}

static void warning_handler_(const char* text)
{
    try {
        TRACE("FF_TIF.warning_handler_");
        MonWarningMsg(EC_CODEC, text ? text : "", __LINE__);
    } catch (...) {
        // nothing may propagate into libtiff
    }
}

// Raises libtiff's error text when one came since the last check.
static void TIFCheck_(int line)
{
    TRACE("FF_TIF.TIFCheck_");
    if (!TIFErrPending_) return;
    TIFErrPending_ = false;
    MonErrorMsg(EC_CODEC, TIFErrText_, line);
}

static TIFF* TIFOpenFile_(const std::string& name, const char* mode)
{
    TRACE("FF_TIF.TIFOpenFile_");
    memset(&TIFState_, 0, sizeof TIFState_);
    TIFErrPending_ = false;
    ExternErrorSet(error_handler_);
    ExternWarningSet(warning_handler_);
    // A strip or table no sane file needs is refused by libtiff before it allocates.
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (opts) TIFFOpenOptionsSetMaxSingleMemAlloc(opts, (tmsize_t)IMG_MAX_BYTES);
    TIFF* tif = TIFFOpenExt(name.c_str(), mode, opts);
    if (opts) TIFFOpenOptionsFree(opts);
    TIFState_.Tif = tif;
    return tif;
}

static void TIFOpen_(const std::string& name)
{
    TRACE("FF_TIF.TIFOpen_");
    FFCheckRegular(name);
    if (!TIFOpenFile_(name, "r")) {
        TIFCheck_(__LINE__);
        MonError(EC_IMAGE, IE_OPEN, __LINE__);
    }
}

static void TIFCreate_(const std::string& name)
{
    TRACE("FF_TIF.TIFCreate_");
    if (!TIFOpenFile_(name, "w")) {
        TIFCheck_(__LINE__);
        MonError(EC_IMAGE, IE_CREATE, __LINE__);
    }
}

static void TIFClose_()
{
    TRACE("FF_TIF.TIFClose_");
    if (TIFState_.Tif) TIFFClose(TIFState_.Tif);
    memset(&TIFState_, 0, sizeof TIFState_);
    TIFErrPending_ = false;
}

// True when the colour map holds 16-bit values (some entry 256 or more).
static bool checkpal_(const uint16_t* r, const uint16_t* g, const uint16_t* b)
{
    TRACE("FF_TIF.checkpal_");
    for (int i = 0; i < 256; i++)
        if (r[i] > 255 || g[i] > 255 || b[i] > 255) return true;
    return false;
}

static bool TIFCompressionOK_(int c)
{
    TRACE("FF_TIF.TIFCompressionOK_");
    // Deflate has two codes for the same zlib data: 32946, and 8, which today's tools write.
    return c == COMPRESSION_NONE || c == COMPRESSION_LZW || c == COMPRESSION_JPEG || c == COMPRESSION_PACKBITS ||
           c == COMPRESSION_DEFLATE || c == COMPRESSION_ADOBE_DEFLATE;
}

static void TIFSwapRow_(uint8_t* row, uint32_t width, int bytesPerPixel)
{
    TRACE("FF_TIF.TIFSwapRow_");
    for (uint32_t x = 0; x < width; x++, row += bytesPerPixel) {
        uint8_t t = row[0];
        row[0] = row[2];
        row[2] = t;
    }
}

// Every limit of the open file's layout, before the image is allocated.
static void TIFCheckLayout_(TifState_& s)
{
    TRACE("FF_TIF.TIFCheckLayout_");
    TIFF* t = s.Tif;
    uint16_t samples = 1, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &s.Width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &s.Height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &s.BitsPerSample);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &s.Photometric)) s.Photometric = 0xFFFF;
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &s.Compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFCheck_(__LINE__);
    s.Supported = s.BitsPerSample == 8 && TIFCompressionOK_(s.Compression);
    if (!s.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    if (s.Width == 0 || s.Height == 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    // Scan lines cannot be read from tiles, and separate planes would give one channel only.
    if (TIFFIsTiled(t) || (planar == PLANARCONFIG_SEPARATE && samples > 1))
        MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    if (s.Photometric == PHOTOMETRIC_YCBCR) {
        // libjpeg converts JPEG-compressed YCbCr for us; raw subsampled YCbCr is not handled.
        if (s.Compression != COMPRESSION_JPEG) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        s.Photometric = PHOTOMETRIC_RGB;
    }
    tmsize_t scan = TIFFScanlineSize(t);
    TIFCheck_(__LINE__);
    if (scan <= 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    s.ScanSize = scan;
    s.BytesPerPixel = (int)(scan / (int64_t)s.Width);
    if (scan % (int64_t)s.Width != 0 || (s.BytesPerPixel != 1 && s.BytesPerPixel != 3 && s.BytesPerPixel != 4))
        MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    // The header's sizes are not to be trusted.
    if (!ImgSizeOK(s.Width, s.Height, s.BytesPerPixel * 8)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
}

// Grey ramps (either way round) and colour maps of 8- or 16-bit entries.
static void TIFReadPalette_(const TifState_& s, Image& img)
{
    TRACE("FF_TIF.TIFReadPalette_");
    if (s.Photometric == PHOTOMETRIC_MINISWHITE || s.Photometric == PHOTOMETRIC_MINISBLACK) {
        for (int i = 0; i < 256; i++) {
            uint8_t v = (uint8_t)(s.Photometric == PHOTOMETRIC_MINISWHITE ? 255 - i : i);
            img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = v;
        }
    } else if (s.Photometric == PHOTOMETRIC_PALETTE) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (TIFFGetField(s.Tif, TIFFTAG_COLORMAP, &r, &g, &b) && r && g && b) {
            bool wide = checkpal_(r, g, b);
            for (int i = 0; i < 256; i++) {
                img.Pal[i][0] = (uint8_t)(wide ? b[i] >> 8 : b[i]);
                img.Pal[i][1] = (uint8_t)(wide ? g[i] >> 8 : g[i]);
                img.Pal[i][2] = (uint8_t)(wide ? r[i] >> 8 : r[i]);
            }
        }
        TIFCheck_(__LINE__);
    }
}

static void TIFReadRows_(const TifState_& s, Image& img)
{
    TRACE("FF_TIF.TIFReadRows_");
    for (uint32_t y = 0; y < s.Height; y++) {
        uint8_t* row = img.Data + (int64_t)y * s.ScanSize;
        if (TIFFReadScanline(s.Tif, row, y, 0) < 0) {
            TIFCheck_(__LINE__);
            MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
        }
        // TIFF stores red first; the image keeps blue first.
        if (s.BytesPerPixel >= 3) TIFSwapRow_(row, s.Width, s.BytesPerPixel);
    }
}

void TIFLoad(const std::string& name, Image& img)
{
    TRACE("FF_TIF.TIFLoad");
    MonBlock([&] {
        try {
            TIFOpen_(name);
            TIFCheckLayout_(TIFState_);
            ImgAllocNamed(img, (int)TIFState_.Width, (int)TIFState_.Height, "FF_TIF.TIFLoad.img", __LINE__,
                       TIFState_.BytesPerPixel * 8);
            TIFReadPalette_(TIFState_, img);
            TIFReadRows_(TIFState_, img);
        } catch (...) {
            TIFClose_();
            throw;
        }
        TIFClose_();
    });
}

static int TIFSaveCompression_()
{
    TRACE("FF_TIF.TIFSaveCompression_");
    int compression = TIFCompression_;
    if (compression == COMPRESSION_LZW && !TIFLZW_) compression = COMPRESSION_NONE;
    if (!TIFCompressionOK_(compression)) compression = COMPRESSION_NONE;
    return compression;
}

static void TIFWriteColormap_(TIFF* t, const Image& src)
{
    TRACE("FF_TIF.TIFWriteColormap_");
    uint16_t r[256], g[256], b[256];
    for (int i = 0; i < 256; i++) {
        r[i] = (uint16_t)(src.Pal[i][2] * 256);
        g[i] = (uint16_t)(src.Pal[i][1] * 256);
        b[i] = (uint16_t)(src.Pal[i][0] * 256);
    }
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    TIFFSetField(t, TIFFTAG_COLORMAP, r, g, b);
}

static void TIFWriteTags_(TIFF* t, const Image& src, int compression)
{
    TRACE("FF_TIF.TIFWriteTags_");
    const int bytes = src.BytesPerPixel;
    const int64_t rowBytes = (int64_t)src.Width * bytes;
    // Strips of about 8 KiB; a JPEG strip must hold a multiple of 8 rows.
    const uint32_t rowsPerStrip =
        (compression == COMPRESSION_JPEG || rowBytes > 8192) ? 8 : (uint32_t)(8192 / rowBytes);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, (uint32_t)src.Height);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, (uint32_t)src.Width);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, bytes);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (bytes == 1) TIFWriteColormap_(t, src);
    else TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFCheck_(__LINE__);
}

static void TIFWriteRows_(TIFF* t, const Image& src)
{
    TRACE("FF_TIF.TIFWriteRows_");
    const int bytes = src.BytesPerPixel;
    const int64_t rowBytes = (int64_t)src.Width * bytes;
    std::vector<uint8_t> line(bytes == 1 ? 0 : (size_t)rowBytes);
    for (int y = 0; y < src.Height; y++) {
        uint8_t* row = src.Data + (int64_t)y * rowBytes;
        if (bytes != 1) {
            memcpy(line.data(), row, (size_t)rowBytes);
            TIFSwapRow_(line.data(), (uint32_t)src.Width, bytes);
            row = line.data();
        }
        if (TIFFWriteScanline(t, row, (uint32_t)y, 0) < 0) {
            TIFCheck_(__LINE__);
            MonError(EC_IMAGE, IE_COMPRESS, __LINE__);
        }
    }
    // Flushed here so a failing final write is reported, not lost in the close.
    if (!TIFFFlush(t)) {
        TIFCheck_(__LINE__);
        MonError(EC_FILE, FE_WRITE, __LINE__);
    }
}

void TIFSave(const std::string& name, Image& img)
{
    TRACE("FF_TIF.TIFSave");
    MonBlock([&] {
        FFInfo ffi;
        FFInit(FMT_TIFF, ffi, img, 1);
        const Image& src = *ffi.img;
        bool created = false;
        try {
            TIFCreate_(name);
            created = true;
            TIFWriteTags_(TIFState_.Tif, src, TIFSaveCompression_());
            TIFWriteRows_(TIFState_.Tif, src);
        } catch (...) {
            TIFClose_();
            // No half-written file is left behind.
            if (created) std::remove(name.c_str());
            throw;
        }
        TIFClose_();
        FFDone(ffi);
    });
}
