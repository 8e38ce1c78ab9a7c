// Portable anymap reader (P2, P3, P5, P6) and binary PPM writer.
#include "formats/FF_PNM.h"

#include <cstring>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFFile.h"
#include "formats/FFPrepare.h"

namespace {

constexpr int PNM_BUF = 4096;
constexpr size_t PNM_MAX_TOKEN = 511;

// One PNM file at a time: the header buffer is shared by the reader and the writer.
struct PNMState_ {
    int Handle = Undef;
    bool Ascii = false;
    bool Supported = false;
    int Width = 0, Height = 0, BytesPerPixel = 0, Bpp = 0, Shift = 0;
    int64_t FileSize = 0;
    uint8_t Buf[PNM_BUF] = {};
    int Fill = 0;
    int Pos = 0;
    int64_t Consumed = 0;  // header bytes taken from the file so far
};

}  // namespace

static PNMState_ PNM;

static int PNMGetC_()
{
    if (PNM.Pos >= PNM.Fill) {
        int64_t got = 0;
        FReadPart(PNM.Handle, PNM.Buf, PNM_BUF, got);
        PNM.Fill = got > 0 ? int(got) : 0;
        PNM.Pos = 0;
        if (PNM.Fill == 0) return -1;
    }
    ++PNM.Consumed;
    return PNM.Buf[PNM.Pos++];
}

static inline bool PNMDelim_(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static void PNMSkipComment_()
{
    TRACE("FF_PNM.PNMSkipComment_");
    int c;
    do c = PNMGetC_();
    while (c >= 0 && c != '\n');
}

// Next token; comments run from "#" to the end of the line, and the delimiter after the token
// is consumed. Characters beyond 511 are dropped. Running out of data raises "Image data corrupted.".
static void PNMToken_(std::string& tok)
{
    TRACE("FF_PNM.PNMToken_");
    tok.clear();
    int c;
    for (;;) {
        c = PNMGetC_();
        if (c < 0) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        if (c == '#')
            PNMSkipComment_();
        else if (!PNMDelim_(c))
            break;
    }
    for (;;) {
        if (tok.size() < PNM_MAX_TOKEN) tok += char(c);
        c = PNMGetC_();
        if (c < 0 || PNMDelim_(c)) break;
        if (c == '#') {
            PNMSkipComment_();
            break;
        }
    }
}

// Decimal value of a token; anything but digits raises "Image data corrupted.".
static int PNMNumber_()
{
    TRACE("FF_PNM.PNMNumber_");
    std::string tok;
    PNMToken_(tok);
    int64_t v = 0;
    for (char ch : tok) {
        if (ch < '0' || ch > '9') MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        if (v < 100000000) v = v * 10 + (ch - '0');
    }
    return int(v);
}

static void PNMOpen_(const std::string& name)
{
    TRACE("FF_PNM.PNMOpen_");
    PNM = PNMState_{};
    FFOpenRead(PNM.Handle, name);
    PNM.FileSize = FSize(PNM.Handle);
    std::string tok;
    PNMToken_(tok);
    if (tok.empty() || tok[0] != 'P') MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    const char kind = tok.size() > 1 ? tok[1] : 0;
    PNM.Ascii = kind == '2' || kind == '3';
    if (kind == '2' || kind == '5') {
        PNM.Bpp = 8;
        PNM.BytesPerPixel = 1;
    } else if (kind == '3' || kind == '6') {
        PNM.Bpp = 24;
        PNM.BytesPerPixel = 3;
    } else {
        MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);  // bitmaps and unknown kinds
    }
    PNM.Width = PNMNumber_();
    PNM.Height = PNMNumber_();
    const int maxValue = PNMNumber_();
    PNM.Shift = 0;
    for (int b = 7; b >= 1; --b)
        if (maxValue & (1 << b)) {
            PNM.Shift = 7 - b;
            break;
        }
    // Samples above 255 take two bytes, which this reader does not handle.
    PNM.Supported = PNM.Width >= 4 && PNM.Width <= 4096 && PNM.Height >= 4 && PNM.Height <= 4096 && maxValue <= 255;
    if (!PNM.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
}

void PNMLoad(const std::string& name, Image& img)
{
    TRACE("FF_PNM.PNMLoad");
    MonBlock([&] {
        PNMOpen_(name);
        ImgAllocNamed(img, PNM.Width, PNM.Height, "FF_PNM.PNMLoad.image", __LINE__, PNM.Bpp);
        std::memset(img.Pal, 0, sizeof img.Pal);
        const int64_t n = int64_t(PNM.Width) * PNM.Height * PNM.BytesPerPixel;
        uint8_t* d = img.Data;
        if (PNM.Ascii) {
            for (int64_t i = 0; i < n; ++i) d[i] = uint8_t(PNMNumber_() << PNM.Shift);
        } else {
            FSeek(PNM.Handle, PNM.Consumed);
            FRead(PNM.Handle, d, n);
            if (PNM.Shift)
                for (int64_t i = 0; i < n; ++i) d[i] = uint8_t(d[i] << PNM.Shift);
        }
        if (PNM.BytesPerPixel == 1) {
            for (int i = 0; i < 256; ++i) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = uint8_t(i);
        } else {
            for (int64_t i = 0; i < n; i += 3) std::swap(d[i], d[i + 2]);
        }
        FClose(PNM.Handle);
        PNM.Handle = Undef;
    });
}

void PNMSave(const std::string& name, Image& img)
{
    TRACE("FF_PNM.PNMSave");
    MonBlock([&] {
        FFInfo ffi;
        FFInit(FMT_PNM, ffi, img, 1);
        const Image& src = *ffi.img;
        const int w = src.Width, h = src.Height;
        const std::string hdr = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
        uint8_t* row = nullptr;
        MemAllocT(&row, int64_t(w) * 3, __LINE__, "FF_PNM.PNMSave.row");
        FDelete(name);
        PNM.Handle = Undef;
        FOpen(PNM.Handle, name, FM_CREATE);
        FWrite(PNM.Handle, hdr.data(), int64_t(hdr.size()));
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = src.Data + int64_t(y) * w * 3;
            for (int x = 0; x < w; ++x) {
                row[3 * x] = s[3 * x + 2];
                row[3 * x + 1] = s[3 * x + 1];
                row[3 * x + 2] = s[3 * x];
            }
            FWrite(PNM.Handle, row, int64_t(w) * 3);
        }
        FClose(PNM.Handle);
        PNM.Handle = Undef;
        MemFreeT(&row);
        FFDone(ffi);
    });
}
