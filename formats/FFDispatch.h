// Format dispatch: the reading and writing tables, format look-up by file name and content,
// the open-dialog filter text and the ImgLoad/ImgSave entry points that every picture file
// passes through. Above every reader and writer.
#pragma once

#include <cstdint>
#include <string>

#include "base/Basic.h"
#include "formats/FFFormatIds.h"
#include "image/ImgBasic.h"

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

// Reads/writes a picture file; format is an identifier or Undef (chosen by FFFormatOfFile when
// reading, by extension when writing). Pixels come as stored, not turned upright.
void ImgLoad(const std::string& name, Image& img, int32_t format = Undef);
void ImgSave(const std::string& name, Image& img, int32_t format = Undef);
