// WebP rows. The output range is reserved, not committed: pages are touched only as the decoder
// writes them and are dropped (MADV_DONTNEED) behind the row last handed out.
#include "platform/WebpCodec.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <webp/decode.h>

namespace {
constexpr size_t kChunk_ = 16 * 1024;  // input fed per step: a few rows of output at most
}  // namespace

struct WebpRows {
    FILE* File = nullptr;
    WebPIDecoder* Dec = nullptr;
    uint8_t* Out = nullptr;
    size_t OutSize = 0;
    int Stride = 0;
    int32_t Width = 0, Height = 0;
    int32_t Next = 0;         // the row handed out next
    int32_t Ready = 0;        // rows the decoder has finished
    size_t Dropped = 0;       // bytes of Out given back
    bool Done = false;        // the decoder has seen the whole picture
    uint8_t Input[kChunk_];
};

// Feeds the decoder until row Next is finished; an error code otherwise.
static int WebpFeed_(WebpRows* r)
{
    while (r->Ready <= r->Next) {
        if (r->Done) return WEBP_DAMAGED;
        const size_t got = std::fread(r->Input, 1, kChunk_, r->File);
        if (got == 0) return std::ferror(r->File) ? WEBP_READ : WEBP_DAMAGED;
        const VP8StatusCode st = WebPIAppend(r->Dec, r->Input, got);
        if (st == VP8_STATUS_OK) r->Done = true;
        else if (st != VP8_STATUS_SUSPENDED) return st == VP8_STATUS_OUT_OF_MEMORY ? WEBP_MEMORY : WEBP_DAMAGED;
        int lastY = 0;
        if (WebPIDecGetRGB(r->Dec, &lastY, nullptr, nullptr, nullptr) && lastY > r->Ready) r->Ready = lastY;
    }
    return WEBP_OK;
}

int WebpRowsOpen(const char* name, WebpRows** rows, int32_t* width, int32_t* height)
{
    *rows = nullptr;
    WebpRows* r = new (std::nothrow) WebpRows;
    if (!r) return WEBP_MEMORY;
    *rows = r;
    r->File = std::fopen(name, "rb");
    if (!r->File) return WEBP_READ;
    // The features come from the first bytes; a header longer than a chunk is no WebP we know.
    const size_t got = std::fread(r->Input, 1, kChunk_, r->File);
    WebPBitstreamFeatures f;
    if (WebPGetFeatures(r->Input, got, &f) != VP8_STATUS_OK || f.width <= 0 || f.height <= 0) return WEBP_DAMAGED;
    if (f.has_animation) return WEBP_UNSUPPORTED;
    r->Width = f.width;
    r->Height = f.height;
    r->Stride = f.width * 3;
    r->OutSize = static_cast<size_t>(r->Stride) * static_cast<size_t>(f.height);
    void* out = mmap(nullptr, r->OutSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (out == MAP_FAILED) return WEBP_MEMORY;
    r->Out = static_cast<uint8_t*>(out);
    r->Dec = WebPINewRGB(MODE_BGR, r->Out, r->OutSize, r->Stride);
    if (!r->Dec) return WEBP_MEMORY;
    const VP8StatusCode st = WebPIAppend(r->Dec, r->Input, got);
    if (st == VP8_STATUS_OK) r->Done = true;
    else if (st != VP8_STATUS_SUSPENDED) return WEBP_DAMAGED;
    int lastY = 0;
    if (WebPIDecGetRGB(r->Dec, &lastY, nullptr, nullptr, nullptr)) r->Ready = lastY;
    *width = r->Width;
    *height = r->Height;
    return WEBP_OK;
}

int WebpRowsNext(WebpRows* r, uint8_t* row)
{
    if (!r || !r->Dec || r->Next >= r->Height) return WEBP_DAMAGED;
    const int rc = WebpFeed_(r);
    if (rc != WEBP_OK) return rc;
    std::memcpy(row, r->Out + static_cast<size_t>(r->Next) * r->Stride, static_cast<size_t>(r->Stride));
    ++r->Next;
    // Whole pages behind the rows handed out go back to the system.
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t behind = static_cast<size_t>(r->Next) * r->Stride / page * page;
    if (behind >= r->Dropped + (1u << 20)) {
        madvise(r->Out + r->Dropped, behind - r->Dropped, MADV_DONTNEED);
        r->Dropped = behind;
    }
    return WEBP_OK;
}

void WebpRowsClose(WebpRows* r)
{
    if (!r) return;
    if (r->Dec) WebPIDelete(r->Dec);
    if (r->Out) munmap(r->Out, r->OutSize);
    if (r->File) std::fclose(r->File);
    delete r;
}
