// WebP through libwebp's incremental decoder, handing out rows as the file is read. The decoder
// writes into a picture-sized address range whose pages are given back once their rows have
// been handed out, so a picture of any size needs memory for a band of rows only. Like the
// other codec functions these return 0 on success and never raise through the error monitor.
#pragma once

#include <cstdint>

struct WebpRows;

enum { WEBP_OK = 0, WEBP_READ = 1, WEBP_DAMAGED = 2, WEBP_MEMORY = 3, WEBP_UNSUPPORTED = 4 };

// Opens name and reads its header: width and height of the picture.
int WebpRowsOpen(const char* name, WebpRows** rows, int32_t* width, int32_t* height);
// The next row: width * 3 bytes, blue green red (the colours under any transparency).
int WebpRowsNext(WebpRows* rows, uint8_t* row);
// Releases everything; rows may be null.
void WebpRowsClose(WebpRows* rows);
