// Format dispatch and format basics: the reading and writing tables, format look-up by
// file name, the open-dialog filter text, writer preparation (FFInit/FFDone) and the
// ImgLoad/ImgSave entry points that every picture file passes through.
#pragma once

#include <cstdint>
#include <string>

#include "base/Basic.h"
#include "image/ImgBasic.h"

// Format identifiers; the values are fixed because callers pass them directly.
enum {
    FMT_TGA = 1, FMT_PCX = 2, FMT_BMP = 3, FMT_GIF = 4, FMT_FLIC = 5, FMT_AVI = 6, FMT_QMF = 7,
    FMT_JPEG = 8, FMT_PNG = 9, FMT_TIFF = 10, FMT_MPEG = 11, FMT_WAV = 12, FMT_SGI = 13,
    FMT_RAS = 14, FMT_PNM = 15, FMT_BAY = 16, FMT_XPM = 17, FMT_MPA = 18, FMT_OGG = 19,
    FMT_WEBP = 20, FMT_HEIF = 21, FMT_AVIF = 22
};

// Capability mask bits of a table row.
enum { FFC_STILL = 1, FFC_MULTI = 2, FFC_SOUND_ONLY = 4, FFC_PICTURES = 8, FFC_SOUND = 16 };

// FFMakeLoadFilter flags.
enum { FFF_LONG_NAMES = 1, FFF_EXT_LIST = 2, FFF_NO_ALL = 4 };

// Look-up directions.
enum { FF_READ = 1, FF_WRITE = 2 };

// One row of a format table.
struct QffDesc {
    int32_t Id = Undef;
    int32_t Mask = 0;
    std::string Ext;     // ".bmp.dib.rle"
    std::string Short;   // "BMP"
    std::string Desc;    // "Windows Device Independent Bitmap"
    std::string Long;    // "BMP/DIB, Windows Device Independent Bitmap"
};

// Writer preparation: img is what the writer encodes, either the caller's image or temp_img.
// The record must stay where FFInit filled it until FFDone (temp_img's block is registered
// under the address of its Data field).
struct FFInfo {
    Image* img = nullptr;
    Image temp_img;
    bool temp_used = false;
};

// Table access (direction FF_READ or FF_WRITE); rows in table order.
int FFTableCount(int direction);
const QffDesc& FFTableRow(int direction, int index);

// Identifier of the first row whose extension list holds name's extension, or Undef.
int32_t FFFormatOfName(const std::string& name, int direction);
// The same, returning the whole row (Id = Undef and empty texts when nothing matches).
void FFFormatOfName(const std::string& name, int direction, QffDesc& desc);

// The format a file is read as: the one its first bytes show when that format is readable,
// else the one its name gives (Undef when neither knows it).
int32_t FFFormatOfFile(const std::string& name);

// Builds the file-dialog filter ("caption|patterns|...") for the rows that share a bit with mask.
void FFMakeLoadFilter(int32_t mask, int32_t flags, std::string& filter);
std::string FFMakeLoadFilter(int32_t mask, int32_t flags);

// Depth a writer of format receives for an image of bpp bits, 0 for no pictures,
// Undef for a format not in the writer depth table.
int32_t FFTargetBpp(int32_t format, int32_t bpp);

// Prepares the image a writer encodes (sides 4..4096, depth from FFTargetBpp, padded to
// align); raises class 14 code 1 "Invalid movie format." when it cannot. The caller's
// image is never changed.
void FFInit(int32_t format, FFInfo& ffi, Image& image, int align);
void FFDone(FFInfo& ffi);

// Reads/writes a picture file; format is an identifier or Undef (chosen by FFFormatOfFile when
// reading, by extension when writing). Pixels come as stored, not turned upright.
void ImgLoad(const std::string& name, Image& img, int32_t format = Undef);
void ImgSave(const std::string& name, Image& img, int32_t format = Undef);
