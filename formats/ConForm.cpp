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
#include "base/Mon.h"
#include "formats/FFDispatch.h"

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

inline uint16_t Get16_(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32_(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline void Put16_(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32_(uint8_t* p, uint32_t v)
{
    Put16_(p, v);
    Put16_(p + 2, v >> 16);
}

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
    _imgalloc_(img, imgf.Width, imgf.Height, name, line, imgf.Bpp);
    std::memset(img.Pal, 0, sizeof(img.Pal));
}

// Reads the whole header block at the start of the file; a file too short for it is not
// of this format at all.
static void ReadHeader_(ImgFile& imgf, uint8_t* buffer, int64_t count)
{
    TRACE("ConForm.ReadHeader_");
    if (imgf.FileSize < count) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
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
            MonError(EC_FILE, 3, __LINE__);
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
    if (imgf.DataOffset < 0 || imgf.DataOffset > imgf.FileSize) MonError(EC_FILE, 3, __LINE__);
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

static void DIBOpen_(const std::string& name, ImgFile& imgf)
{
    TRACE("ConForm.DIBOpen_");
    FOpen(imgf.Handle, name, FM_READ);
    imgf.FileSize = FSize(imgf.Handle);
    uint8_t hdr[18 + 36] = {};
    ReadHeader_(imgf, hdr, 18);
    if (hdr[0] != 'B' || hdr[1] != 'M') MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    uint32_t dataOffset = Get32_(hdr + 10);
    uint32_t headerSize = Get32_(hdr + 14);
    int64_t width, height;
    uint32_t bitCount, compression = 0;
    if (headerSize == 12) {
        imgf.CoreHeader = true;
        ReadHeader_(imgf, hdr, 18 + 8);
        width = Get16_(hdr + 18);
        height = Get16_(hdr + 20);
        bitCount = Get16_(hdr + 24);
    } else {
        // Anything shorter than the smallest information header cannot be a BMP.
        if (headerSize < 16 || headerSize > 0x10000) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
        ReadHeader_(imgf, hdr, std::min<int64_t>(18 + 36, 14 + static_cast<int64_t>(headerSize)));
        width = static_cast<int32_t>(Get32_(hdr + 18));
        height = static_cast<int32_t>(Get32_(hdr + 22));
        bitCount = Get16_(hdr + 28);
        if (headerSize >= 20) compression = Get32_(hdr + 30);
    }
    imgf.Compressed = bitCount >= 2 && bitCount <= 8 && compression == 1;
    imgf.Supported = bitCount == 1 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
    if (!imgf.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    // Top-down files (negative height) are not read.
    if (height < 0) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    imgf.BottomFirst = true;
    imgf.Width = static_cast<int32_t>(width);
    imgf.Height = static_cast<int32_t>(height);
    imgf.Bpp = bitCount <= 8 ? 8 : bitCount == 16 ? 15 : static_cast<int32_t>(bitCount);
    CheckGeometry_(width, height, imgf.Bpp);
    imgf.BytesPerPixel = static_cast<int32_t>((bitCount + 7) / 8);
    imgf.FileBpp = static_cast<int32_t>(bitCount);
    imgf.LineBytes = bitCount == 1 ? (width + 7) / 8 : width * imgf.BytesPerPixel;
    imgf.ImageBytes = imgf.LineBytes * height;
    imgf.PalOffset = 14 + static_cast<int64_t>(headerSize);
    imgf.PalEntrySize = imgf.CoreHeader ? 3 : 4;
    imgf.PalSize = std::clamp<int64_t>(static_cast<int64_t>(dataOffset) - imgf.PalOffset, 0,
                                       imgf.CoreHeader ? 768 : 1024);
    imgf.DataOffset = dataOffset;
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
        DIBOpen_(name, imgf);
        // Pixel data must be in the file before we allocate for them.
        int64_t pad = (4 - imgf.LineBytes % 4) % 4;
        if (!imgf.Compressed &&
            (imgf.DataOffset > imgf.FileSize ||
             imgf.FileSize - imgf.DataOffset < (imgf.Height - 1) * (imgf.LineBytes + pad) + imgf.LineBytes))
            MonError(EC_FILE, 3, __LINE__);
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
        Put32_(hdr + 2, static_cast<uint32_t>(54 + palBytes + imageSize));
        Put32_(hdr + 10, static_cast<uint32_t>(54 + palBytes));
        Put32_(hdr + 14, 40);
        Put32_(hdr + 18, static_cast<uint32_t>(img.Width));
        Put32_(hdr + 22, static_cast<uint32_t>(img.Height));
        Put16_(hdr + 26, 1);
        Put16_(hdr + 28, static_cast<uint32_t>(bpp * 8));
        Put32_(hdr + 34, static_cast<uint32_t>(imageSize));
        if (bpp == 1) {
            Put32_(hdr + 46, 256);
            Put32_(hdr + 50, 256);
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

static void TGAOpen_(const std::string& name, ImgFile& imgf, uint8_t* hdr)
{
    TRACE("ConForm.TGAOpen_");
    FOpen(imgf.Handle, name, FM_READ);
    imgf.FileSize = FSize(imgf.Handle);
    ReadHeader_(imgf, hdr, 18);
    uint8_t type = hdr[2];
    if (type != 1 && type != 2 && type != 9 && type != 10) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    imgf.Compressed = type >= 9;
    int depth = hdr[16];
    imgf.BytesPerPixel = (depth + 7) / 8;
    imgf.Supported = imgf.BytesPerPixel >= 1 && imgf.BytesPerPixel <= 4;
    if (!imgf.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    static const int32_t kBpp[5] = {0, 8, 15, 24, 32};
    imgf.Bpp = kBpp[imgf.BytesPerPixel];
    imgf.Width = Get16_(hdr + 12);
    imgf.Height = Get16_(hdr + 14);
    CheckGeometry_(imgf.Width, imgf.Height, imgf.Bpp);
    imgf.LineBytes = static_cast<int64_t>(imgf.Width) * imgf.BytesPerPixel;
    imgf.ImageBytes = imgf.LineBytes * imgf.Height;
    imgf.PalFirst = Get16_(hdr + 3);
    imgf.PalEntrySize = (hdr[7] + 7) / 8;
    imgf.PalOffset = 18 + static_cast<int64_t>(hdr[0]);
    imgf.PalSize = static_cast<int64_t>(Get16_(hdr + 5)) * imgf.PalEntrySize;
    // An 8-bit index reaches 256 entries: a longer colour map is no file this reader made sense of.
    if ((type == 1 || type == 9) && hdr[1] != 0 && imgf.PalFirst + Get16_(hdr + 5) > 256)
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    imgf.DataOffset = hdr[1] != 0 ? imgf.PalOffset + imgf.PalSize : imgf.PalOffset;
    imgf.BottomFirst = (hdr[17] & 32) == 0;
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
            uint16_t v = Get16_(s);
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
        if (hdr & 0x80) {
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
        uint8_t hdr[18];
        TGAOpen_(name, imgf, hdr);
        if (imgf.PalEntrySize != 0 && imgf.PalOffset + imgf.PalSize > imgf.FileSize) MonError(EC_FILE, 3, __LINE__);
        if (!imgf.Compressed &&
            (imgf.DataOffset > imgf.FileSize || imgf.FileSize - imgf.DataOffset < imgf.ImageBytes))
            MonError(EC_FILE, 3, __LINE__);
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
        for (int64_t x = 0; x < width; ++x) keys[x] = Get16_(px + 2 * x);
        break;
    case 3:
        for (int64_t x = 0; x < width; ++x, px += 3) keys[x] = px[0] | (px[1] << 8) | (static_cast<uint32_t>(px[2]) << 16);
        px -= 3 * width;
        break;
    default:
        for (int64_t x = 0; x < width; ++x) keys[x] = Get32_(px + 4 * x);
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
        hdr[2] = bpp == 1 ? 9 : 10;
        if (bpp == 1) {
            Put16_(hdr + 5, 256);
            hdr[7] = 24;
            std::memcpy(hdr + 18, img.Pal, 768);
            hdrBytes += 768;
        }
        Put16_(hdr + 12, static_cast<uint32_t>(w));
        Put16_(hdr + 14, static_cast<uint32_t>(h));
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

static void PCXOpen_(const std::string& name, ImgFile& imgf, int64_t& planes, int64_t& lineBytes)
{
    TRACE("ConForm.PCXOpen_");
    FOpen(imgf.Handle, name, FM_READ);
    imgf.FileSize = FSize(imgf.Handle);
    uint8_t hdr[128];
    ReadHeader_(imgf, hdr, 128);
    if (hdr[0] != 10) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    planes = hdr[65];
    // Two planes have no meaning for 8-bit planes; zero planes hold nothing.
    imgf.Supported = hdr[3] == 8 && (planes == 1 || planes == 3) && hdr[2] == 1;
    if (!imgf.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    int64_t width = static_cast<int64_t>(Get16_(hdr + 8)) - Get16_(hdr + 4) + 1;
    int64_t height = static_cast<int64_t>(Get16_(hdr + 10)) - Get16_(hdr + 6) + 1;
    imgf.Bpp = static_cast<int32_t>(planes * 8);
    imgf.BytesPerPixel = static_cast<int32_t>(planes);
    CheckGeometry_(width, height, imgf.Bpp);
    imgf.Width = static_cast<int32_t>(width);
    imgf.Height = static_cast<int32_t>(height);
    // Each plane of a scan line is bytes-per-line long (even, at least the width).
    lineBytes = Get16_(hdr + 66);
    if (lineBytes < width) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    imgf.LineBytes = width * planes;
    imgf.ImageBytes = imgf.LineBytes * height;
    imgf.DataOffset = 128;
    imgf.Compressed = true;
    if (planes == 1) {
        // The last 768 bytes are the palette, the byte before them its marker.
        if (imgf.FileSize < 128 + 769) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
        imgf.PalOffset = imgf.FileSize - 768;
        imgf.PalSize = 768;
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
                while (o < scan && p < end && *p < 192) line[o++] = *p++;
                if (o == scan) break;
                if (p >= end) break;
                uint8_t b = *p++;
                if (b >= 192) {
                    if (p >= end) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
                    runLeft = b - 192;
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
        PCXOpen_(name, imgf, planes, lineBytes);
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
        int64_t k = 1;
        while (i + k < n && k < 63 && s[i + k] == v) ++k;
        if (k > 1 || v >= 192) *o++ = static_cast<uint8_t>(192 + k);
        *o++ = v;
        i += k;
    }
    return o - out;
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
        uint8_t hdr[128] = {};
        hdr[0] = 10;
        hdr[1] = 5;
        hdr[2] = 1;
        hdr[3] = 8;
        Put16_(hdr + 8, static_cast<uint32_t>(w - 1));
        Put16_(hdr + 10, static_cast<uint32_t>(h - 1));
        Put16_(hdr + 12, static_cast<uint32_t>(w));
        Put16_(hdr + 14, static_cast<uint32_t>(h));
        hdr[65] = static_cast<uint8_t>(planes);
        Put16_(hdr + 66, static_cast<uint32_t>(lineBytes));
        FDelete(name);
        FOpen(imgf.Handle, name, FM_CREATE);
        FWrite(imgf.Handle, hdr, 128);
        const int64_t scan = planes * lineBytes, worst = 2 * scan;
        const int64_t cap = std::max(kChunkBytes_, worst);
        uint8_t *line = nullptr, *stage = nullptr;
        MemAllocT(&line, scan, __LINE__, "ConForm.PCXSave_.line");
        MemAllocT(&stage, cap, __LINE__, "ConForm.PCXSave_.stage");
        FillMem(0, scan, line);   // plane padding bytes stay zero
        int64_t used = 0;
        for (int64_t y = 0; y < h; ++y) {
            const uint8_t* s = img.Data + y * w * planes;
            if (planes == 1) {
                std::memcpy(line, s, static_cast<size_t>(w));
            } else {
                uint8_t *r = line, *g = line + lineBytes, *b = line + 2 * lineBytes;
                for (int64_t x = 0; x < w; ++x, s += 3) {
                    b[x] = s[0];
                    g[x] = s[1];
                    r[x] = s[2];
                }
            }
            if (cap - used < worst) {
                FWrite(imgf.Handle, stage, used);
                used = 0;
            }
            used += PCXRLE_(line, scan, stage + used);
        }
        FWrite(imgf.Handle, stage, used);
        if (planes == 1) {
            uint8_t pal[769];
            pal[0] = 12;
            for (int i = 0; i < 256; ++i) {
                pal[1 + i * 3] = img.Pal[i][2];
                pal[2 + i * 3] = img.Pal[i][1];
                pal[3 + i * 3] = img.Pal[i][0];
            }
            FWrite(imgf.Handle, pal, 769);
        }
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
