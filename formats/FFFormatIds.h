// Format identifiers, shared by the readers, the writers, the content sniffer and the dispatch.
#pragma once

// The values are fixed because callers pass them directly.
enum {
    FMT_TGA = 1, FMT_PCX = 2, FMT_BMP = 3, FMT_GIF = 4, FMT_FLIC = 5, FMT_AVI = 6, FMT_QMF = 7,
    FMT_JPEG = 8, FMT_PNG = 9, FMT_TIFF = 10, FMT_MPEG = 11, FMT_WAV = 12, FMT_SGI = 13,
    FMT_RAS = 14, FMT_PNM = 15, FMT_BAY = 16, FMT_XPM = 17, FMT_MPA = 18, FMT_OGG = 19,
    FMT_WEBP = 20, FMT_HEIF = 21, FMT_AVIF = 22
};
