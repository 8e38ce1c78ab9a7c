// The working record and the row reader and writer that the BMP, TGA and PCX units share.
//
// Readers treat the file as hostile: every size from a header is checked against the file
// and the pixel-block limit before anything is allocated, decoders work on raw pointers
// with explicit input and output ends. Rows are moved in whole-row (or larger) reads and
// writes, never per pixel.
#pragma once

#include <cstdint>
#include <string>

#include "base/Basic.h"
#include "formats/FFFile.h"
#include "image/ImgBasic.h"

// The readers' and writers' working record, passed along from step to step.
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

constexpr int64_t CON_CHUNK_BYTES = 1 << 20;   // staging size for padded row transfers

// Refuses a declared geometry before anything is allocated: non-positive sides are a
// broken header, more than the pixel-block limit is more than we support.
void ConCheckGeometry(int64_t width, int64_t height, int bpp);
void ConAllocImage(Image& img, const ImgFile& imgf, const char* name, int line);
// Reads the header block at the start of the file through the file layer, whose short read
// is the file error.
void ConReadHeader(ImgFile& imgf, uint8_t* buffer, int64_t count);
// Opens the file and takes its header through the format's read step.
template <class Hdr> Hdr ConOpenHeader(const std::string& name, ImgFile& imgf, void (*read)(ImgFile&, Hdr&))
{
    FFOpenRead(imgf.Handle, name);
    imgf.FileSize = FSize(imgf.Handle);
    Hdr h;
    read(imgf, h);
    return h;
}
// Row reader: height rows of LineBytes, each followed by pad bytes in the file (the last
// row's padding may be missing). Bottom-first files fill the buffer from its last row up.
void ConDsk2Mem(ImgFile& imgf, uint8_t* dst, int64_t pad);
// Row writer: the image rows from the last to the first, each followed by pad zero bytes.
void ConMem2Dsk(ImgFile& imgf, const Image& img, int64_t pad);
// Reads everything from the data offset to the end of the file into CmpsData. Run-length
// data never needs more than twice the pixel bytes plus per-row codes, so the read is
// capped there: a huge file cannot make us allocate more than the image could use.
void ConGetCmpsData(ImgFile& imgf);
// Swaps rows top to bottom in place.
void ConFlipRows(uint8_t* data, int64_t line, int64_t height);
