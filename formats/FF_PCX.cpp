// Zsoft Paintbrush reading and writing.
#include "formats/FF_PCX.h"

#include <algorithm>
#include <cstring>

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/Mon.h"
#include "formats/ConFile.h"

namespace {

constexpr int PCX_HEADER = 128;
constexpr int PCX_MANUFACTURER = 10;
constexpr int PCX_RLE = 1;
constexpr int PCX_PLANES_OFFSET = 65;
constexpr int PCX_PALETTE = 768;
constexpr int PCX_MAX_RUN = 63;
constexpr int PCX_RUN = 192;          // bytes from here on are run counts (low six bits)

} // namespace

// The fields of the 128-byte PCX header that are used.
struct PCXHdr_ {
    uint8_t Manufacturer = 0, Version = 0, Encoding = 0, BitsPerPlane = 0;
    uint16_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;
    uint8_t Planes = 0;
    uint16_t BytesPerLine = 0;
};

static void PCXReadHeader_(ImgFile& imgf, PCXHdr_& h)
{
    TRACE("FF_PCX.PCXReadHeader_");
    uint8_t hdr[PCX_HEADER];
    ConReadHeader(imgf, hdr, PCX_HEADER);
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
    TRACE("FF_PCX.PCXCheck_");
    if (h.Manufacturer != PCX_MANUFACTURER) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    planes = h.Planes;
    // Two planes have no meaning for 8-bit planes; zero planes hold nothing.
    imgf.Supported = h.BitsPerPlane == 8 && (planes == 1 || planes == 3) && h.Encoding == PCX_RLE;
    if (!imgf.Supported) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    const int64_t width = static_cast<int64_t>(h.XMax) - h.XMin + 1;
    const int64_t height = static_cast<int64_t>(h.YMax) - h.YMin + 1;
    imgf.Bpp = static_cast<int32_t>(planes * 8);
    imgf.BytesPerPixel = static_cast<int32_t>(planes);
    ConCheckGeometry(width, height, imgf.Bpp);
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
    TRACE("FF_PCX.PCXunCmps_");
    MonBlock([&] {
        const uint8_t* p = imgf.CmpsData;
        const uint8_t* const end = p + std::min(imgf.CmpsSize, std::max<int64_t>(0, dataEnd));
        const int64_t scan = planes * lineBytes, w = img.Width;
        uint8_t* line = nullptr;
        MemAllocT(&line, scan, __LINE__, "FF_PCX.PCXunCmps_.line");
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
    TRACE("FF_PCX.PCX24Fix_");
    for (int i = 0; i < 256; ++i) {
        img.Pal[i][0] = rgb[i * 3 + 2];
        img.Pal[i][1] = rgb[i * 3 + 1];
        img.Pal[i][2] = rgb[i * 3];
    }
}

void PCXLoad(const std::string& name, Image& img)
{
    TRACE("FF_PCX.PCXLoad");
    MonBlock([&] {
        ImgFile imgf;
        int64_t planes = 0, lineBytes = 0;
        PCXCheck_(ConOpenHeader<PCXHdr_>(name, imgf, PCXReadHeader_), imgf, planes, lineBytes);
        ConAllocImage(img, imgf, "FF_PCX.PCXLoad_.img", __LINE__);
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
        ConGetCmpsData(imgf);
        PCXunCmps_(imgf, img, planes, lineBytes, dataEnd);
        MemFreeT(&imgf.CmpsData);
        FClose(imgf.Handle);
    });
}

// PCX run-length code of one scan line: runs of up to 63 equal bytes as 192 + count and
// the byte; a single byte below 192 as itself, one of 192 or more as 193 and the byte.
static int64_t PCXRLE_(const uint8_t* s, int64_t n, uint8_t* out)
{
    TRACE("FF_PCX.PCXRLE_");
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
    TRACE("FF_PCX.PCXHeader_");
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
    TRACE("FF_PCX.PCXPlaneRow_");
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
    TRACE("FF_PCX.PCXWriteRows_");
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
    TRACE("FF_PCX.PCXWritePalette_");
    uint8_t pal[769];
    pal[0] = 12;
    for (int i = 0; i < 256; ++i) {
        pal[1 + i * 3] = img.Pal[i][2];
        pal[2 + i * 3] = img.Pal[i][1];
        pal[3 + i * 3] = img.Pal[i][0];
    }
    FWrite(handle, pal, 769);
}

void PCXSave(const std::string& name, Image& img)
{
    TRACE("FF_PCX.PCXSave");
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
        const int64_t cap = std::max(CON_CHUNK_BYTES, 2 * scan);
        uint8_t *line = nullptr, *stage = nullptr;
        MemAllocT(&line, scan, __LINE__, "FF_PCX.PCXSave_.line");
        MemAllocT(&stage, cap, __LINE__, "FF_PCX.PCXSave_.stage");
        FillMem(0, scan, line);   // plane padding bytes stay zero
        PCXWriteRows_(imgf.Handle, img, lineBytes, line, stage, cap);
        if (planes == 1) PCXWritePalette_(imgf.Handle, img);
        MemFreeT(&stage);
        MemFreeT(&line);
        FClose(imgf.Handle);
    });
}
