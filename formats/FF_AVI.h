// Video codec helpers. No movie is read or written by this program; the helpers only set
// up the default compressor description at start-up and release it at the end. Without
// Video for Windows (every platform but Windows) they keep their defaults: depth 24,
// key-frame rate and quality 0.
#pragma once

#include <cstdint>

constexpr uint32_t AviFourCC(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) | (static_cast<uint32_t>(c) << 16) |
           (static_cast<uint32_t>(d) << 24);
}
constexpr uint32_t AVI_FOURCC_VIDC = AviFourCC('v', 'i', 'd', 'c');   // ICTYPE_VIDEO
constexpr uint32_t AVI_FOURCC_CVID = AviFourCC('c', 'v', 'i', 'd');   // the default compressor

constexpr int AVI_MAX_CODECS = 256;

// One compressor description.
struct AviCodecRec {
    uint32_t FourCC = 0;
    intptr_t Handle = 0;          // query handle; closed again at once
    int32_t KeyFrameRate = 0;
    int32_t Quality = 0;          // 0..100
    int32_t Depth = 0;            // pixel depth to encode with
    uint8_t* Buffer = nullptr;    // attached data, registered with the memory layer
};

struct AviCodecsRec {
    AviCodecRec* Items[AVI_MAX_CODECS] = {};
    int32_t Count = 0;
    bool Present = false;
};

// Start-up (once, before the main window) and end of the program.
void AviInit();
void AviDone();

// Default key-frame rate and quality (0..100) the compressor reports; 0 when it cannot be asked.
void AviCodecKeyFrameRate(uint32_t fourcc, int32_t& result);
void AviCodecQuality(uint32_t fourcc, int32_t& result);
// Frees every entry of the compressor list and clears it.
void AviCodecsRecFree();

// Program-wide state, for callers that query it.
const AviCodecRec& AviCurrentCodec();
bool AviCurrentIsFullFrame();
const AviCodecsRec& AviCodecs();
// The three default setting blocks (16 bytes each).
const uint8_t* AviDefaultSettings(int index);
bool AviIsInitialized();
