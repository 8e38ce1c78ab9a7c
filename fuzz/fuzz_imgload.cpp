// ImgLoad with one format forced (KVS_FUZZ_FORMAT, set per harness by the build): any input gives
// a picture or the format's error, never a crash, a hang or a leak.
#include "FuzzUtil.h"

#include "formats/FFDispatch.h"
#include "formats/FF_GIF.h"
#include "image/ImgBasic.h"

// libheif 1.15's AV1 decoder leaves dav1d's data reference behind when a damaged AVIF makes it
// fail (inside the library, after every handle of ours is released): not ours to fix.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::WriteInput("input", data, size);
    {
        fuzz::BalanceCheck balance;
        Image img;
        try {
            ImgLoad(path, img, KVS_FUZZ_FORMAT);
            if (!ImgIsValid(img)) std::abort();
            const int64_t need = int64_t(img.Width) * img.Height * img.BytesPerPixel;
            if (img.Size != need || need > IMG_MAX_BYTES) std::abort();
            // The ends of the block: a short buffer shows up under the address sanitizer.
            volatile uint8_t edge = img.Data[0];
            edge = img.Data[img.Size - 1];
            (void)edge;
        } catch (const EMon&) {
        }
        ImgFree(img);
        if (KVS_FUZZ_FORMAT == FMT_GIF) GIFDone();
    }
    return 0;
}
