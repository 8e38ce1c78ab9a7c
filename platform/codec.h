// The codec library: whole-file JPEG (over libjpeg-turbo) and XPM (our own) functions, and the
// routing of libtiff's error and warning texts. These take C strings and return 0 on success,
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

// Largest pixel block the codec functions will fill or write (matches the image core's limit).
constexpr int64_t CODEC_MAX_BYTES = 256ll * 1024 * 1024;

// Dimensions and components (1 grey, 3 colour) of a JPEG file without decoding pixels.
int info_JPEG_file(const char* name, int32_t* width, int32_t* height, int32_t* components);
// Decodes into pixels (rows top first; grey one byte, colour blue green red). width, height
// and components must hold what info_JPEG_file reported: they describe the buffer, and a file
// whose picture does not fit them fails. They are filled again on success.
int read_JPEG_file(const char* name, uint8_t* pixels, int32_t* width, int32_t* height, int32_t* components);
// Writes a baseline JPEG of the given quality (0..100) from blue-green-red rows, top first.
// A failed write leaves no file behind.
int write_JPEG_file(const char* name, const uint8_t* pixels, int32_t width, int32_t height, int32_t quality);

// XPM 3 files. With rec->Pixels null only Width and Height are filled; otherwise Width and
// Height must match the file and Pixels is filled with width * height * 3 bytes.
int ReadXpm(const char* name, XpmRec* rec);
// Writes rec's 24-bit picture as an XPM 3 file; a failed write leaves no file behind.
int WriteXpm(const char* name, const XpmRec* rec);

// Receivers of libtiff's error and warning texts ("module: message"); null restores silence.
typedef void (*ExternMsgProc)(const char* text);
void ExternErrorSet(ExternMsgProc proc);
void ExternWarningSet(ExternMsgProc proc);
