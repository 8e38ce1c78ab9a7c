// BMP/DIB, TGA and PCX readers and writers.
//
// Readers treat the file as hostile: every size from a header is checked against the file
// and the pixel-block limit before anything is allocated, decoders work on raw pointers
// with explicit input and output ends. Rows are moved in whole-row (or larger) reads and
// writes, never per pixel.
#include "formats/ConForm.h"

#include <algorithm>
#include <cstring>

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/Mon.h"
#include "formats/FFDispatch.h"
#include "formats/FFFile.h"

namespace {

// The readers' and writers' working record.
struct ImgFile {
    int Handle = Undef;
    int32_t Width = 0, Height = 0;
    int32_t BytesPerPixel = 0;   // of the file's pixels
    int32_t FileBpp = 0;         // bits per pixel as stored in the file
    int32_t Bpp = 0;             // as the Image record carries it (16 in the file becomes 15)
    int64_t FileSize = 0;
    int64_t PalOffset = 0, PalSize = 0;
    int64_t DataOffset = 0;
    uint8_t* CmpsData = nullptr;
    int64_t CmpsSize = 0;
    int32_t PalEntrySize = 0, PalFirst = 0;
    int64_t LineBytes = 0, ImageBytes = 0;
    bool Compressed = false, Supported = false, BottomFirst = false, CoreHeader = false;
};

constexpr int64_t kChunkBytes_ = 1 << 20;   // staging size for padded row transfers

constexpr int BMP_FILE_HEADER = 14;
constexpr int BMP_CORE_HEADER = 12;   // the OS/2 information header
constexpr int BMP_INFO_READ = 40;     // the part of a longer information header that is read
enum { BMP_RGB = 0, BMP_RLE8 = 1, BMP_BITFIELDS = 3 };
constexpr int BMP_MASKS = 12;  // red, green and blue masks after a 40-byte information header

constexpr int TGA_HEADER = 18;
enum { TGA_MAPPED = 1, TGA_TRUE_COLOUR = 2, TGA_RLE_MAPPED = 9, TGA_RLE_TRUE_COLOUR = 10 };
constexpr int TGA_TOP_FIRST = 0x20;   // descriptor bit: rows stored top first
constexpr int TGA_RUN = 0x80;         // packet header bit: one pixel repeated

constexpr int PCX_HEADER = 128;
constexpr int PCX_MANUFACTURER = 10;
constexpr int PCX_RLE = 1;
constexpr int PCX_PLANES_OFFSET = 65;
constexpr int PCX_PALETTE = 768;
constexpr int PCX_MAX_RUN = 63;
constexpr int PCX_RUN = 192;          // bytes from here on are run counts (low six bits)

} // namespace

// Refuses a declared geometry before anything is allocated: non-positive sides are a
// broken header, more than the pixel-block limit is more than we support.
static void CheckGeometry_(int64_t width, int64_t height, int bpp)
{
    TRACE("ConForm.CheckGeometry_");
    if (width <= 0 || height <= 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    if (!ImgSizeOK(width, height, bpp)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
}

static void AllocImage_(Image& img, const ImgFile& imgf, const char* name, int line)
{
    TRACE("ConForm.AllocImage_");
    ImgAllocNamed(img, imgf.Width, imgf.Height, name, line, imgf.Bpp);
    std::memset(img.Pal, 0, sizeof(img.Pal));
}

// Opens the file and takes its header through the format's read step.
template <class Hdr> static Hdr OpenHeader_(const std::string& name, ImgFile& imgf, void (*read)(ImgFile&, Hdr&))
{
    TRACE("ConForm.OpenHeader_");
    FFOpenRead(imgf.Handle, name);
    imgf.FileSize = FSize(imgf.Handle);
    Hdr h;
    read(imgf, h);
    return h;
}

// Reads the header block at the start of the file through the file layer, whose short read
// is the file error.
static void ReadHeader_(ImgFile& imgf, uint8_t* buffer, int64_t count)
{
    TRACE("ConForm.ReadHeader_");
    FSeek(imgf.Handle, 0);
    FRead(imgf.Handle, buffer, count);
}

// Row reader: height rows of LineBytes, each followed by pad bytes in the file (the last
// row's padding may be missing). Bottom-first files fill the buffer from its last row up.
static void Dsk2Mem_(ImgFile& imgf, uint8_t* dst, int64_t pad)
{
    TRACE("ConForm.Dsk2Mem_");
    MonBlock([&] {
        const int64_t line = imgf.LineBytes, h = imgf.Height, stride = line + pad;
        if (imgf.DataOffset < 0 || imgf.DataOffset > imgf.FileSize ||
            imgf.FileSize - imgf.DataOffset < (h - 1) * stride + line)
            MonError(EC_FILE, FE_READ, __LINE__);
        FSeek(imgf.Handle, imgf.DataOffset);
        if (pad == 0 && !imgf.BottomFirst) {
            FRead(imgf.Handle, dst, line * h);
            return;
        }
        int64_t perChunk = std::max<int64_t>(1, kChunkBytes_ / stride);
        uint8_t* stage = nullptr;
        MemAllocT(&stage, perChunk * stride, __LINE__, "ConForm.Dsk2Mem_.stage");
        for (int64_t r = 0; r < h; r += perChunk) {
            int64_t n = std::min(perChunk, h - r);
            FRead(imgf.Handle, stage, r + n < h ? n * stride : (n - 1) * stride + line);
            for (int64_t i = 0; i < n; ++i) {
                int64_t row = imgf.BottomFirst ? h - 1 - (r + i) : r + i;
                std::memcpy(dst + row * line, stage + i * stride, static_cast<size_t>(line));
            }
        }
        MemFreeT(&stage);
    });
}

// Row writer: the image rows from the last to the first, each followed by pad zero bytes.
static void Mem2Dsk_(ImgFile& imgf, const Image& img, int64_t pad)
{
    TRACE("ConForm.Mem2Dsk_");
    MonBlock([&] {
        const int64_t line = static_cast<int64_t>(img.Width) * img.BytesPerPixel, h = img.Height;
        const int64_t stride = line + pad;
        int64_t perChunk = std::max<int64_t>(1, kChunkBytes_ / stride);
        uint8_t* stage = nullptr;
        MemAllocT(&stage, perChunk * stride, __LINE__, "ConForm.Mem2Dsk_.stage");
        for (int64_t r = h - 1; r >= 0;) {
            int64_t n = std::min(perChunk, r + 1);
            uint8_t* o = stage;
            for (int64_t i = 0; i < n; ++i, --r) {
                std::memcpy(o, img.Data + r * line, static_cast<size_t>(line));
                std::memset(o + line, 0, static_cast<size_t>(pad));
                o += stride;
            }
            FWrite(imgf.Handle, stage, n * stride);
        }
        MemFreeT(&stage);
    });
}

// Reads everything from the data offset to the end of the file into CmpsData. Run-length
// data never needs more than twice the pixel bytes plus per-row codes, so the read is
// capped there: a huge file cannot make us allocate more than the image could use.
static void GetCmpsData_(ImgFile& imgf)
{
    TRACE("ConForm.GetCmpsData_");
    if (imgf.DataOffset < 0 || imgf.DataOffset > imgf.FileSize) MonError(EC_FILE, FE_READ, __LINE__);
    int64_t cap = 2 * imgf.ImageBytes + 4 * static_cast<int64_t>(imgf.Height) + 4096;
    imgf.CmpsSize = std::min(imgf.FileSize - imgf.DataOffset, cap);
    if (imgf.CmpsSize <= 0) return;
    MemAllocT(&imgf.CmpsData, imgf.CmpsSize, __LINE__, "ConForm.GetCmpsData_.CmpsData");
    FSeek(imgf.Handle, imgf.DataOffset);
    FRead(imgf.Handle, imgf.CmpsData, imgf.CmpsSize);
}

// Swaps rows top to bottom in place.
static void FlipRows_(uint8_t* data, int64_t line, int64_t height)
{
    TRACE("ConForm.FlipRows_");
    uint8_t tmp[4096];
    for (int64_t a = 0, b = height - 1; a < b; ++a, --b) {
        uint8_t *ra = data + a * line, *rb = data + b * line;
        for (int64_t done = 0; done < line; done += static_cast<int64_t>(sizeof(tmp))) {
            size_t k = static_cast<size_t>(std::min<int64_t>(sizeof(tmp), line - done));
            std::memcpy(tmp, ra + done, k);
            std::memcpy(ra + done, rb + done, k);
            std::memcpy(rb + done, tmp, k);
        }
    }
}

// ---------------------------------------------------------------- BMP

// The BMP file header and the fields of the information header that are used.
struct BMPHdr_ {
    uint8_t Magic[2] = {};
    uint32_t DataOffset = 0;
    uint32_t HeaderSize = 0;   // of the information header; 12 for the core header
    int64_t Width = 0, Height = 0;
    uint32_t BitCount = 0;
    uint32_t Compression = BMP_RGB;
    bool Masks565 = false;     // a 16-bit file whose masks say 5-6-5
};

// The masks follow a 40-byte information header and sit at the same place in the longer ones.
// Files with masks other than 5-6-5 are read as 5-5-5, as plain 16-bit files are.
static bool DIBMasks565_(ImgFile& imgf)
{
    uint8_t hdr[BMP_FILE_HEADER + BMP_INFO_READ + BMP_MASKS] = {};
    ReadHeader_(imgf, hdr, sizeof hdr);
    ByteCursor c = BytesCursor(hdr, sizeof hdr);
    BytesSeek(c, BMP_FILE_HEADER + BMP_INFO_READ);
    const uint32_t red = BytesReadLE32(c), green = BytesReadLE32(c), blue = BytesReadLE32(c);
    return red == 0xF800 && green == 0x07E0 && blue == 0x001F;
}

// Reads the file header and the information header, as much of it as is used.
static void DIBReadHeader_(ImgFile& imgf, BMPHdr_& h)
{
    TRACE("ConForm.DIBReadHeader_");
    uint8_t hdr[BMP_FILE_HEADER + BMP_INFO_READ] = {};
    ReadHeader_(imgf, hdr, BMP_FILE_HEADER + 4);
    ByteCursor c = BytesCursor(hdr, sizeof hdr);
    BytesRead(c, h.Magic, 2);
    if (h.Magic[0] != 'B' || h.Magic[1] != 'M') MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    BytesSeek(c, 10);
    h.DataOffset = BytesReadLE32(c);
    h.HeaderSize = BytesReadLE32(c);
    if (h.HeaderSize == BMP_CORE_HEADER) {
        ReadHeader_(imgf, hdr, BMP_FILE_HEADER + BMP_CORE_HEADER);
        h.Width = BytesReadLE16(c);
        h.Height = BytesReadLE16(c);
        BytesSkip(c, 2);  // planes
        h.BitCount = BytesReadLE16(c);
        return;
    }
    // Anything shorter than the smallest information header cannot be a BMP.
    if (h.HeaderSize < 16 || h.HeaderSize > 0x10000) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    ReadHeader_(imgf, hdr, std::min<int64_t>(BMP_FILE_HEADER + BMP_INFO_READ, BMP_FILE_HEADER + int64_t(h.HeaderSize)));
    h.Width = static_cast<int32_t>(BytesReadLE32(c));
    h.Height = static_cast<int32_t>(BytesReadLE32(c));
    BytesSkip(c, 2);  // planes
    h.BitCount = BytesReadLE16(c);
    if (h.HeaderSize >= 20) h.Compression = BytesReadLE32(c);
    // Masks follow a 40-byte header and are part of the longer ones; other sizes hold none there.
    const bool masksAt54 = h.HeaderSize == BMP_INFO_READ || h.HeaderSize >= BMP_INFO_READ + BMP_MASKS;
    if (h.BitCount == 16 && h.Compression == BMP_BITFIELDS && masksAt54) h.Masks565 = DIBMasks565_(imgf);
}

// Checks the header and lays out the file: geometry, palette and pixel data.
static void DIBCheck_(const BMPHdr_& h, ImgFile& imgf)
{
    TRACE("ConForm.DIBCheck_");
    const uint32_t bits = h.BitCount;
    imgf.CoreHeader = h.HeaderSize == BMP_CORE_HEADER;
    imgf.Compressed = bits >= 2 && bits <= 8 && h.Compression == BMP_RLE8;
    imgf.Supported = bits == 1 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (!imgf.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    // Top-down files (negative height) are not read.
    if (h.Height < 0) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    imgf.BottomFirst = true;
    imgf.Width = static_cast<int32_t>(h.Width);
    imgf.Height = static_cast<int32_t>(h.Height);
    imgf.Bpp = bits <= 8 ? 8 : bits == 16 ? (h.Masks565 ? 16 : 15) : static_cast<int32_t>(bits);
    CheckGeometry_(h.Width, h.Height, imgf.Bpp);
    imgf.BytesPerPixel = static_cast<int32_t>((bits + 7) / 8);
    imgf.FileBpp = static_cast<int32_t>(bits);
    imgf.LineBytes = bits == 1 ? (h.Width + 7) / 8 : h.Width * imgf.BytesPerPixel;
    imgf.ImageBytes = imgf.LineBytes * h.Height;
    imgf.PalOffset = BMP_FILE_HEADER + static_cast<int64_t>(h.HeaderSize);
    imgf.PalEntrySize = imgf.CoreHeader ? 3 : 4;
    imgf.PalSize = std::clamp<int64_t>(static_cast<int64_t>(h.DataOffset) - imgf.PalOffset, 0,
                                       imgf.CoreHeader ? 768 : 1024);
    imgf.DataOffset = h.DataOffset;
}

// RLE8: a stream of (count, value) pairs and escapes; row 0 is the file's bottom row, so
// rows are placed from the end of the buffer up (the flip costs nothing extra).
static void DIBunRLE8_(ImgFile& imgf, Image& img)
{
    TRACE("ConForm.DIBunRLE8_");
    const uint8_t* p = imgf.CmpsData;
    const uint8_t* const end = p + imgf.CmpsSize;
    const int64_t w = img.Width, h = img.Height;
    int64_t x = 0, y = 0;
    uint8_t* row = nullptr;
    // Moves to the start of the next row when the column has run past the width; false
    // once the position is below the last row.
    auto wrap = [&]() -> bool {
        if (x >= w) {
            x = 0;
            ++y;
        }
        if (y >= h) return false;
        row = img.Data + (h - 1 - y) * w;
        return true;
    };
    while (end - p >= 2 && y < h) {
        uint8_t n = p[0], v = p[1];
        p += 2;
        if (n > 0) {
            while (n > 0) {
                if (!wrap()) return;
                int64_t k = std::min<int64_t>(n, w - x);
                std::memset(row + x, v, static_cast<size_t>(k));
                x += k;
                n = static_cast<uint8_t>(n - k);
            }
        } else if (v == 0) {
            x = 0;
            ++y;
        } else if (v == 1) {
            return;
        } else if (v == 2) {
            if (end - p < 2) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
            x += p[0];
            y += p[1];
            p += 2;
        } else {
            int64_t c = v, padded = c + (c & 1);
            if (end - p < c) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
            const uint8_t* src = p;
            p += std::min<int64_t>(padded, end - p);
            while (c > 0) {
                if (!wrap()) return;
                int64_t k = std::min(c, w - x);
                std::memcpy(row + x, src, static_cast<size_t>(k));
                src += k;
                x += k;
                c -= k;
            }
        }
    }
}

static void DIBLoad_(const std::string& name, Image& img)
{
    TRACE("ConForm.DIBLoad_");
    MonBlock([&] {
        ImgFile imgf;
        DIBCheck_(OpenHeader_<BMPHdr_>(name, imgf, DIBReadHeader_), imgf);
        // Pixel data must be in the file before we allocate for them.
        int64_t pad = (4 - imgf.LineBytes % 4) % 4;
        if (!imgf.Compressed &&
            (imgf.DataOffset > imgf.FileSize ||
             imgf.FileSize - imgf.DataOffset < (imgf.Height - 1) * (imgf.LineBytes + pad) + imgf.LineBytes))
            MonError(EC_FILE, FE_READ, __LINE__);
        AllocImage_(img, imgf, "ConForm.DIBLoad_.img", __LINE__);
        if (imgf.Bpp == 8 && imgf.PalSize > 0) {
            uint8_t pal[1024];
            FSeek(imgf.Handle, imgf.PalOffset);
            FRead(imgf.Handle, pal, imgf.PalSize);
            int64_t count = std::min<int64_t>(256, imgf.PalSize / imgf.PalEntrySize);
            for (int64_t i = 0; i < count; ++i) std::memcpy(img.Pal[i], pal + i * imgf.PalEntrySize, 3);
        }
        if (imgf.Compressed) {
            FillMem(0, img.Size, img.Data);
            GetCmpsData_(imgf);
            DIBunRLE8_(imgf, img);
            MemFreeT(&imgf.CmpsData);
        } else if (imgf.FileBpp == 1) {
            // 1 bit per pixel: most significant bit first, one byte per pixel in memory.
            uint8_t* bits = nullptr;
            MemAllocT(&bits, imgf.ImageBytes, __LINE__, "ConForm.DIBLoad_.bits");
            Dsk2Mem_(imgf, bits, pad);
            const int64_t w = img.Width;
            for (int64_t y = 0; y < img.Height; ++y) {
                const uint8_t* s = bits + y * imgf.LineBytes;
                uint8_t* d = img.Data + y * w;
                for (int64_t x = 0; x < w; ++x) d[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
            }
            MemFreeT(&bits);
        } else {
            Dsk2Mem_(imgf, img.Data, pad);
        }
        FClose(imgf.Handle);
    });
}

static void DIBSave_(const std::string& name, Image& img)
{
    TRACE("ConForm.DIBSave_");
    MonBlock([&] {
        ImgFile imgf;
        const int64_t bpp = img.BytesPerPixel;
        const int64_t rowBytes = static_cast<int64_t>(img.Width) * bpp;
        const int64_t pad = (4 - rowBytes % 4) % 4;
        const int64_t palBytes = bpp == 1 ? 1024 : 0;
        const int64_t imageSize = (rowBytes + pad) * img.Height;
        uint8_t hdr[54 + 1024] = {};
        hdr[0] = 'B';
        hdr[1] = 'M';
        BytesPutLE32(hdr + 2, static_cast<uint32_t>(54 + palBytes + imageSize));
        BytesPutLE32(hdr + 10, static_cast<uint32_t>(54 + palBytes));
        BytesPutLE32(hdr + 14, 40);
        BytesPutLE32(hdr + 18, static_cast<uint32_t>(img.Width));
        BytesPutLE32(hdr + 22, static_cast<uint32_t>(img.Height));
        BytesPutLE16(hdr + 26, 1);
        BytesPutLE16(hdr + 28, static_cast<uint32_t>(bpp * 8));
        BytesPutLE32(hdr + 34, static_cast<uint32_t>(imageSize));
        if (bpp == 1) {
            BytesPutLE32(hdr + 46, 256);
            BytesPutLE32(hdr + 50, 256);
            for (int i = 0; i < 256; ++i) std::memcpy(hdr + 54 + i * 4, img.Pal[i], 3);
        }
        FDelete(name);
        FOpen(imgf.Handle, name, FM_CREATE);
        FWrite(imgf.Handle, hdr, 54 + palBytes);
        Mem2Dsk_(imgf, img, pad);
        FClose(imgf.Handle);
    });
}

// ---------------------------------------------------------------- TGA

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
    TRACE("ConForm.TGAReadHeader_");
    uint8_t hdr[TGA_HEADER];
    ReadHeader_(imgf, hdr, TGA_HEADER);
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
    TRACE("ConForm.TGACheck_");
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
    CheckGeometry_(imgf.Width, imgf.Height, imgf.Bpp);
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
    TRACE("ConForm.TGAReadPalette_");
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
    TRACE("ConForm.TGAunRLE_");
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

static void TGALoad_(const std::string& name, Image& img)
{
    TRACE("ConForm.TGALoad_");
    MonBlock([&] {
        ImgFile imgf;
        TGACheck_(OpenHeader_<TGAHdr_>(name, imgf, TGAReadHeader_), imgf);
        if (imgf.PalEntrySize != 0 && imgf.PalOffset + imgf.PalSize > imgf.FileSize) MonError(EC_FILE, FE_READ, __LINE__);
        if (!imgf.Compressed &&
            (imgf.DataOffset > imgf.FileSize || imgf.FileSize - imgf.DataOffset < imgf.ImageBytes))
            MonError(EC_FILE, FE_READ, __LINE__);
        AllocImage_(img, imgf, "ConForm.TGALoad_.img", __LINE__);
        if (imgf.PalEntrySize != 0) TGAReadPalette_(imgf, img);
        if (imgf.Compressed) {
            FillMem(0, img.Size, img.Data);
            GetCmpsData_(imgf);
            TGAunRLE_(imgf, img);
            MemFreeT(&imgf.CmpsData);
            if (imgf.BottomFirst) FlipRows_(img.Data, imgf.LineBytes, imgf.Height);
        } else {
            Dsk2Mem_(imgf, img.Data, 0);
        }
        FClose(imgf.Handle);
    });
}

// One row into TGA packets (never crossing the row); returns the bytes written to out,
// which must hold width * bpp + (width + 127) / 128 bytes.
static int64_t TGARLERow_(const uint8_t* px, int64_t width, int64_t bpp, uint32_t* keys, uint8_t* out)
{
    TRACE("ConForm.TGARLERow_");
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

static void TGASave_(const std::string& name, Image& img)
{
    TRACE("ConForm.TGASave_");
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
        const int64_t cap = std::max(kChunkBytes_, worst);
        uint8_t* stage = nullptr;
        uint32_t* keys = nullptr;
        MemAllocT(&stage, cap, __LINE__, "ConForm.TGASave_.stage");
        MemAllocT(&keys, w * 4, __LINE__, "ConForm.TGASave_.keys");
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

// ---------------------------------------------------------------- PCX

// The fields of the 128-byte PCX header that are used.
struct PCXHdr_ {
    uint8_t Manufacturer = 0, Version = 0, Encoding = 0, BitsPerPlane = 0;
    uint16_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;
    uint8_t Planes = 0;
    uint16_t BytesPerLine = 0;
};

static void PCXReadHeader_(ImgFile& imgf, PCXHdr_& h)
{
    TRACE("ConForm.PCXReadHeader_");
    uint8_t hdr[PCX_HEADER];
    ReadHeader_(imgf, hdr, PCX_HEADER);
    ByteCursor c = BytesCursor(hdr, sizeof hdr);
    for (uint8_t* f : {&h.Manufacturer, &h.Version, &h.Encoding, &h.BitsPerPlane}) *f = BytesReadU8(c);
    for (uint16_t* f : {&h.XMin, &h.YMin, &h.XMax, &h.YMax}) *f = BytesReadLE16(c);
    BytesSeek(c, PCX_PLANES_OFFSET);
    h.Planes = BytesReadU8(c);
    h.BytesPerLine = BytesReadLE16(c);
}

// Checks the header and lays out the file: run-length data from the header on, and for one
// plane the palette in the last 768 bytes.
static void PCXCheck_(const PCXHdr_& h, ImgFile& imgf, int64_t& planes, int64_t& lineBytes)
{
    TRACE("ConForm.PCXCheck_");
    if (h.Manufacturer != PCX_MANUFACTURER) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    planes = h.Planes;
    // Two planes have no meaning for 8-bit planes; zero planes hold nothing.
    imgf.Supported = h.BitsPerPlane == 8 && (planes == 1 || planes == 3) && h.Encoding == PCX_RLE;
    if (!imgf.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    const int64_t width = static_cast<int64_t>(h.XMax) - h.XMin + 1;
    const int64_t height = static_cast<int64_t>(h.YMax) - h.YMin + 1;
    imgf.Bpp = static_cast<int32_t>(planes * 8);
    imgf.BytesPerPixel = static_cast<int32_t>(planes);
    CheckGeometry_(width, height, imgf.Bpp);
    imgf.Width = static_cast<int32_t>(width);
    imgf.Height = static_cast<int32_t>(height);
    // Each plane of a scan line is bytes-per-line long (even, at least the width).
    lineBytes = h.BytesPerLine;
    if (lineBytes < width) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    imgf.LineBytes = width * planes;
    imgf.ImageBytes = imgf.LineBytes * height;
    imgf.DataOffset = PCX_HEADER;
    imgf.Compressed = true;
    if (planes == 1) {
        // The last 768 bytes are the palette, the byte before them its marker.
        if (imgf.FileSize < PCX_HEADER + 1 + PCX_PALETTE) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
        imgf.PalOffset = imgf.FileSize - PCX_PALETTE;
        imgf.PalSize = PCX_PALETTE;
    }
}

// Decodes scan lines of planes * lineBytes bytes as one run-length stream (runs may cross
// lines) and turns each into an image row: one plane as it is, three planes red, green
// and blue into blue-green-red pixels. Lines the data do not reach stay zero.
static void PCXunCmps_(ImgFile& imgf, Image& img, int64_t planes, int64_t lineBytes, int64_t dataEnd)
{
    TRACE("ConForm.PCXunCmps_");
    MonBlock([&] {
        const uint8_t* p = imgf.CmpsData;
        const uint8_t* const end = p + std::min(imgf.CmpsSize, std::max<int64_t>(0, dataEnd));
        const int64_t scan = planes * lineBytes, w = img.Width;
        uint8_t* line = nullptr;
        MemAllocT(&line, scan, __LINE__, "ConForm.PCXunCmps_.line");
        int64_t runLeft = 0;
        uint8_t runVal = 0;
        for (int64_t y = 0; y < img.Height; ++y) {
            int64_t o = 0;
            while (o < scan) {
                if (runLeft > 0) {
                    int64_t k = std::min(runLeft, scan - o);
                    std::memset(line + o, runVal, static_cast<size_t>(k));
                    o += k;
                    runLeft -= k;
                    continue;
                }
                // Literal stretch.
                while (o < scan && p < end && *p < PCX_RUN) line[o++] = *p++;
                if (o == scan) break;
                if (p >= end) break;
                uint8_t b = *p++;
                if (b >= PCX_RUN) {
                    if (p >= end) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
                    runLeft = b - PCX_RUN;
                    runVal = *p++;
                } else {
                    line[o++] = b;
                }
            }
            if (o == 0) break;
            std::memset(line + o, 0, static_cast<size_t>(scan - o));
            uint8_t* d = img.Data + y * imgf.LineBytes;
            if (planes == 1) {
                std::memcpy(d, line, static_cast<size_t>(w));
            } else {
                const uint8_t *r = line, *g = line + lineBytes, *bl = line + 2 * lineBytes;
                for (int64_t x = 0; x < w; ++x, d += 3) {
                    d[0] = bl[x];
                    d[1] = g[x];
                    d[2] = r[x];
                }
            }
            if (o < scan) break;
        }
        MemFreeT(&line);
    });
}

// Converts the 768-byte red-green-blue palette at the end of a one-plane file.
static void PCX24Fix_(const uint8_t* rgb, Image& img)
{
    TRACE("ConForm.PCX24Fix_");
    for (int i = 0; i < 256; ++i) {
        img.Pal[i][0] = rgb[i * 3 + 2];
        img.Pal[i][1] = rgb[i * 3 + 1];
        img.Pal[i][2] = rgb[i * 3];
    }
}

static void PCXLoad_(const std::string& name, Image& img)
{
    TRACE("ConForm.PCXLoad_");
    MonBlock([&] {
        ImgFile imgf;
        int64_t planes = 0, lineBytes = 0;
        PCXCheck_(OpenHeader_<PCXHdr_>(name, imgf, PCXReadHeader_), imgf, planes, lineBytes);
        AllocImage_(img, imgf, "ConForm.PCXLoad_.img", __LINE__);
        FillMem(0, img.Size, img.Data);
        int64_t dataEnd = imgf.FileSize - imgf.DataOffset;
        if (planes == 1) {
            uint8_t pal[768];
            FSeek(imgf.Handle, imgf.PalOffset);
            FRead(imgf.Handle, pal, 768);
            PCX24Fix_(pal, img);
            dataEnd -= 769;
        }
        // Pixel bytes can be read only when they are reached; the cap bounds the
        // allocation by what the image can use.
        imgf.ImageBytes = planes * lineBytes * imgf.Height;
        GetCmpsData_(imgf);
        PCXunCmps_(imgf, img, planes, lineBytes, dataEnd);
        MemFreeT(&imgf.CmpsData);
        FClose(imgf.Handle);
    });
}

// PCX run-length code of one scan line: runs of up to 63 equal bytes as 192 + count and
// the byte; a single byte below 192 as itself, one of 192 or more as 193 and the byte.
static int64_t PCXRLE_(const uint8_t* s, int64_t n, uint8_t* out)
{
    TRACE("ConForm.PCXRLE_");
    uint8_t* o = out;
    int64_t i = 0;
    while (i < n) {
        uint8_t v = s[i];
        const int64_t k = BytesRunLength(s, i, n, PCX_MAX_RUN);
        if (k > 1 || v >= PCX_RUN) *o++ = static_cast<uint8_t>(PCX_RUN + k);
        *o++ = v;
        i += k;
    }
    return o - out;
}

static void PCXHeader_(uint8_t* hdr, int64_t w, int64_t h, int64_t planes, int64_t lineBytes)
{
    TRACE("ConForm.PCXHeader_");
    std::memset(hdr, 0, PCX_HEADER);
    hdr[0] = PCX_MANUFACTURER;
    hdr[1] = 5;  // version
    hdr[2] = PCX_RLE;
    hdr[3] = 8;
    BytesPutLE16(hdr + 8, static_cast<uint32_t>(w - 1));
    BytesPutLE16(hdr + 10, static_cast<uint32_t>(h - 1));
    BytesPutLE16(hdr + 12, static_cast<uint32_t>(w));
    BytesPutLE16(hdr + 14, static_cast<uint32_t>(h));
    hdr[PCX_PLANES_OFFSET] = static_cast<uint8_t>(planes);
    BytesPutLE16(hdr + 66, static_cast<uint32_t>(lineBytes));
}

// PCX keeps colour rows as separate red, green and blue planes, each padded to lineBytes.
static void PCXPlaneRow_(const uint8_t* s, int64_t w, int64_t planes, int64_t lineBytes, uint8_t* line)
{
    TRACE("ConForm.PCXPlaneRow_");
    if (planes == 1) {
        std::memcpy(line, s, static_cast<size_t>(w));
        return;
    }
    uint8_t *r = line, *g = line + lineBytes, *b = line + 2 * lineBytes;
    for (int64_t x = 0; x < w; ++x, s += 3) {
        b[x] = s[0];
        g[x] = s[1];
        r[x] = s[2];
    }
}

// Encoded rows gather in stage, flushed whenever a worst-case row might not fit.
static void PCXWriteRows_(int handle, const Image& img, int64_t lineBytes, uint8_t* line, uint8_t* stage,
                          int64_t cap)
{
    TRACE("ConForm.PCXWriteRows_");
    const int64_t planes = img.BytesPerPixel, w = img.Width;
    const int64_t scan = planes * lineBytes, worst = 2 * scan;
    int64_t used = 0;
    for (int64_t y = 0; y < img.Height; ++y) {
        PCXPlaneRow_(img.Data + y * w * planes, w, planes, lineBytes, line);
        if (cap - used < worst) {
            FWrite(handle, stage, used);
            used = 0;
        }
        used += PCXRLE_(line, scan, stage + used);
    }
    FWrite(handle, stage, used);
}

static void PCXWritePalette_(int handle, const Image& img)
{
    TRACE("ConForm.PCXWritePalette_");
    uint8_t pal[769];
    pal[0] = 12;
    for (int i = 0; i < 256; ++i) {
        pal[1 + i * 3] = img.Pal[i][2];
        pal[2 + i * 3] = img.Pal[i][1];
        pal[3 + i * 3] = img.Pal[i][0];
    }
    FWrite(handle, pal, 769);
}

static void PCXSave_(const std::string& name, Image& img)
{
    TRACE("ConForm.PCXSave_");
    MonBlock([&] {
        ImgFile imgf;
        const int64_t planes = img.BytesPerPixel, w = img.Width, h = img.Height;
        if (planes != 1 && planes != 3) MonError(EC_IMAGE, IE_COMPRESS, __LINE__);
        if (w > 65535 || h > 65535) MonError(EC_IMAGE, IE_COMPRESS, __LINE__);
        const int64_t lineBytes = (w + 1) & ~int64_t(1);
        uint8_t hdr[PCX_HEADER];
        PCXHeader_(hdr, w, h, planes, lineBytes);
        FDelete(name);
        FOpen(imgf.Handle, name, FM_CREATE);
        FWrite(imgf.Handle, hdr, PCX_HEADER);
        const int64_t scan = planes * lineBytes;
        const int64_t cap = std::max(kChunkBytes_, 2 * scan);
        uint8_t *line = nullptr, *stage = nullptr;
        MemAllocT(&line, scan, __LINE__, "ConForm.PCXSave_.line");
        MemAllocT(&stage, cap, __LINE__, "ConForm.PCXSave_.stage");
        FillMem(0, scan, line);   // plane padding bytes stay zero
        PCXWriteRows_(imgf.Handle, img, lineBytes, line, stage, cap);
        if (planes == 1) PCXWritePalette_(imgf.Handle, img);
        MemFreeT(&stage);
        MemFreeT(&line);
        FClose(imgf.Handle);
    });
}

// ---------------------------------------------------------------- dispatch

void ConLoad(const std::string& name, Image& img, int32_t format)
{
    TRACE("ConForm.ConLoad");
    MonBlock([&] {
        switch (format) {
        case FMT_BMP: DIBLoad_(name, img); break;
        case FMT_TGA: TGALoad_(name, img); break;
        case FMT_PCX: PCXLoad_(name, img); break;
        default: MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__); break;
        }
    });
}

void ConSave(const std::string& name, Image& img, int32_t format)
{
    TRACE("ConForm.ConSave");
    MonBlock([&] {
        if (format != FMT_BMP && format != FMT_TGA && format != FMT_PCX)
            MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
        bool sizeOK = ImgIsValid(img) && img.Width > 0 && img.Height > 0 &&
                      img.BytesPerPixel == (img.Bpp + 7) / 8 && img.BytesPerPixel >= 1 && img.BytesPerPixel <= 4 &&
                      static_cast<int64_t>(img.Width) * img.Height * img.BytesPerPixel <= img.Size;
        if (!sizeOK) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        // These files cannot say 5-6-5 (a plain 16-bit BMP or TGA is 5-5-5), and PCX has no
        // 15-, 16- or 32-bit layout: such images go out at 24 bits, as the writer depth table says.
        Image* src = &img;
        Image conv;
        if (img.Bpp == 16 || (format == FMT_PCX && (img.Bpp == 15 || img.Bpp == 32))) {
            ImgConvBpp(img, conv, 24);
            src = &conv;
        }
        switch (format) {
        case FMT_BMP: DIBSave_(name, *src); break;
        case FMT_TGA: TGASave_(name, *src); break;
        default: PCXSave_(name, *src); break;
        }
        if (src == &conv) ImgFree(conv);
    });
}

void ConDone()
{
    TRACE("ConForm.ConDone");
}
