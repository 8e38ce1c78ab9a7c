// PNG over libpng. libpng is C built without unwinding support, so its errors must not leave
// as C++ exceptions: error_handler_ long-jumps back to PNGRun_, the one setjmp, whose frame
// and every frame between it and libpng hold only plain data (no destructor is skipped).
// The caller then frees the structures and raises through the monitor as usual.
#include "formats/FF_PNG.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFFile.h"
#include "formats/FFPrepare.h"

namespace {

// The open reader or writer. libpng's callbacks reach the file through this one
// program-wide state, so one PNG file is read or written at a time.
struct PngState_ {
    int File;
    bool FileOpen;
    bool Writing;
    png_structp Png;
    png_infop Info;
    png_uint_32 Width, Height;
    int BitDepth, ColorType, Interlace, Compression, Filter, Channels;
    int FileColorType;  // colour type of the file, before our transformations
    int Passes;
    size_t RowBytes;
    uint8_t* Pixels;             // rows read into or written from
    const uint8_t (*Pal)[3];     // writer: the image's blue-green-red palette
    int FileError;               // file-class code a callback met, 0 when none
    char Message[512];           // libpng's error text
};

typedef void (*PngStep_)(PngState_*);

}  // namespace

static PngState_ PNGState_;
static int32_t PNGLevel_ = 6;

// ---- libpng callbacks and the steps below run in plain frames that a long jump may leave,
// so they carry no TRACE scope object (its destructor would be skipped).

static void error_handler_(png_structp png, png_const_charp msg)
{
    snprintf(PNGState_.Message, sizeof PNGState_.Message, "%s", msg ? msg : "");
    png_longjmp(png, 1);
}

static void warning_handler_(png_structp, png_const_charp msg)
{
    try {
        TRACE("FF_PNG.warning_handler_");
        MonWarningMsg(EC_CODEC, msg ? msg : "", __LINE__);
    } catch (...) {
        // nothing may propagate into libpng
    }
}

static void read_data_(png_structp png, png_bytep data, png_size_t length)
{
    PngState_* s = static_cast<PngState_*>(png_get_io_ptr(png));
    int64_t got = -1;
    try {
        FReadPart(s->File, data, (int64_t)length, got);
    } catch (...) {
        got = -1;
    }
    if (got != (int64_t)length) {
        s->FileError = 3;  // "Cannot read from file."
        png_error(png, "Cannot read from file.");
    }
}

static void write_data_(png_structp png, png_bytep data, png_size_t length)
{
    PngState_* s = static_cast<PngState_*>(png_get_io_ptr(png));
    bool ok = false;
    try {
        TRACE("FF_PNG.write_data_");
        // Transparent: a failing write must not unwind through libpng nor release the
        // resources of the enclosing block; PNGSave raises once libpng has let go.
        MonBlockTransparent([&] { FWrite(s->File, data, (int64_t)length); });
        ok = MonOK();
    } catch (...) {
        ok = false;
    }
    if (!ok) {
        s->FileError = 4;  // "Cannot write to file."
        png_error(png, "Cannot write to file.");
    }
}

static void flush_data_(png_structp) {}

// ---- the steps run under PNGRun_

static void PNGReadHeader_(PngState_* s)
{
    png_structp png = s->Png;
    png_infop info = s->Info;
    png_set_read_fn(png, s, read_data_);
    png_read_info(png, info);
    png_get_IHDR(png, info, &s->Width, &s->Height, &s->BitDepth, &s->ColorType, &s->Interlace, &s->Compression,
                 &s->Filter);
    s->Channels = png_get_channels(png, info);
    s->FileColorType = s->ColorType;
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    // Low-depth grey is scaled to 0..255 so the grey ramp palette shows it as it looks.
    if (s->ColorType == PNG_COLOR_TYPE_GRAY && s->BitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    png_set_packing(png);
    png_set_bgr(png);
    s->Passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    png_get_IHDR(png, info, &s->Width, &s->Height, &s->BitDepth, &s->ColorType, &s->Interlace, &s->Compression,
                 &s->Filter);
    s->Channels = png_get_channels(png, info);
    s->RowBytes = png_get_rowbytes(png, info);
}

static void PNGReadRows_(PngState_* s)
{
    // Row by row straight into the pixel block; interlaced files take one sweep per pass.
    for (int pass = 0; pass < s->Passes; pass++)
        for (png_uint_32 y = 0; y < s->Height; y++) png_read_row(s->Png, s->Pixels + (size_t)y * s->RowBytes, nullptr);
    png_read_end(s->Png, nullptr);
}

static void PNGWriteAll_(PngState_* s)
{
    png_structp png = s->Png;
    png_infop info = s->Info;
    png_set_compression_level(png, PNGLevel_);
    png_set_write_fn(png, s, write_data_, flush_data_);
    png_set_IHDR(png, info, s->Width, s->Height, 8, s->ColorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (s->ColorType == PNG_COLOR_TYPE_PALETTE) {
        png_color plte[256];
        for (int i = 0; i < 256; i++) {
            plte[i].red = s->Pal[i][2];
            plte[i].green = s->Pal[i][1];
            plte[i].blue = s->Pal[i][0];
        }
        png_set_PLTE(png, info, plte, 256);
    }
    png_write_info(png, info);
    png_set_bgr(png);
    for (png_uint_32 y = 0; y < s->Height; y++) png_write_row(png, s->Pixels + (size_t)y * s->RowBytes);
    png_write_end(png, info);
}

// The one setjmp: 0 when the step ran through, 1 when libpng raised an error.
static int PNGRun_(PngState_* s, PngStep_ step)
{
    if (setjmp(png_jmpbuf(s->Png))) return 1;
    step(s);
    return 0;
}

// ---- C++ side

// Raises the error that ended a PNGRun_: the file error a callback met, else libpng's text.
static void PNGRaise_(int line)
{
    TRACE("FF_PNG.PNGRaise_");
    if (PNGState_.FileError) MonError(EC_FILE, PNGState_.FileError, line);
    MonErrorMsg(EC_CODEC, PNGState_.Message, line);
}

static void PNGClose_()
{
    TRACE("FF_PNG.PNGClose_");
    PngState_* s = &PNGState_;
    if (s->Png) {
        if (s->Writing) png_destroy_write_struct(&s->Png, &s->Info);
        else png_destroy_read_struct(&s->Png, &s->Info, nullptr);
    }
    if (s->FileOpen) FClose(s->File);
    memset(s, 0, sizeof *s);
}

static void PNGOpen_(const std::string& name)
{
    TRACE("FF_PNG.PNGOpen_");
    PngState_* s = &PNGState_;
    memset(s, 0, sizeof *s);
    FFOpenRead(s->File, name);
    s->FileOpen = true;
    uint8_t sig[4];
    FRead(s->File, sig, 4);
    if (png_sig_cmp(sig, 0, 4) != 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    FSeek(s->File, 0);
    s->Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, error_handler_, warning_handler_);
    if (!s->Png) MonError(EC_IMAGE, IE_INIT_COMPRESSION, __LINE__);
    s->Info = png_create_info_struct(s->Png);
    if (!s->Info) MonError(EC_IMAGE, IE_INIT_COMPRESSION, __LINE__);
    PNGSkipExif(s->Png);
}

void PNGSkipExif(png_struct_def* png)
{
    static const png_byte kExif[5] = {'e', 'X', 'I', 'f', 0};
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kExif, 1);
}

void PNGLoad(const std::string& name, Image& img)
{
    TRACE("FF_PNG.PNGLoad");
    MonBlock([&] {
        try {
            PngState_* s = &PNGState_;
            PNGOpen_(name);
            if (PNGRun_(s, PNGReadHeader_)) PNGRaise_(__LINE__);
            if ((s->Channels != 1 && s->Channels != 3) || s->BitDepth != 8)
                MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
            int bpp = s->Channels * 8;
            // Checked before allocating: the header's sizes are not to be trusted.
            if (!ImgSizeOK(s->Width, s->Height, bpp)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
            if (s->RowBytes != (size_t)s->Width * (size_t)s->Channels) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
            ImgAllocNamed(img, (int)s->Width, (int)s->Height, "FF_PNG.PNGLoad.img", __LINE__, bpp);
            s->Pixels = img.Data;
            if (PNGRun_(s, PNGReadRows_)) PNGRaise_(__LINE__);
            if (bpp == 8) {
                memset(img.Pal, 0, sizeof img.Pal);
                if (s->FileColorType == PNG_COLOR_TYPE_GRAY || s->FileColorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
                    png_color ramp[256];
                    png_build_grayscale_palette(8, ramp);
                    for (int i = 0; i < 256; i++) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = ramp[i].red;
                } else if (s->FileColorType == PNG_COLOR_TYPE_PALETTE) {
                    png_colorp plte = nullptr;
                    int count = 0;
                    if (png_get_PLTE(s->Png, s->Info, &plte, &count) && plte) {
                        count = std::min(count, 256);
                        for (int i = 0; i < count; i++) {
                            img.Pal[i][0] = plte[i].blue;
                            img.Pal[i][1] = plte[i].green;
                            img.Pal[i][2] = plte[i].red;
                        }
                    }
                }
            }
        } catch (...) {
            PNGClose_();
            throw;
        }
        PNGClose_();
    });
}

void PNGSave(const std::string& name, Image& img)
{
    TRACE("FF_PNG.PNGSave");
    MonBlock([&] {
        // Prepared before the old file goes, so an image no PNG can hold destroys nothing.
        FFInfo ffi;
        FFInit(FMT_PNG, ffi, img, 1);
        Image& src = *ffi.img;
        PngState_* s = &PNGState_;
        bool created = false;
        try {
            memset(s, 0, sizeof *s);
            FDelete(name);
            FOpen(s->File, name, FM_CREATE);
            s->FileOpen = true;
            created = true;
            s->Writing = true;
            s->Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, error_handler_, warning_handler_);
            if (!s->Png) MonError(EC_IMAGE, IE_INIT_COMPRESSION, __LINE__);
            s->Info = png_create_info_struct(s->Png);
            if (!s->Info) MonError(EC_IMAGE, IE_INIT_COMPRESSION, __LINE__);
            s->Width = (png_uint_32)src.Width;
            s->Height = (png_uint_32)src.Height;
            s->ColorType = src.BytesPerPixel == 1 ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB;
            s->RowBytes = (size_t)src.Width * (size_t)src.BytesPerPixel;
            s->Pixels = src.Data;
            s->Pal = src.Pal;
            if (PNGRun_(s, PNGWriteAll_)) PNGRaise_(__LINE__);
            // A close that fails loses the data buffered last: that is a failed write, not a warning.
            int file = s->File;
            s->FileOpen = false;
            MonWarning(0, 0, __LINE__);
            FClose(file);
            if (MonWarningClass() == EC_FILE) MonError(EC_FILE, FE_WRITE, __LINE__);
        } catch (...) {
            PNGClose_();
            // No half-written PNG is left behind for the store to trip over later.
            if (created) std::remove(name.c_str());
            throw;
        }
        PNGClose_();
        FFDone(ffi);
    });
}

int32_t PNGCompressionLevel(int32_t value)
{
    TRACE("FF_PNG.PNGCompressionLevel");
    if (value != Undef) PNGLevel_ = std::clamp(value, 0, 9);
    return PNGLevel_;
}
