// Truevision Targa reading and writing.
#include "formats/FF_TGA.h"

#include <algorithm>
#include <cstring>

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/Mon.h"
#include "formats/ConFile.h"

namespace {

constexpr int TGA_HEADER = 18;
enum { TGA_MAPPED = 1, TGA_TRUE_COLOUR = 2, TGA_RLE_MAPPED = 9, TGA_RLE_TRUE_COLOUR = 10 };
constexpr int TGA_TOP_FIRST = 0x20;   // descriptor bit: rows stored top first
constexpr int TGA_RUN = 0x80;         // packet header bit: one pixel repeated

} // namespace

// The 18-byte TGA header.
struct TGAHdr_ {
    uint8_t IdLength = 0, MapType = 0, Type = 0;
    uint16_t MapFirst = 0, MapLength = 0;
    uint8_t MapEntryBits = 0;
    uint16_t Width = 0, Height = 0;
    uint8_t Depth = 0, Descriptor = 0;
};

static void TGAReadHeader_(ImgFile& imgf, TGAHdr_& h)
{
    TRACE("FF_TGA.TGAReadHeader_");
    uint8_t hdr[TGA_HEADER];
    ConReadHeader(imgf, hdr, TGA_HEADER);
    ByteCursor c = BytesCursor(hdr, sizeof hdr);
    for (uint8_t* f : {&h.IdLength, &h.MapType, &h.Type}) *f = BytesReadU8(c);
    for (uint16_t* f : {&h.MapFirst, &h.MapLength}) *f = BytesReadLE16(c);
    h.MapEntryBits = BytesReadU8(c);
    BytesSkip(c, 4);  // origin
    h.Width = BytesReadLE16(c);
    h.Height = BytesReadLE16(c);
    h.Depth = BytesReadU8(c);
    h.Descriptor = BytesReadU8(c);
}

// Checks the header and lays out the file: colour map, then pixel data.
static void TGACheck_(const TGAHdr_& h, ImgFile& imgf)
{
    TRACE("FF_TGA.TGACheck_");
    if (h.Type != TGA_MAPPED && h.Type != TGA_TRUE_COLOUR && h.Type != TGA_RLE_MAPPED && h.Type != TGA_RLE_TRUE_COLOUR)
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    imgf.Compressed = h.Type >= TGA_RLE_MAPPED;
    imgf.BytesPerPixel = (h.Depth + 7) / 8;
    imgf.Supported = imgf.BytesPerPixel >= 1 && imgf.BytesPerPixel <= 4;
    if (!imgf.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    static const int32_t kBpp[5] = {0, 8, 15, 24, 32};
    imgf.Bpp = kBpp[imgf.BytesPerPixel];
    imgf.Width = h.Width;
    imgf.Height = h.Height;
    ConCheckGeometry(imgf.Width, imgf.Height, imgf.Bpp);
    imgf.LineBytes = static_cast<int64_t>(imgf.Width) * imgf.BytesPerPixel;
    imgf.ImageBytes = imgf.LineBytes * imgf.Height;
    imgf.PalFirst = h.MapFirst;
    imgf.PalEntrySize = (h.MapEntryBits + 7) / 8;
    imgf.PalOffset = TGA_HEADER + static_cast<int64_t>(h.IdLength);
    imgf.PalSize = static_cast<int64_t>(h.MapLength) * imgf.PalEntrySize;
    // An 8-bit index reaches 256 entries: a longer colour map is no file this reader made sense of.
    if ((h.Type == TGA_MAPPED || h.Type == TGA_RLE_MAPPED) && h.MapType != 0 && imgf.PalFirst + h.MapLength > 256)
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    imgf.DataOffset = h.MapType != 0 ? imgf.PalOffset + imgf.PalSize : imgf.PalOffset;
    imgf.BottomFirst = (h.Descriptor & TGA_TOP_FIRST) == 0;
}

// Reads the colour-map entries that land on palette indices 0..255.
static void TGAReadPalette_(ImgFile& imgf, Image& img)
{
    TRACE("FF_TGA.TGAReadPalette_");
    const int64_t es = imgf.PalEntrySize;
    if (es < 2 || es > 4 || imgf.PalFirst > 255) return;
    int64_t count = std::min<int64_t>(imgf.PalSize / es, 256 - imgf.PalFirst);
    if (count <= 0) return;
    uint8_t map[256 * 4];
    FSeek(imgf.Handle, imgf.PalOffset);
    FRead(imgf.Handle, map, count * es);
    for (int64_t i = 0; i < count; ++i) {
        uint8_t* d = img.Pal[imgf.PalFirst + i];
        const uint8_t* s = map + i * es;
        if (es >= 3) {
            std::memcpy(d, s, 3);
        } else {
            uint16_t v = BytesGetLE16(s);
            d[0] = static_cast<uint8_t>((v & 0x1F) << 3);
            d[1] = static_cast<uint8_t>(((v >> 5) & 0x1F) << 3);
            d[2] = static_cast<uint8_t>(((v >> 10) & 0x1F) << 3);
        }
    }
}

// Standard TGA packets over the whole image as one stream.
static void TGAunRLE_(ImgFile& imgf, Image& img)
{
    TRACE("FF_TGA.TGAunRLE_");
    const int64_t bpp = imgf.BytesPerPixel;
    const uint8_t* p = imgf.CmpsData;
    const uint8_t* const end = p + imgf.CmpsSize;
    uint8_t* o = img.Data;
    uint8_t* const oend = o + imgf.ImageBytes;
    while (p < end && o < oend) {
        uint8_t hdr = *p++;
        if (hdr & TGA_RUN) {
            int64_t n = hdr - 127;
            if (end - p < bpp) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
            n = std::min(n, (oend - o) / bpp);
            if (bpp == 1) {
                std::memset(o, *p, static_cast<size_t>(n));
            } else if (n <= 8) {
                // Short runs: fixed-size copies the compiler turns into plain moves.
                uint8_t px[4] = {};
                std::memcpy(px, p, static_cast<size_t>(bpp));
                if (oend - o >= n * bpp + 4) {
                    for (int64_t i = 0; i < n; ++i) std::memcpy(o + i * bpp, px, 4);
                } else {
                    for (int64_t i = 0; i < n; ++i) std::memcpy(o + i * bpp, px, static_cast<size_t>(bpp));
                }
            } else {
                // Doubling copies: one pixel, then the filled part onto the rest.
                const int64_t total = n * bpp;
                std::memcpy(o, p, static_cast<size_t>(bpp));
                for (int64_t done = bpp; done < total;) {
                    int64_t k = std::min(done, total - done);
                    std::memcpy(o + done, o, static_cast<size_t>(k));
                    done += k;
                }
            }
            o += n * bpp;
            p += bpp;
        } else {
            int64_t bytes = (static_cast<int64_t>(hdr) + 1) * bpp;
            if (end - p < bytes) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
            int64_t k = std::min(bytes, oend - o);
            // Short literals: one fixed 16-byte move when both buffers have room for it.
            if (k <= 16 && end - p >= 16 && oend - o >= 16) std::memcpy(o, p, 16);
            else std::memcpy(o, p, static_cast<size_t>(k));
            o += k;
            p += bytes;
        }
    }
}

void TGALoad(const std::string& name, Image& img)
{
    TRACE("FF_TGA.TGALoad");
    MonBlock([&] {
        ImgFile imgf;
        TGACheck_(ConOpenHeader<TGAHdr_>(name, imgf, TGAReadHeader_), imgf);
        if (imgf.PalEntrySize != 0 && imgf.PalOffset + imgf.PalSize > imgf.FileSize) MonError(EC_FILE, FE_READ, __LINE__);
        if (!imgf.Compressed &&
            (imgf.DataOffset > imgf.FileSize || imgf.FileSize - imgf.DataOffset < imgf.ImageBytes))
            MonError(EC_FILE, FE_READ, __LINE__);
        ConAllocImage(img, imgf, "FF_TGA.TGALoad_.img", __LINE__);
        if (imgf.PalEntrySize != 0) TGAReadPalette_(imgf, img);
        if (imgf.Compressed) {
            FillMem(0, img.Size, img.Data);
            ConGetCmpsData(imgf);
            TGAunRLE_(imgf, img);
            MemFreeT(&imgf.CmpsData);
            if (imgf.BottomFirst) ConFlipRows(img.Data, imgf.LineBytes, imgf.Height);
        } else {
            ConDsk2Mem(imgf, img.Data, 0);
        }
        FClose(imgf.Handle);
    });
}

// One row into TGA packets (never crossing the row); returns the bytes written to out,
// which must hold width * bpp + (width + 127) / 128 bytes.
static int64_t TGARLERow_(const uint8_t* px, int64_t width, int64_t bpp, uint32_t* keys, uint8_t* out)
{
    TRACE("FF_TGA.TGARLERow_");
    // Pixels as integers first, so runs are found by plain comparisons.
    switch (bpp) {
    case 1:
        for (int64_t x = 0; x < width; ++x) keys[x] = px[x];
        break;
    case 2:
        for (int64_t x = 0; x < width; ++x) keys[x] = BytesGetLE16(px + 2 * x);
        break;
    case 3:
        for (int64_t x = 0; x < width; ++x, px += 3) keys[x] = px[0] | (px[1] << 8) | (static_cast<uint32_t>(px[2]) << 16);
        px -= 3 * width;
        break;
    default:
        for (int64_t x = 0; x < width; ++x) keys[x] = BytesGetLE32(px + 4 * x);
        break;
    }
    uint8_t* o = out;
    int64_t i = 0;
    while (i < width) {
        if (i + 1 < width && keys[i] == keys[i + 1]) {
            int64_t n = 2;
            while (i + n < width && n < 128 && keys[i + n] == keys[i]) ++n;
            *o++ = static_cast<uint8_t>(128 + n - 1);
            std::memcpy(o, px + i * bpp, static_cast<size_t>(bpp));
            o += bpp;
            i += n;
        } else {
            uint8_t* head = o++;
            int64_t n = 0;
            do {
                ++n;
                ++i;
            } while (i < width && n < 128 && !(i + 1 < width && keys[i] == keys[i + 1]));
            *head = static_cast<uint8_t>(n - 1);
            std::memcpy(o, px + (i - n) * bpp, static_cast<size_t>(n * bpp));
            o += n * bpp;
        }
    }
    return o - out;
}

void TGASave(const std::string& name, Image& img)
{
    TRACE("FF_TGA.TGASave");
    MonBlock([&] {
        ImgFile imgf;
        const int64_t bpp = img.BytesPerPixel, w = img.Width, h = img.Height;
        // The header holds 16-bit sides.
        if (w > 65535 || h > 65535) MonError(EC_IMAGE, IE_COMPRESS, __LINE__);
        uint8_t hdr[18 + 768] = {};
        int64_t hdrBytes = 18;
        hdr[1] = bpp == 1 ? 1 : 0;
        hdr[2] = bpp == 1 ? TGA_RLE_MAPPED : TGA_RLE_TRUE_COLOUR;
        if (bpp == 1) {
            BytesPutLE16(hdr + 5, 256);
            hdr[7] = 24;
            std::memcpy(hdr + 18, img.Pal, 768);
            hdrBytes += 768;
        }
        BytesPutLE16(hdr + 12, static_cast<uint32_t>(w));
        BytesPutLE16(hdr + 14, static_cast<uint32_t>(h));
        hdr[16] = static_cast<uint8_t>(bpp * 8);
        FDelete(name);
        FOpen(imgf.Handle, name, FM_CREATE);
        FWrite(imgf.Handle, hdr, hdrBytes);
        const int64_t line = w * bpp, worst = line + (w + 127) / 128;
        const int64_t cap = std::max(CON_CHUNK_BYTES, worst);
        uint8_t* stage = nullptr;
        uint32_t* keys = nullptr;
        MemAllocT(&stage, cap, __LINE__, "FF_TGA.TGASave_.stage");
        MemAllocT(&keys, w * 4, __LINE__, "FF_TGA.TGASave_.keys");
        int64_t used = 0;
        for (int64_t r = h - 1; r >= 0; --r) {
            if (cap - used < worst) {
                FWrite(imgf.Handle, stage, used);
                used = 0;
            }
            used += TGARLERow_(img.Data + r * line, w, bpp, keys, stage + used);
        }
        FWrite(imgf.Handle, stage, used);
        MemFreeT(&keys);
        MemFreeT(&stage);
        FClose(imgf.Handle);
    });
}
