// What a picture file's content says about it: the format its first bytes show and the
// orientation its metadata asks for. Both read only small parts of the file and never fail:
// an unreadable file shows no format and orientation 1.
#pragma once

#include <cstdint>
#include <string>

// The format whose signature the file starts with (only formats with an unmistakable
// signature), or Undef.
int32_t FFSniffFormat(const std::string& name);
// The same for the first bytes of a file already read (size bytes at head).
int32_t FFSniffHead(const uint8_t* head, int64_t size);
// The orientation (1..8, see ImgOrient) that the file's EXIF data (JPEG APP1, PNG eXIf, WebP
// EXIF chunk) or TIFF Orientation tag gives its stored pixels; 1 when it gives none. HEIF and
// AVIF files have theirs applied by their decoder, so nothing is left to apply: 1.
int32_t FFOrientation(const std::string& name);
// The orientation the picture is shown in, as kvs info reports it: FFOrientation, and for HEIF
// and AVIF what their rotation and mirror properties (which their decoder applies) amount to.
int32_t FFOrientationShown(const std::string& name);
// The orientation value of an EXIF block (a TIFF structure, optionally after "Exif\0\0").
int32_t FFExifOrientation(const uint8_t* data, int64_t size);
