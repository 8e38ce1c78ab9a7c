// Sun raster reader and writer.
#include "formats/FF_RAS.h"

#include <algorithm>
#include <cstring>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFDispatch.h"

namespace {

constexpr uint32_t RAS_MAGIC = 0x59A66A95u;

struct RASHdr_ {
    uint32_t Magic = 0, Width = 0, Height = 0, Depth = 0, Length = 0, Type = 0, MapType = 0, MapLength = 0;
};

}  // namespace

static inline uint32_t RASGet32_(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
static inline void RASPut32_(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

static void RASOpen_(const std::string& name, int& fh, RASHdr_& h)
{
    TRACE("FF_RAS.RASOpen_");
    FOpen(fh, name, FM_READ);
    uint8_t b[32];
    int64_t got = 0;
    FReadPart(fh, b, sizeof b, got);
    if (got < int64_t(sizeof b)) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    uint32_t* f[8] = {&h.Magic, &h.Width, &h.Height, &h.Depth, &h.Length, &h.Type, &h.MapType, &h.MapLength};
    for (int i = 0; i < 8; ++i) *f[i] = RASGet32_(b + 4 * i);
    if (h.Magic != RAS_MAGIC) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    if (h.Type > 3 || (h.Depth != 8 && h.Depth != 24 && h.Depth != 32)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    if (h.Width == 0 || h.Height == 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    if (!ImgSizeOK(h.Width, h.Height, int(h.Depth)))
        MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
}

// The byte encoding: 128, 0 is a literal 128; 128, n, v is n + 1 copies of v; any other
// byte stands for itself. Returns false on an escape cut off by the end of the data.
static bool RASUnpack_(const uint8_t* s, int64_t n, uint8_t* d, int64_t size)
{
    TRACE("FF_RAS.RASUnpack_");
    int64_t i = 0, o = 0;
    while (i < n && o < size) {
        const uint8_t b = s[i++];
        if (b != 128) {
            d[o++] = b;
            continue;
        }
        if (i >= n) return false;
        const int count = s[i++];
        if (count == 0) {
            d[o++] = 128;
            continue;
        }
        if (i >= n) return false;
        const uint8_t v = s[i++];
        const int64_t k = std::min<int64_t>(count + 1, size - o);
        std::memset(d + o, v, size_t(k));
        o += k;
    }
    return true;
}

void RASLoad(const std::string& name, Image& img)
{
    TRACE("FF_RAS.RASLoad");
    MonBlock([&] {
        int fh = Undef;
        RASHdr_ h;
        RASOpen_(name, fh, h);
        const int64_t fsize = FSize(fh);
        const int w = int(h.Width), ht = int(h.Height);
        if (int64_t(h.MapLength) > fsize - 32) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        // Unencoded rows must all be in the file (the last one may lack its pad byte).
        const int64_t stride = (int64_t(w) * (h.Depth / 8) + 1) & ~int64_t(1);
        if (h.Type != 2 && fsize - 32 - int64_t(h.MapLength) < stride * (ht - 1) + int64_t(w) * (h.Depth / 8))
            MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        // Three encoded bytes give at most 256 pixel bytes: a picture the data cannot nearly fill is damaged.
        if (h.Type == 2 && int64_t(w) * ht * (h.Depth / 8) > (fsize - 32 - int64_t(h.MapLength)) * 86 + 256)
            MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        _imgalloc_(img, w, ht, "FF_RAS.RASLoad.image", __LINE__, int(h.Depth));
        std::memset(img.Pal, 0, sizeof img.Pal);
        if (h.MapType == 1 && h.MapLength > 0) {
            uint8_t* map = nullptr;
            MemAllocT(&map, h.MapLength, __LINE__, "FF_RAS.RASLoad.map");
            FRead(fh, map, h.MapLength);
            // Three planes: red, then green, then blue.
            const uint32_t plane = h.MapLength / 3, n = std::min<uint32_t>(plane, 256);
            for (uint32_t i = 0; i < n; ++i) {
                img.Pal[i][2] = map[i];
                img.Pal[i][1] = map[plane + i];
                img.Pal[i][0] = map[2 * plane + i];
            }
            MemFreeT(&map);
        }
        const int64_t dataPos = 32 + int64_t(h.MapLength);
        FSeek(fh, dataPos);
        const int bpx = img.BytesPerPixel;
        const int64_t rowBytes = int64_t(w) * bpx;
        if (h.Type == 2) {
            // Every output byte costs at most two input bytes.
            const int64_t n = std::min(fsize - dataPos, 2 * int64_t(img.Size) + 3);
            uint8_t* packed = nullptr;
            MemAllocT(&packed, std::max<int64_t>(n, 1), __LINE__, "FF_RAS.RASLoad.packed");
            FRead(fh, packed, n);
            std::memset(img.Data, 0, size_t(img.Size));
            if (!RASUnpack_(packed, n, img.Data, img.Size)) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
            MemFreeT(&packed);
        } else {
            uint8_t* row = nullptr;
            MemAllocT(&row, stride, __LINE__, "FF_RAS.RASLoad.row");
            for (int y = 0; y < ht; ++y) {
                FRead(fh, row, y < ht - 1 ? stride : rowBytes);
                std::memcpy(img.Data + y * rowBytes, row, size_t(rowBytes));
            }
            MemFreeT(&row);
        }
        if (bpx >= 3) {
            const int64_t pixels = int64_t(w) * ht;
            uint8_t* p = img.Data;
            for (int64_t i = 0; i < pixels; ++i, p += bpx) {
                if (bpx == 4) {  // X, B, G, R -> B, G, R, X
                    const uint8_t x = p[0];
                    p[0] = p[1];
                    p[1] = p[2];
                    p[2] = p[3];
                    p[3] = x;
                }
                if (h.Type == 3) std::swap(p[0], p[2]);
            }
        }
        FClose(fh);
    });
}

// One row in the byte encoding: runs of 2..256 equal bytes as 128, count - 1, byte; a single
// 128 as 128, 0; other bytes as themselves. Returns the packed length (at most 2 n).
static int64_t RASPack_(const uint8_t* s, int64_t n, uint8_t* d)
{
    TRACE("FF_RAS.RASPack_");
    int64_t i = 0, o = 0;
    while (i < n) {
        int run = 1;
        while (i + run < n && run < 256 && s[i + run] == s[i]) ++run;
        if (run >= 2) {
            d[o++] = 128;
            d[o++] = uint8_t(run - 1);
            d[o++] = s[i];
        } else if (s[i] == 128) {
            d[o++] = 128;
            d[o++] = 0;
        } else {
            d[o++] = s[i];
        }
        i += run;
    }
    return o;
}

void RASSave(const std::string& name, Image& img)
{
    TRACE("FF_RAS.RASSave");
    MonBlock([&] {
        FFInfo ffi;
        FFInit(FMT_RAS, ffi, img, 1);
        const Image& src = *ffi.img;
        const int w = src.Width, h = src.Height, bpx = src.BytesPerPixel;
        bool hasMap = false;
        if (bpx == 1)
            for (int i = 0; i < 256 && !hasMap; ++i) hasMap = src.Pal[i][0] || src.Pal[i][1] || src.Pal[i][2];

        uint8_t hdr[32];
        const uint32_t fields[8] = {RAS_MAGIC, uint32_t(w), uint32_t(h), uint32_t(src.Bpp), uint32_t(w * h * bpx), 2,
                                    hasMap ? 1u : 0u, hasMap ? 768u : 0u};
        for (int i = 0; i < 8; ++i) RASPut32_(hdr + 4 * i, fields[i]);

        const int64_t rowBytes = int64_t(w) * bpx;
        uint8_t* row = nullptr;
        uint8_t* packed = nullptr;
        MemAllocT(&row, rowBytes, __LINE__, "FF_RAS.RASSave.row");
        MemAllocT(&packed, 2 * rowBytes, __LINE__, "FF_RAS.RASSave.packed");

        FDelete(name);
        int fh = Undef;
        FOpen(fh, name, FM_CREATE);
        FWrite(fh, hdr, sizeof hdr);
        if (hasMap) {
            uint8_t map[768];
            for (int i = 0; i < 256; ++i) {
                map[i] = src.Pal[i][2];
                map[256 + i] = src.Pal[i][1];
                map[512 + i] = src.Pal[i][0];
            }
            FWrite(fh, map, sizeof map);
        }
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = src.Data + y * rowBytes;
            if (bpx == 4) {  // B, G, R, X -> X, B, G, R
                for (int x = 0; x < w; ++x) {
                    row[4 * x] = s[4 * x + 3];
                    row[4 * x + 1] = s[4 * x];
                    row[4 * x + 2] = s[4 * x + 1];
                    row[4 * x + 3] = s[4 * x + 2];
                }
            } else {
                std::memcpy(row, s, size_t(rowBytes));
            }
            FWrite(fh, packed, RASPack_(row, rowBytes, packed));
        }
        FClose(fh);
        MemFreeT(&packed);
        MemFreeT(&row);
        FFDone(ffi);
    });
}
