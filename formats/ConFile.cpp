// The row reader and writer of the BMP, TGA and PCX units.
#include "formats/ConFile.h"

#include <algorithm>
#include <cstring>

#include "base/Mon.h"

// Refuses a declared geometry before anything is allocated: non-positive sides are a
// broken header, more than the pixel-block limit is more than we support.
void ConCheckGeometry(int64_t width, int64_t height, int bpp)
{
    TRACE("ConFile.ConCheckGeometry");
    if (width <= 0 || height <= 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    if (!ImgSizeOK(width, height, bpp)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
}

void ConAllocImage(Image& img, const ImgFile& imgf, const char* name, int line)
{
    TRACE("ConFile.ConAllocImage");
    ImgAllocNamed(img, imgf.Width, imgf.Height, name, line, imgf.Bpp);
    std::memset(img.Pal, 0, sizeof(img.Pal));
}

// Reads the header block at the start of the file through the file layer, whose short read
// is the file error.
void ConReadHeader(ImgFile& imgf, uint8_t* buffer, int64_t count)
{
    TRACE("ConFile.ConReadHeader");
    FSeek(imgf.Handle, 0);
    FRead(imgf.Handle, buffer, count);
}

// Row reader: height rows of LineBytes, each followed by pad bytes in the file (the last
// row's padding may be missing). Bottom-first files fill the buffer from its last row up.
void ConDsk2Mem(ImgFile& imgf, uint8_t* dst, int64_t pad)
{
    TRACE("ConFile.ConDsk2Mem");
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
        int64_t perChunk = std::max<int64_t>(1, CON_CHUNK_BYTES / stride);
        uint8_t* stage = nullptr;
        MemAllocT(&stage, perChunk * stride, __LINE__, "ConFile.ConDsk2Mem.stage");
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
void ConMem2Dsk(ImgFile& imgf, const Image& img, int64_t pad)
{
    TRACE("ConFile.ConMem2Dsk");
    MonBlock([&] {
        const int64_t line = static_cast<int64_t>(img.Width) * img.BytesPerPixel, h = img.Height;
        const int64_t stride = line + pad;
        int64_t perChunk = std::max<int64_t>(1, CON_CHUNK_BYTES / stride);
        uint8_t* stage = nullptr;
        MemAllocT(&stage, perChunk * stride, __LINE__, "ConFile.ConMem2Dsk.stage");
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
void ConGetCmpsData(ImgFile& imgf)
{
    TRACE("ConFile.ConGetCmpsData");
    if (imgf.DataOffset < 0 || imgf.DataOffset > imgf.FileSize) MonError(EC_FILE, FE_READ, __LINE__);
    int64_t cap = 2 * imgf.ImageBytes + 4 * static_cast<int64_t>(imgf.Height) + 4096;
    imgf.CmpsSize = std::min(imgf.FileSize - imgf.DataOffset, cap);
    if (imgf.CmpsSize <= 0) return;
    MemAllocT(&imgf.CmpsData, imgf.CmpsSize, __LINE__, "ConFile.ConGetCmpsData.CmpsData");
    FSeek(imgf.Handle, imgf.DataOffset);
    FRead(imgf.Handle, imgf.CmpsData, imgf.CmpsSize);
}

// Swaps rows top to bottom in place.
void ConFlipRows(uint8_t* data, int64_t line, int64_t height)
{
    TRACE("ConFile.ConFlipRows");
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
