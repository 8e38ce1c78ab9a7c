// The codec library's whole-file JPEG functions over libjpeg-turbo. They take C strings and
// return 0 on success, any other value on failure; they never raise through the error monitor.
#pragma once

#include <cstdint>

// Largest pixel block these functions fill (matches the image core's limit).
constexpr int64_t JPEG_MAX_BYTES = 256ll * 1024 * 1024;

// Dimensions and components (1 grey, 3 colour) of a JPEG file without decoding pixels.
int info_JPEG_file(const char* name, int32_t* width, int32_t* height, int32_t* components);
// Decodes into pixels (rows top first; grey one byte, colour blue green red). width, height
// and components must hold what info_JPEG_file reported: they describe the buffer, and a file
// whose picture does not fit them fails. They are filled again on success.
int read_JPEG_file(const char* name, uint8_t* pixels, int32_t* width, int32_t* height, int32_t* components);
// Writes a baseline JPEG of the given quality (0..100) from blue-green-red rows, top first.
// A failed write leaves no file behind.
int write_JPEG_file(const char* name, const uint8_t* pixels, int32_t width, int32_t height, int32_t quality);
