// Sun raster reader and writer.
#include "formats/FF_RAS.h"

#include <algorithm>
#include <cstring>

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/Mon.h"
#include "formats/FFFile.h"
#include "formats/FFPrepare.h"

namespace {

constexpr uint32_t RAS_MAGIC = 0x59A66A95u;
constexpr int RAS_HEADER_BYTES = 32;
constexpr int RAS_LENGTH_OFFSET = 16;  // the length field, patched once the data are written

// File types and colour-map types.
enum { RT_OLD = 0, RT_STANDARD = 1, RT_BYTE_ENCODED = 2, RT_RGB = 3 };
enum { RMT_NONE = 0, RMT_RGB = 1 };

// The byte encoding's escape: 128, 0 is a literal 128; 128, n, v is n + 1 copies of v.
constexpr uint8_t RAS_ESCAPE = 128;
constexpr int RAS_MAX_RUN = 256;
constexpr int RAS_MAP_BYTES = 768;

struct RASHdr_ {
    uint32_t Magic = 0, Width = 0, Height = 0, Depth = 0, Length = 0, Type = 0, MapType = 0, MapLength = 0;
};

}  // namespace

// Reads the header; only a file too short for it or without the magic is refused here.
static void RASReadHeader_(int fh, RASHdr_& h)
{
    TRACE("FF_RAS.RASReadHeader_");
    uint8_t b[RAS_HEADER_BYTES];
    int64_t got = 0;
    FReadPart(fh, b, sizeof b, got);
    if (got < int64_t(sizeof b)) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    ByteCursor c = BytesCursor(b, sizeof b);
    for (uint32_t* f : {&h.Magic, &h.Width, &h.Height, &h.Depth, &h.Length, &h.Type, &h.MapType, &h.MapLength})
        *f = BytesReadBE32(c);
    if (h.Magic != RAS_MAGIC) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
}

// Every limit before anything is allocated: the kind of file, the geometry, and that the
// colour map and the pixel data can be in a file of this size. The length field is not
// used: writers disagree on what it holds for byte-encoded files.
static void RASCheck_(const RASHdr_& h, int64_t fileSize)
{
    TRACE("FF_RAS.RASCheck_");
    if (h.Type > RT_RGB || (h.Depth != 8 && h.Depth != 24 && h.Depth != 32))
        MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    if (h.Width == 0 || h.Height == 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    if (!ImgSizeOK(h.Width, h.Height, int(h.Depth))) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    const int64_t dataBytes = fileSize - RAS_HEADER_BYTES - int64_t(h.MapLength);
    if (dataBytes < 0) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
    const int64_t rowBytes = int64_t(h.Width) * (h.Depth / 8);
    const int64_t stride = (rowBytes + 1) & ~int64_t(1);
    // Unencoded rows must all be in the file (the last one may lack its pad byte).
    if (h.Type != RT_BYTE_ENCODED && dataBytes < stride * (int64_t(h.Height) - 1) + rowBytes)
        MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
    // Three encoded bytes give at most 256 pixel bytes: a picture the data cannot nearly fill is damaged.
    if (h.Type == RT_BYTE_ENCODED && rowBytes * h.Height > dataBytes * 86 + 256)
        MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
}

// Three planes: red, then green, then blue, each a third of the map.
static void RASReadColourMap_(int fh, const RASHdr_& h, Image& img)
{
    TRACE("FF_RAS.RASReadColourMap_");
    std::memset(img.Pal, 0, sizeof img.Pal);
    if (h.MapType != RMT_RGB || h.MapLength == 0) return;
    uint8_t* map = nullptr;
    MemAllocT(&map, h.MapLength, __LINE__, "FF_RAS.RASLoad.map");
    FRead(fh, map, h.MapLength);
    const uint32_t plane = h.MapLength / 3, n = std::min<uint32_t>(plane, 256);
    for (uint32_t i = 0; i < n; ++i) {
        img.Pal[i][2] = map[i];
        img.Pal[i][1] = map[plane + i];
        img.Pal[i][0] = map[2 * plane + i];
    }
    MemFreeT(&map);
}

// The byte encoding. Returns false on an escape cut off by the end of the data.
static bool RASUnpack_(const uint8_t* s, int64_t n, uint8_t* d, int64_t size)
{
    TRACE("FF_RAS.RASUnpack_");
    int64_t i = 0, o = 0;
    while (i < n && o < size) {
        const uint8_t b = s[i++];
        if (b != RAS_ESCAPE) {
            d[o++] = b;
            continue;
        }
        if (i >= n) return false;
        const int count = s[i++];
        if (count == 0) {
            d[o++] = RAS_ESCAPE;
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

// The rest of the file as one encoded stream, rows running into each other.
static void RASDecodeStream_(int fh, int64_t dataBytes, Image& img)
{
    TRACE("FF_RAS.RASDecodeStream_");
    // Every output byte costs at most two input bytes.
    const int64_t n = std::min(dataBytes, 2 * int64_t(img.Size) + 3);
    uint8_t* packed = nullptr;
    MemAllocT(&packed, std::max<int64_t>(n, 1), __LINE__, "FF_RAS.RASLoad.packed");
    FRead(fh, packed, n);
    std::memset(img.Data, 0, size_t(img.Size));
    if (!RASUnpack_(packed, n, img.Data, img.Size)) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
    MemFreeT(&packed);
}

// Unencoded rows, each stored at an even stride.
static void RASReadRows_(int fh, Image& img)
{
    TRACE("FF_RAS.RASReadRows_");
    const int64_t rowBytes = int64_t(img.Width) * img.BytesPerPixel;
    const int64_t stride = (rowBytes + 1) & ~int64_t(1);
    uint8_t* row = nullptr;
    MemAllocT(&row, stride, __LINE__, "FF_RAS.RASLoad.row");
    for (int y = 0; y < img.Height; ++y) {
        FRead(fh, row, y < img.Height - 1 ? stride : rowBytes);
        std::memcpy(img.Data + y * rowBytes, row, size_t(rowBytes));
    }
    MemFreeT(&row);
}

// File X, B, G, R becomes B, G, R, X; the RGB type then has red and blue exchanged.
static void RASOrderPixels_(Image& img, uint32_t type)
{
    TRACE("FF_RAS.RASOrderPixels_");
    const int bpx = img.BytesPerPixel;
    if (bpx < 3) return;
    const int64_t pixels = int64_t(img.Width) * img.Height;
    uint8_t* p = img.Data;
    for (int64_t i = 0; i < pixels; ++i, p += bpx) {
        if (bpx == 4) {
            const uint8_t x = p[0];
            p[0] = p[1];
            p[1] = p[2];
            p[2] = p[3];
            p[3] = x;
        }
        if (type == RT_RGB) std::swap(p[0], p[2]);
    }
}

void RASLoad(const std::string& name, Image& img)
{
    TRACE("FF_RAS.RASLoad");
    MonBlock([&] {
        int fh = Undef;
        RASHdr_ h;
        FFOpenRead(fh, name);
        RASReadHeader_(fh, h);
        const int64_t fsize = FSize(fh);
        RASCheck_(h, fsize);
        ImgAllocNamed(img, int(h.Width), int(h.Height), "FF_RAS.RASLoad.image", __LINE__, int(h.Depth));
        RASReadColourMap_(fh, h, img);
        const int64_t dataPos = RAS_HEADER_BYTES + int64_t(h.MapLength);
        FSeek(fh, dataPos);
        if (h.Type == RT_BYTE_ENCODED) RASDecodeStream_(fh, fsize - dataPos, img);
        else RASReadRows_(fh, img);
        RASOrderPixels_(img, h.Type);
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
        const int run = int(BytesRunLength(s, i, n, RAS_MAX_RUN));
        if (run >= 2) {
            d[o++] = RAS_ESCAPE;
            d[o++] = uint8_t(run - 1);
            d[o++] = s[i];
        } else if (s[i] == RAS_ESCAPE) {
            d[o++] = RAS_ESCAPE;
            d[o++] = 0;
        } else {
            d[o++] = s[i];
        }
        i += run;
    }
    return o;
}

// B, G, R, X -> X, B, G, R; other depths as they are.
static void RASFileRow_(const uint8_t* s, int w, int bpx, uint8_t* row)
{
    if (bpx != 4) {
        std::memcpy(row, s, size_t(w) * bpx);
        return;
    }
    for (int x = 0; x < w; ++x) {
        row[4 * x] = s[4 * x + 3];
        row[4 * x + 1] = s[4 * x];
        row[4 * x + 2] = s[4 * x + 1];
        row[4 * x + 3] = s[4 * x + 2];
    }
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

        // The length field is patched with the encoded length below: other readers take it
        // as the size of the data that follow, not as the size of the pixels.
        uint8_t hdr[RAS_HEADER_BYTES];
        const uint32_t fields[8] = {RAS_MAGIC, uint32_t(w), uint32_t(h), uint32_t(src.Bpp), 0, RT_BYTE_ENCODED,
                                    hasMap ? uint32_t(RMT_RGB) : uint32_t(RMT_NONE),
                                    hasMap ? uint32_t(RAS_MAP_BYTES) : 0u};
        for (int i = 0; i < 8; ++i) BytesPutBE32(hdr + 4 * i, fields[i]);

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
            uint8_t map[RAS_MAP_BYTES];
            for (int i = 0; i < 256; ++i) {
                map[i] = src.Pal[i][2];
                map[256 + i] = src.Pal[i][1];
                map[512 + i] = src.Pal[i][0];
            }
            FWrite(fh, map, sizeof map);
        }
        uint64_t encoded = 0;
        for (int y = 0; y < h; ++y) {
            RASFileRow_(src.Data + y * rowBytes, w, bpx, row);
            const int64_t n = RASPack_(row, rowBytes, packed);
            FWrite(fh, packed, n);
            encoded += uint64_t(n);
        }
        uint8_t length[4];
        BytesPutBE32(length, uint32_t(encoded));
        FSeek(fh, RAS_LENGTH_OFFSET);
        FWrite(fh, length, sizeof length);
        FClose(fh);
        MemFreeT(&packed);
        MemFreeT(&row);
        FFDone(ffi);
    });
}
