// The streamed fit of adding: LogoFitLoad in the three resize modes. The first byte picks the
// file's extension (and so the reader, streamed for JPEG, PNG and WebP), the rest is the file. Any input
// gives a 320 x 400 picture or the format's error, never a crash, a hang or a leak.
#include "FuzzUtil.h"

#include "core/LogoFit.h"
#include "core/LogoBuilder.h"
#include "formats/FF_GIF.h"
#include "image/ImgBasic.h"

namespace {
// JPEG and PNG, the streamed readers, get three chances in eighteen each; WebP, the third one,
// and HEIF come last. A file whose content shows another format is read as that one anyway.
constexpr int kExtCount_ = 18;
const char* const kExts_[kExtCount_] = {".jpg", ".jpeg", ".jpg", ".png", ".png", ".png", ".bmp", ".tga", ".pcx",
                                        ".gif", ".tif",  ".xpm", ".rgb", ".ras", ".ppm", ".bay", ".webp", ".heic"};
}  // namespace

// libheif 1.15's AV1 decoder leaves dav1d's data reference behind when a damaged AVIF makes it
// fail (inside the library, after every handle of ours is released): not ours to fix.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const std::string path = fuzz::WriteInput(std::string("input") + kExts_[data[0] % kExtCount_], data + 1, size - 1);
    for (int mode : {RM_BORDER, RM_CROP, RM_STRETCH}) {
        fuzz::BalanceCheck balance;
        Image img;
        try {
            LogoFitLoad(path, Undef, mode, img);
            if (!ImgIsValid(img) || img.Width != LOGO_WIDTH || img.Height != LOGO_HEIGHT) std::abort();
            if (img.Size != int64_t(img.Width) * img.Height * img.BytesPerPixel) std::abort();
            volatile uint8_t edge = img.Data[0];
            edge = img.Data[img.Size - 1];
            (void)edge;
        } catch (const EMon&) {
        }
        ImgFree(img);
        GIFDone();
    }
    std::remove(path.c_str());
    return 0;
}
