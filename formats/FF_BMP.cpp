// BMP/DIB reading and writing.
#include "formats/FF_BMP.h"

#include <algorithm>
#include <cstring>

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/Mon.h"
#include "formats/ConFile.h"

namespace {

constexpr int BMP_FILE_HEADER = 14;
constexpr int BMP_CORE_HEADER = 12;   // the OS/2 1.x information header
constexpr int BMP_INFO_READ = 40;     // the part of a longer information header that is read
enum { BMP_RGB = 0, BMP_RLE8 = 1, BMP_RLE4 = 2, BMP_BITFIELDS = 3 };
constexpr int BMP_MASKS = 12;  // red, green and blue masks after a 40-byte information header

// The BMP file header and the fields of the information header that are used.
struct BMPHdr_ {
    uint8_t Magic[2] = {};
    uint32_t DataOffset = 0;
    uint32_t HeaderSize = 0;   // of the information header; 12 for the core header
    int64_t Width = 0, Height = 0;
    uint32_t BitCount = 0;
    uint32_t Compression = BMP_RGB;
    uint32_t Masks[3] = {};    // red, green, blue of a bit-field file; zero when it has none
};

// How a bit-field pixel's channel is found: shifted down, then scaled to 8 bits.
struct MaskChannel_ {
    uint32_t Mask = 0;
    int Shift = 0;
    uint32_t Max = 0;
};

MaskChannel_ ChannelOf_(uint32_t mask)
{
    MaskChannel_ c;
    c.Mask = mask;
    if (mask == 0) return c;
    while (!((mask >> c.Shift) & 1)) ++c.Shift;
    c.Max = mask >> c.Shift;
    return c;
}

uint8_t Channel_(const MaskChannel_& c, uint32_t v)
{
    if (c.Max == 0) return 0;
    const uint64_t raw = (v & c.Mask) >> c.Shift;
    return static_cast<uint8_t>((raw * 255 + c.Max / 2) / c.Max);
}

} // namespace

// The masks follow a 40-byte information header and sit at the same place in the longer ones;
// OS/2 2.x headers (16 and 64 bytes) and sizes in between hold none there.
static void DIBReadMasks_(ImgFile& imgf, BMPHdr_& h)
{
    TRACE("FF_BMP.DIBReadMasks_");
    const bool masksAt54 = h.HeaderSize == BMP_INFO_READ || h.HeaderSize >= BMP_INFO_READ + BMP_MASKS;
    if (h.Compression != BMP_BITFIELDS || !masksAt54 || (h.BitCount != 16 && h.BitCount != 32)) return;
    uint8_t hdr[BMP_FILE_HEADER + BMP_INFO_READ + BMP_MASKS] = {};
    ConReadHeader(imgf, hdr, sizeof hdr);
    ByteCursor c = BytesCursor(hdr, sizeof hdr);
    BytesSeek(c, BMP_FILE_HEADER + BMP_INFO_READ);
    for (uint32_t& m : h.Masks) m = BytesReadLE32(c);
}

// Reads the file header and the information header, as much of it as is used.
static void DIBReadHeader_(ImgFile& imgf, BMPHdr_& h)
{
    TRACE("FF_BMP.DIBReadHeader_");
    uint8_t hdr[BMP_FILE_HEADER + BMP_INFO_READ] = {};
    ConReadHeader(imgf, hdr, BMP_FILE_HEADER + 4);
    ByteCursor c = BytesCursor(hdr, sizeof hdr);
    BytesRead(c, h.Magic, 2);
    if (h.Magic[0] != 'B' || h.Magic[1] != 'M') MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    BytesSeek(c, 10);
    h.DataOffset = BytesReadLE32(c);
    h.HeaderSize = BytesReadLE32(c);
    if (h.HeaderSize == BMP_CORE_HEADER) {
        ConReadHeader(imgf, hdr, BMP_FILE_HEADER + BMP_CORE_HEADER);
        h.Width = BytesReadLE16(c);
        h.Height = BytesReadLE16(c);
        BytesSkip(c, 2);  // planes
        h.BitCount = BytesReadLE16(c);
        return;
    }
    // Anything shorter than the smallest information header cannot be a BMP.
    if (h.HeaderSize < 16 || h.HeaderSize > 0x10000) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    ConReadHeader(imgf, hdr, std::min<int64_t>(BMP_FILE_HEADER + BMP_INFO_READ, BMP_FILE_HEADER + int64_t(h.HeaderSize)));
    h.Width = static_cast<int32_t>(BytesReadLE32(c));
    h.Height = static_cast<int32_t>(BytesReadLE32(c));
    BytesSkip(c, 2);  // planes
    h.BitCount = BytesReadLE16(c);
    if (h.HeaderSize >= 20) h.Compression = BytesReadLE32(c);
    DIBReadMasks_(imgf, h);
}

static bool DIBMasksAre_(const BMPHdr_& h, uint32_t r, uint32_t g, uint32_t b)
{
    return h.Masks[0] == r && h.Masks[1] == g && h.Masks[2] == b;
}

// Checks the header and lays out the file: geometry, palette and pixel data. 16-bit files
// with masks other than 5-5-5 and 5-6-5 become 24-bit images; 32-bit ones keep 32 bits with
// their channels moved to where the image record has them.
static void DIBCheck_(const BMPHdr_& h, ImgFile& imgf, bool& generic)
{
    TRACE("FF_BMP.DIBCheck_");
    const uint32_t bits = h.BitCount;
    imgf.CoreHeader = h.HeaderSize == BMP_CORE_HEADER;
    imgf.Compressed = (bits >= 2 && bits <= 8 && h.Compression == BMP_RLE8) || (bits == 4 && h.Compression == BMP_RLE4);
    imgf.Supported = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (!imgf.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    // A negative height stores the top row first.
    imgf.BottomFirst = h.Height >= 0;
    const int64_t height = h.Height < 0 ? -h.Height : h.Height;
    const bool masked = h.Masks[0] | h.Masks[1] | h.Masks[2];
    generic = masked && ((bits == 16 && !DIBMasksAre_(h, 0x7C00, 0x03E0, 0x001F) && !DIBMasksAre_(h, 0xF800, 0x07E0, 0x001F)) ||
                         (bits == 32 && !DIBMasksAre_(h, 0xFF0000, 0xFF00, 0xFF)));
    imgf.Bpp = bits <= 8 ? 8 : bits == 16 ? (generic ? 24 : DIBMasksAre_(h, 0xF800, 0x07E0, 0x001F) ? 16 : 15)
                                         : static_cast<int32_t>(bits);
    ConCheckGeometry(h.Width, height, imgf.Bpp);
    imgf.Width = static_cast<int32_t>(h.Width);
    imgf.Height = static_cast<int32_t>(height);
    imgf.BytesPerPixel = static_cast<int32_t>((bits + 7) / 8);
    imgf.FileBpp = static_cast<int32_t>(bits);
    imgf.LineBytes = (h.Width * bits + 7) / 8;
    imgf.ImageBytes = imgf.LineBytes * height;
    imgf.PalOffset = BMP_FILE_HEADER + static_cast<int64_t>(h.HeaderSize);
    imgf.PalEntrySize = imgf.CoreHeader ? 3 : 4;
    imgf.PalSize = std::clamp<int64_t>(static_cast<int64_t>(h.DataOffset) - imgf.PalOffset, 0,
                                       imgf.CoreHeader ? 768 : 1024);
    imgf.DataOffset = h.DataOffset;
}

namespace {
// Where a run-length decoder writes. Row 0 is the file's first row (the bottom one unless the
// file is stored top first).
struct RleState_ {
    uint8_t* Data = nullptr;
    int64_t W = 0, H = 0, X = 0, Y = 0;
    bool BottomFirst = true;
    bool Spilled = false;    // this row was entered by running past the end of the one above
    int64_t SpillLimit = 0;  // the most pixels a row's padding holds
    uint8_t* Row = nullptr;
};

// Moves to the start of the next row when the column has run past the width; false once the
// position is below the last row.
bool RleWrap_(RleState_& s)
{
    if (s.X >= s.W) {
        s.X = 0;
        ++s.Y;
        s.Spilled = true;
    }
    if (s.Y >= s.H) return false;
    s.Row = s.Data + (s.BottomFirst ? s.H - 1 - s.Y : s.Y) * s.W;
    return true;
}

// End of line. Encoders that code a row's padding pixels too (ImageMagick does) run past the
// width and then end the line: that end belongs to the row they ran past, and the few pixels
// spilled into this one were padding, not its start.
void RleEndLine_(RleState_& s)
{
    if (s.Spilled && s.X <= s.SpillLimit && s.Y < s.H) {
        std::memset(s.Row, 0, static_cast<size_t>(s.X));
    } else {
        ++s.Y;
    }
    s.X = 0;
    s.Spilled = false;
}
}  // namespace

// RLE8 and RLE4: a stream of (count, value) pairs and escapes. RLE4 values hold two pixels
// (high nibble first) that alternate through the count; its literal runs hold two a byte.
static void DIBunRLE_(ImgFile& imgf, Image& img, bool four)
{
    TRACE("FF_BMP.DIBunRLE_");
    const uint8_t* p = imgf.CmpsData;
    const uint8_t* const end = p + imgf.CmpsSize;
    RleState_ s;
    s.Data = img.Data;
    s.W = img.Width;
    s.H = img.Height;
    s.BottomFirst = imgf.BottomFirst;
    // Rows are padded to 32 bits: up to 3 pixels of 8 bits, 7 of 4 bits.
    s.SpillLimit = four ? (8 - s.W % 8) % 8 : (4 - s.W % 4) % 4;
    auto pixel = [&](int64_t i, uint8_t v) -> uint8_t { return four ? ((i & 1) ? v & 15 : v >> 4) : v; };
    while (end - p >= 2 && s.Y < s.H) {
        const int64_t n = p[0];
        const uint8_t v = p[1];
        p += 2;
        if (n > 0) {
            for (int64_t i = 0; i < n; ++i) {
                if (!RleWrap_(s)) return;
                s.Row[s.X++] = pixel(i, v);
            }
        } else if (v == 0) {
            RleEndLine_(s);
        } else if (v == 1) {
            return;
        } else if (v == 2) {
            if (end - p < 2) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
            s.X += p[0];
            s.Y += p[1];
            s.Spilled = false;
            p += 2;
        } else {
            const int64_t c = v, bytes = four ? (c + 1) / 2 : c, padded = bytes + (bytes & 1);
            if (end - p < bytes) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
            const uint8_t* src = p;
            p += std::min<int64_t>(padded, end - p);
            for (int64_t i = 0; i < c; ++i) {
                if (!RleWrap_(s)) return;
                s.Row[s.X++] = four ? pixel(i, src[i / 2]) : src[i];
            }
        }
    }
}

// Rows of 1 or 4 bits (most significant first) into one byte per pixel; rows of bit-field
// pixels into the image's layout.
static void DIBExpand_(const ImgFile& imgf, const BMPHdr_& h, const uint8_t* raw, Image& img)
{
    TRACE("FF_BMP.DIBExpand_");
    const int64_t w = img.Width;
    const MaskChannel_ r = ChannelOf_(h.Masks[0]), g = ChannelOf_(h.Masks[1]), b = ChannelOf_(h.Masks[2]);
    for (int64_t y = 0; y < img.Height; ++y) {
        const uint8_t* s = raw + y * imgf.LineBytes;
        uint8_t* d = img.Data + y * w * img.BytesPerPixel;
        switch (imgf.FileBpp) {
        case 1:
            for (int64_t x = 0; x < w; ++x) d[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case 4:
            for (int64_t x = 0; x < w; ++x) d[x] = (x & 1) ? s[x >> 1] & 15 : s[x >> 1] >> 4;
            break;
        default: {
            const int step = imgf.FileBpp / 8;
            for (int64_t x = 0; x < w; ++x, d += img.BytesPerPixel) {
                const uint32_t v = step == 2 ? BytesGetLE16(s + 2 * x) : BytesGetLE32(s + 4 * x);
                d[0] = Channel_(b, v);
                d[1] = Channel_(g, v);
                d[2] = Channel_(r, v);
                if (img.BytesPerPixel == 4) d[3] = 0;
            }
            break;
        }
        }
    }
}

void DIBLoad(const std::string& name, Image& img)
{
    TRACE("FF_BMP.DIBLoad");
    MonBlock([&] {
        ImgFile imgf;
        bool generic = false;
        const BMPHdr_ h = ConOpenHeader<BMPHdr_>(name, imgf, DIBReadHeader_);
        DIBCheck_(h, imgf, generic);
        // Pixel data must be in the file before we allocate for them.
        int64_t pad = (4 - imgf.LineBytes % 4) % 4;
        if (!imgf.Compressed &&
            (imgf.DataOffset > imgf.FileSize ||
             imgf.FileSize - imgf.DataOffset < (imgf.Height - 1) * (imgf.LineBytes + pad) + imgf.LineBytes))
            MonError(EC_FILE, FE_READ, __LINE__);
        ConAllocImage(img, imgf, "FF_BMP.DIBLoad.img", __LINE__);
        if (imgf.Bpp == 8 && imgf.PalSize > 0) {
            uint8_t pal[1024];
            FSeek(imgf.Handle, imgf.PalOffset);
            FRead(imgf.Handle, pal, imgf.PalSize);
            int64_t count = std::min<int64_t>(256, imgf.PalSize / imgf.PalEntrySize);
            for (int64_t i = 0; i < count; ++i) std::memcpy(img.Pal[i], pal + i * imgf.PalEntrySize, 3);
        }
        if (imgf.Compressed) {
            FillMem(0, img.Size, img.Data);
            ConGetCmpsData(imgf);
            DIBunRLE_(imgf, img, h.Compression == BMP_RLE4);
            MemFreeT(&imgf.CmpsData);
        } else if (imgf.FileBpp == 1 || imgf.FileBpp == 4 || generic) {
            uint8_t* raw = nullptr;
            MemAllocT(&raw, imgf.ImageBytes, __LINE__, "FF_BMP.DIBLoad.raw");
            ConDsk2Mem(imgf, raw, pad);
            DIBExpand_(imgf, h, raw, img);
            MemFreeT(&raw);
        } else {
            ConDsk2Mem(imgf, img.Data, pad);
        }
        FClose(imgf.Handle);
    });
}

void DIBSave(const std::string& name, Image& img)
{
    TRACE("FF_BMP.DIBSave");
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
        ConMem2Dsk(imgf, img, pad);
        FClose(imgf.Handle);
    });
}
