// Video codec helpers over Video for Windows. This platform has no Video for Windows, so
// its entry points are stand-ins that report "nothing there"; the start-up sequence then
// leaves the defaults (depth 24, rate and quality 0), as it would on a Windows system
// without the cvid compressor.
#include "formats/FF_AVI.h"

#include <cctype>
#include <cstring>

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/ImgBasic.h"

namespace {

constexpr uint32_t ICM_GETDEFAULTKEYFRAMERATE_ = 0x402A;
constexpr uint32_t ICM_GETDEFAULTQUALITY_ = 0x501E;
constexpr uint32_t ICM_COMPRESS_QUERY_ = 0x4006;
constexpr uint32_t ICMODE_QUERY_ = 4;
constexpr int64_t ICERR_UNSUPPORTED_ = -1;

struct AviState_ {
    bool FileInitCalled = false;
    AviCodecRec Default;
    AviCodecRec Current;
    bool CurrentFullFrame = false;
    AviCodecsRec Codecs;
    uint8_t Settings[3][16] = {};
};

AviState_& St_()
{
    static AviState_ s;
    return s;
}

// ---- Video for Windows stand-ins (absent on this platform) ----
void AVIFileInit_() {}
void AVIFileExit_() {}
intptr_t ICOpen_(uint32_t /*type*/, uint32_t /*handler*/, uint32_t /*mode*/) { return 0; }
int64_t ICSendMessage_(intptr_t /*hic*/, uint32_t /*msg*/, intptr_t /*p1*/, intptr_t /*p2*/)
{
    return ICERR_UNSUPPORTED_;
}
void ICClose_(intptr_t /*hic*/) {}

} // namespace

// Opens the compressor in query mode, sends one message and closes it again; opened
// tells whether there was a compressor to ask.
static int64_t ICOpenAndSendMessage_(uint32_t fourcc, uint32_t msg, intptr_t p1, intptr_t p2, bool& opened)
{
    TRACE("FF_AVI.ICOpenAndSendMessage_");
    intptr_t hic = ICOpen_(AVI_FOURCC_VIDC, fourcc, ICMODE_QUERY_);
    opened = hic != 0;
    if (!opened) return ICERR_UNSUPPORTED_;
    int64_t answer = ICSendMessage_(hic, msg, p1, p2);
    ICClose_(hic);
    return answer;
}

void AviCodecKeyFrameRate(uint32_t fourcc, int32_t& result)
{
    TRACE("FF_AVI.AviCodecKeyFrameRate");
    bool opened = false;
    int64_t answer = ICOpenAndSendMessage_(fourcc, ICM_GETDEFAULTKEYFRAMERATE_, 0, 0, opened);
    result = opened ? static_cast<int32_t>(answer) : 0;
}

void AviCodecQuality(uint32_t fourcc, int32_t& result)
{
    TRACE("FF_AVI.AviCodecQuality");
    bool opened = false;
    int64_t answer = ICOpenAndSendMessage_(fourcc, ICM_GETDEFAULTQUALITY_, 0, 0, opened);
    // The compressor answers 0..10000; we keep 0..100.
    result = opened ? static_cast<int32_t>(answer / 100) : 0;
}

// Uncompressed formats need no compressor.
static bool AVIChk4FullFrames_(uint32_t fourcc)
{
    TRACE("FF_AVI.AVIChk4FullFrames_");
    if (fourcc == 0) return true;
    char t[5] = {};
    for (int i = 0; i < 4; ++i) t[i] = static_cast<char>(std::toupper(static_cast<unsigned char>((fourcc >> (8 * i)) & 0xFF)));
    return std::strcmp(t, "DIB ") == 0 || std::strcmp(t, "RAW ") == 0 || std::strcmp(t, "RGB ") == 0;
}

// A 40-byte bitmap information header, with a 256-entry colour table for 8 bits and a palette.
static void FillBitmapInfo_(uint8_t* header, int32_t width, int32_t height, const Image* palette, int32_t depth)
{
    TRACE("FF_AVI.FillBitmapInfo_");
    std::memset(header, 0, 40);
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(width));
    put32(8, static_cast<uint32_t>(height));
    header[12] = 1;
    header[14] = static_cast<uint8_t>(depth);
    put32(20, static_cast<uint32_t>(static_cast<int64_t>(width) * height * ((depth + 7) / 8)));
    if (depth == 8 && palette) {
        put32(32, 256);
        for (int i = 0; i < 256; ++i) {
            std::memcpy(header + 40 + i * 4, palette->Pal[i], 3);
            header[40 + i * 4 + 3] = 0;
        }
    }
}

static bool AviCodecCanEncode_(uint32_t fourcc, const uint8_t* header)
{
    TRACE("FF_AVI.AviCodecCanEncode_");
    if (AVIChk4FullFrames_(fourcc)) return true;
    bool opened = false;
    return ICOpenAndSendMessage_(fourcc, ICM_COMPRESS_QUERY_, reinterpret_cast<intptr_t>(header), 0, opened) == 0 &&
           opened;
}

static bool AviCodecCanEncodeEx_(uint32_t fourcc, int32_t width, int32_t height, int32_t depth)
{
    TRACE("FF_AVI.AviCodecCanEncodeEx_");
    uint8_t header[40 + 1024];
    FillBitmapInfo_(header, width, height, nullptr, depth);
    return AviCodecCanEncode_(fourcc, header);
}

void AviCodecsRecFree()
{
    TRACE("FF_AVI.AviCodecsRecFree");
    AviCodecsRec& list = St_().Codecs;
    for (int i = 0; i < AVI_MAX_CODECS; ++i) {
        if (!list.Items[i]) continue;
        MemFreeT(&list.Items[i]->Buffer);
        MemFreeT(&list.Items[i]);
        list.Items[i] = nullptr;
    }
    list.Count = 0;
    list.Present = false;
}

void AviInit()
{
    TRACE("FF_AVI.AviInit");
    AviState_& s = St_();
    AVIFileInit_();
    s.FileInitCalled = true;

    AviCodecRec desc;
    desc.FourCC = AVI_FOURCC_CVID;
    desc.Depth = 24;
    bool listed = false;
    for (int i = 0; i < s.Codecs.Count && i < AVI_MAX_CODECS; ++i) {
        if (s.Codecs.Items[i] && s.Codecs.Items[i]->FourCC == AVI_FOURCC_CVID) {
            desc = *s.Codecs.Items[i];
            desc.Buffer = nullptr;   // the list keeps its own buffer
            listed = true;
            break;
        }
    }
    if (!listed) {
        intptr_t hic = ICOpen_(AVI_FOURCC_VIDC, AVI_FOURCC_CVID, ICMODE_QUERY_);
        if (hic != 0) {
            ICClose_(hic);
            AviCodecKeyFrameRate(AVI_FOURCC_CVID, desc.KeyFrameRate);
            AviCodecQuality(AVI_FOURCC_CVID, desc.Quality);
        }
    }
    for (int32_t depth : {24, 16, 8}) {
        if (AviCodecCanEncodeEx_(AVI_FOURCC_CVID, 320, 240, depth)) {
            desc.Depth = depth;
            break;
        }
    }
    s.Current = desc;
    s.CurrentFullFrame = AVIChk4FullFrames_(desc.FourCC);
    s.Default = desc;
    s.Default.Depth = 24;

    uint8_t tmpl[16] = {};
    tmpl[4] = 192;
    tmpl[8] = 70;
    static const uint32_t kFirst[3] = {0x20000, 0x20001, 0x2000F};
    for (int i = 0; i < 3; ++i) {
        std::memcpy(s.Settings[i], tmpl, 16);
        for (int b = 0; b < 4; ++b) s.Settings[i][b] = static_cast<uint8_t>(kFirst[i] >> (8 * b));
    }
}

void AviDone()
{
    TRACE("FF_AVI.AviDone");
    AviState_& s = St_();
    MemFreeT(&s.Current.Buffer);
    if (s.FileInitCalled) AVIFileExit_();
    s.FileInitCalled = false;
    AviCodecsRecFree();
}

const AviCodecRec& AviCurrentCodec()
{
    TRACE("FF_AVI.AviCurrentCodec");
    return St_().Current;
}

bool AviCurrentIsFullFrame()
{
    TRACE("FF_AVI.AviCurrentIsFullFrame");
    return St_().CurrentFullFrame;
}

const AviCodecsRec& AviCodecs()
{
    TRACE("FF_AVI.AviCodecs");
    return St_().Codecs;
}

const uint8_t* AviDefaultSettings(int index)
{
    TRACE("FF_AVI.AviDefaultSettings");
    return St_().Settings[ClampInt(index, 0, 2)];
}

bool AviIsInitialized()
{
    TRACE("FF_AVI.AviIsInitialized");
    return St_().FileInitCalled;
}
