// The GIF frame reader: GIFOpen scanning the whole file (selector 0), then GIFLoadNext for
// every image it located, composing onto one picture as the players do.
#include "FuzzUtil.h"

#include "formats/FF_GIF.h"
#include "image/ImgBasic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A new name per input: the reader caches its scan per name, size and date.
    static unsigned serial = 0;
    const std::string path = fuzz::WriteInput("anim" + std::to_string(serial++ % 2) + ".gif", data, size);
    {
        fuzz::BalanceCheck balance;
        GIFFile gf;
        Image img;
        try {
            GIFOpen(gf, path, 0);
            if (gf.ImgCount < 0) std::abort();
            while (gf.NextImg < gf.ImgCount) {
                const int32_t before = gf.NextImg;
                GIFLoadNext(gf, img);
                if (gf.NextImg <= before) std::abort();  // no progress would hang a player
                if (img.Width != gf.Width || img.Height != gf.Height || img.Bpp != 8) std::abort();
            }
        } catch (const EMon&) {
        }
        GIFClose(gf);
        ImgFree(img);
        GIFDone();
    }
    return 0;
}
