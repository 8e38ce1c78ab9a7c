// Silicon Graphics image reader and writer.
#include "formats/FF_SGI.h"

#include <algorithm>
#include <cstring>

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/Mon.h"
#include "formats/FFFile.h"
#include "formats/FFPrepare.h"

namespace {

constexpr int SGI_MAGIC = 474;
constexpr int SGI_HDR = 512;            // the header's size; the data follow it
constexpr int SGI_HDR_READ = 108;       // the part of the header that is read
constexpr int SGI_COLORMAP_OFFSET = 104;

enum { SGI_VERBATIM = 0, SGI_RLE = 1 };
// A packet's count byte: the low bits count, the high bit marks bytes copied as they are.
constexpr int SGI_COUNT_MASK = 0x7F;
constexpr int SGI_LITERAL = 0x80;
constexpr int SGI_MAX_RUN = 126, SGI_MAX_LITERAL = 125;

struct SGIHdr_ {
    int Magic = 0;
    int Storage = 0;
    int Bpc = 0;
    int Dimension = 0;
    int XSize = 0, YSize = 0, ZSize = 0;
    uint32_t ColorMap = 0;
};

}  // namespace

// Reads the header; the dimension decides which sizes count.
static void SGIReadHeader_(int fh, SGIHdr_& h)
{
    TRACE("FF_SGI.SGIReadHeader_");
    uint8_t b[SGI_HDR_READ];
    int64_t got = 0;
    FReadPart(fh, b, sizeof b, got);
    if (got < int64_t(sizeof b)) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    ByteCursor c = BytesCursor(b, sizeof b);
    h.Magic = BytesReadBE16(c);
    h.Storage = BytesReadU8(c);
    h.Bpc = BytesReadU8(c);
    for (int* f : {&h.Dimension, &h.XSize, &h.YSize, &h.ZSize}) *f = BytesReadBE16(c);
    BytesSeek(c, SGI_COLORMAP_OFFSET);
    h.ColorMap = BytesReadBE32(c);
    switch (h.Dimension) {
    case 1: h.YSize = 1; h.ZSize = 1; break;
    case 2: h.ZSize = 1; break;
    case 3: break;
    default: h.ZSize = 0; break;
    }
}

// Every limit of the header, before anything is allocated.
static void SGICheck_(const SGIHdr_& h)
{
    TRACE("FF_SGI.SGICheck_");
    if (h.Magic != SGI_MAGIC) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    if (h.Bpc != 1 || h.Storage > SGI_RLE || h.ZSize < 1 || h.ZSize > 4 || h.ColorMap != 0)
        MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    if (h.XSize == 0 || h.YSize == 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
}

// One run-length row into dst (xs bytes). False when a packet reaches past the row or the data.
static bool SGIUnpack_(const uint8_t* s, int64_t n, uint8_t* dst, int xs)
{
    TRACE("FF_SGI.SGIUnpack_");
    int64_t i = 0;
    int o = 0;
    while (i < n) {
        const int b = s[i++];
        const int count = b & SGI_COUNT_MASK;
        if (count == 0) break;
        if (count > xs - o) return false;
        if (b & SGI_LITERAL) {
            if (count > n - i) return false;
            std::memcpy(dst + o, s + i, count);
            i += count;
        } else {
            if (i >= n) return false;
            std::memset(dst + o, s[i++], count);
        }
        o += count;
    }
    return true;
}

// The run-length tables (start offsets, then lengths, one per row and channel), each row
// checked to lie in the file. Returns the longest row.
static int64_t SGIReadTables_(int fh, int64_t rows, int64_t fsize, uint8_t*& tab)
{
    TRACE("FF_SGI.SGIReadTables_");
    if (fsize < SGI_HDR + 8 * rows) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
    MemAllocT(&tab, 8 * rows, __LINE__, "FF_SGI.SGILoad.tables");
    FSeek(fh, SGI_HDR);
    FRead(fh, tab, 8 * rows);
    int64_t maxLen = 1;
    for (int64_t i = 0; i < rows; ++i) {
        const int64_t start = BytesGetBE32(tab + 4 * i), len = BytesGetBE32(tab + 4 * (rows + i));
        if (start > fsize || len > fsize - start) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
        maxLen = std::max(maxLen, len);
    }
    return maxLen;
}

// File row r of every channel into planes (one plane of XSize bytes per channel).
static void SGIReadPlanes_(int fh, const SGIHdr_& h, int r, const uint8_t* tab, uint8_t* packed, uint8_t* planes)
{
    TRACE("FF_SGI.SGIReadPlanes_");
    const int xs = h.XSize, ys = h.YSize, zs = h.ZSize;
    const int64_t rows = int64_t(ys) * zs;
    std::memset(planes, 0, size_t(xs) * zs);
    for (int c = 0; c < zs; ++c) {
        uint8_t* plane = planes + int64_t(c) * xs;
        if (h.Storage == SGI_VERBATIM) {
            FSeek(fh, SGI_HDR + int64_t(c) * xs * ys + int64_t(r) * xs);
            FRead(fh, plane, xs);
            continue;
        }
        const int64_t i = int64_t(c) * ys + r;
        const int64_t start = BytesGetBE32(tab + 4 * i), len = BytesGetBE32(tab + 4 * (rows + i));
        if (len == 0) continue;
        FSeek(fh, start);
        FRead(fh, packed, len);
        if (!SGIUnpack_(packed, len, plane, xs)) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
    }
}

// Interleaves the planes into one image row: red, green, blue, fourth become blue, green,
// red, fourth; a single channel is the row itself.
static void SGIPutRow_(const uint8_t* planes, int xs, int chans, int bpx, uint8_t* d)
{
    if (chans == 1) {
        std::memcpy(d, planes, xs);
        return;
    }
    for (int x = 0; x < xs; ++x, d += bpx) {
        d[2] = planes[x];
        d[1] = planes[xs + x];
        d[0] = planes[2 * xs + x];
        if (bpx == 4) d[3] = planes[3 * xs + x];
    }
}

void SGILoad(const std::string& name, Image& img)
{
    TRACE("FF_SGI.SGILoad");
    MonBlock([&] {
        int fh = Undef;
        SGIHdr_ h;
        FFOpenRead(fh, name);
        SGIReadHeader_(fh, h);
        SGICheck_(h);
        const int xs = h.XSize, ys = h.YSize, zs = h.ZSize;
        // Grey with alpha reads as grey.
        const int chans = zs == 2 ? 1 : zs;
        if (!ImgSizeOK(xs, ys, chans * 8)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        const int64_t fsize = FSize(fh);
        const int64_t rows = int64_t(ys) * zs;
        // Sizes are checked against the file before anything is allocated.
        if (h.Storage == SGI_VERBATIM && fsize < SGI_HDR + rows * xs) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        uint8_t* tab = nullptr;
        uint8_t* packed = nullptr;
        if (h.Storage == SGI_RLE) {
            const int64_t maxLen = SGIReadTables_(fh, rows, fsize, tab);
            MemAllocT(&packed, maxLen, __LINE__, "FF_SGI.SGILoad.packed");
        }
        ImgAllocNamed(img, xs, ys, "FF_SGI.SGILoad.image", __LINE__, chans * 8);
        std::memset(img.Pal, 0, sizeof img.Pal);
        uint8_t* planes = nullptr;
        MemAllocT(&planes, int64_t(xs) * zs, __LINE__, "FF_SGI.SGILoad.planes");
        const int bpx = img.BytesPerPixel;
        for (int r = 0; r < ys; ++r) {
            SGIReadPlanes_(fh, h, r, tab, packed, planes);
            // File rows run from the bottom up.
            SGIPutRow_(planes, xs, chans, bpx, img.Data + int64_t(ys - 1 - r) * xs * bpx);
        }
        if (chans == 1)
            for (int i = 0; i < 256; ++i) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = uint8_t(i);
        MemFreeT(&packed);
        MemFreeT(&tab);
        MemFreeT(&planes);
        FClose(fh);
    });
}

// Packs one row: runs of 2..126 equal bytes as count and byte, other bytes in literal packets
// of at most 125 (128 + count, bytes); a 0 byte ends the row. Returns the packed length.
static int SGIPack_(const uint8_t* s, int n, uint8_t* d)
{
    TRACE("FF_SGI.SGIPack_");
    int i = 0, o = 0;
    while (i < n) {
        const int run = int(BytesRunLength(s, i, n, SGI_MAX_RUN));
        if (run >= 2) {
            d[o++] = uint8_t(run);
            d[o++] = s[i];
            i += run;
            continue;
        }
        const int start = i;
        int count = 0;
        while (i < n && count < SGI_MAX_LITERAL && !(i + 1 < n && s[i + 1] == s[i])) {
            ++i;
            ++count;
        }
        d[o++] = uint8_t(SGI_LITERAL | count);
        std::memcpy(d + o, s + start, count);
        o += count;
    }
    d[o++] = 0;
    return o;
}

static void SGIHeader_(uint8_t* hdr, int w, int h, int zs)
{
    TRACE("FF_SGI.SGIHeader_");
    std::memset(hdr, 0, SGI_HDR);
    BytesPutBE16(hdr, SGI_MAGIC);
    hdr[2] = SGI_RLE;
    hdr[3] = 1;  // bytes per channel
    BytesPutBE16(hdr + 4, 3);
    BytesPutBE16(hdr + 6, uint32_t(w));
    BytesPutBE16(hdr + 8, uint32_t(h));
    BytesPutBE16(hdr + 10, uint32_t(zs));
    BytesPutBE32(hdr + 12, 0);
    BytesPutBE32(hdr + 16, 255);
}

// SGI stores each channel as its own bottom-up plane; tab collects every row's offset, then
// every row's length.
static void SGIWriteChannels_(int fh, const Image& src, uint8_t* tab, uint8_t* plane, uint8_t* packed)
{
    TRACE("FF_SGI.SGIWriteChannels_");
    const int w = src.Width, h = src.Height, zs = src.BytesPerPixel;
    const int64_t rows = int64_t(h) * zs;
    int64_t pos = SGI_HDR + 8 * rows;
    static const int chanByte[4] = {2, 1, 0, 3};  // red, green, blue, fourth
    for (int c = 0; c < zs; ++c) {
        for (int r = 0; r < h; ++r) {
            const uint8_t* s = src.Data + int64_t(h - 1 - r) * w * zs + chanByte[c];
            for (int x = 0; x < w; ++x) plane[x] = s[int64_t(x) * zs];
            const int len = SGIPack_(plane, w, packed);
            FWrite(fh, packed, len);
            const int64_t i = int64_t(c) * h + r;
            BytesPutBE32(tab + 4 * i, uint32_t(pos));
            BytesPutBE32(tab + 4 * (rows + i), uint32_t(len));
            pos += len;
        }
    }
}

void SGISave(const std::string& name, Image& img)
{
    TRACE("FF_SGI.SGISave");
    MonBlock([&] {
        FFInfo ffi;
        FFInit(FMT_SGI, ffi, img, 1);
        const Image& src = *ffi.img;
        const int w = src.Width, h = src.Height, zs = src.BytesPerPixel;
        const int64_t rows = int64_t(h) * zs;
        uint8_t hdr[SGI_HDR];
        SGIHeader_(hdr, w, h, zs);

        uint8_t* tab = nullptr;
        uint8_t* plane = nullptr;
        uint8_t* packed = nullptr;
        MemAllocT(&tab, 8 * rows, __LINE__, "FF_SGI.SGISave.tables");
        std::memset(tab, 0, size_t(8 * rows));
        MemAllocT(&plane, w, __LINE__, "FF_SGI.SGISave.plane");
        MemAllocT(&packed, 2 * int64_t(w) + 2, __LINE__, "FF_SGI.SGISave.packed");

        FDelete(name);
        int fh = Undef;
        FOpen(fh, name, FM_CREATE);
        FWrite(fh, hdr, SGI_HDR);
        FWrite(fh, tab, 8 * rows);  // room for the tables, written at the end
        SGIWriteChannels_(fh, src, tab, plane, packed);
        FSeek(fh, SGI_HDR);
        FWrite(fh, tab, 8 * rows);
        FClose(fh);
        MemFreeT(&packed);
        MemFreeT(&plane);
        MemFreeT(&tab);
        FFDone(ffi);
    });
}
