// Gallery files (".gal"): several stored images packed into one file so a collection can be
// passed on. The file is a 108-byte header and, per image, a 148-byte record followed by the
// exact bytes of the stored PNG. All integers are 32-bit little-endian; short texts are a length
// byte and the characters, zero-padded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Outcome.h"

constexpr int GAL_HEADER_SIZE = 108;
constexpr int GAL_RECORD_SIZE = 148;
constexpr int GAL_VERSION = 2;
constexpr int GAL_PREFIX_MAX = 63;
constexpr int GAL_NAME_MAX = 127;
constexpr int32_t GAL_MAX_DATA = 204800;  // an image this large ends the unpacking
constexpr const char* GAL_MAGIC = "Kelvane Studio Gallery";
constexpr const char* GAL_FILTER = "Gallery Files (*.gal)|*.gal";

// Header and record field offsets.
enum {
    GAL_H_SIZE = 0, GAL_H_MAGIC = 4, GAL_H_VERSION = 36, GAL_H_PREFIX = 40, GAL_H_COUNT = 104,
    GAL_R_SIZE = 0, GAL_R_NAME = 4, GAL_R_LENGTH = 132, GAL_R_POSITIONS = 136, GAL_R_FROMLOGO = 140,
    GAL_R_ANIMSTART = 144
};

constexpr const char* GAL_TOO_FEW =
    "To create a gallery you must highlight two or more images in the list below. These images will be "
    "added to the gallery.";
constexpr const char* GAL_INVALID_PREFIX = "Invalid prefix.";
constexpr const char* GAL_NOT_GALLERY = "This is not a valid Kelvane Studio gallery.";
constexpr const char* GAL_DAMAGED = "This gallery contains no images, or the file header is damaged.";
constexpr const char* GAL_OLDER = "Incompatible (older) gallery version.";
constexpr const char* GAL_NEWER = "This is a newer gallery version, but I'll try to open it.";

// Writes the gallery of the named stored images, in list order, under prefix; the number of
// images written (fewer after Esc). Raises on failure; the file appears only when complete.
int GalleryWrite(const std::string& fileName, const std::string& prefix, const std::vector<std::string>& names);
// Checks the gallery, settles a prefix clash through ask, unpacks every image into the storage
// folder and enters it into the store. prefixOverride, when not empty, replaces the gallery's own
// prefix. Result is the summary; Select the first image unpacked.
Outcome GalleryRead(const std::string& fileName, const std::string& prefixOverride = std::string(),
                    const Answers& ask = Answers());

// "Create Gallery": packs the named images (two or more) into file (".gal" added when it has no
// extension) under prefix (empty: file's name). An existing file is replaced when ask says so.
Outcome GalleryCreate(const std::string& file, const std::string& prefix, const std::vector<std::string>& names,
                  const Answers& ask);
// "Open Gallery": GalleryRead with the window busy.
Outcome GalleryOpen(const std::string& file, const std::string& prefixOverride, const Answers& ask);
// The prefix proposed for a new gallery: its file name without the extension.
std::string GalPrefixProposal(const std::string& file);

// Seconds to download size bytes at rate bits per second, as the summary shows them: rounded
// half to even, above 20 raised to the next multiple of 5.
double GalDownloadSeconds(double size, double rate);
// The six lines "  <hh:mm:ss>  at  <rate>" of the summary, each ending with CR LF.
std::string GalDownloadTimes(double size);
// The text of the summary box.
std::string GalSummaryText(const std::string& fileName, const std::string& prefix, int count, double size);
