// The codec library's XPM 3 reader and writer. They take C strings and return 0 on success,
// any other value on failure; they never raise through the error monitor.
#pragma once

#include <cstdint>

// Exchange record of ReadXpm and WriteXpm. The pixel address is a full pointer here.
struct XpmRec {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Reserved = 0;       // neither set nor read by the program
    uint8_t* Pixels = nullptr;  // width * height * 3 bytes, blue green red, rows top first
    int32_t Zero = 0;
};

// Largest pixel block these functions fill or write (matches the image core's limit).
constexpr int64_t XPM_MAX_BYTES = 256ll * 1024 * 1024;

// With rec->Pixels null only Width and Height are filled; otherwise Width and Height must
// match the file and Pixels is filled with width * height * 3 bytes.
int ReadXpm(const char* name, XpmRec* rec);
// Writes rec's 24-bit picture as an XPM 3 file; a failed write leaves no file behind.
int WriteXpm(const char* name, const XpmRec* rec);
