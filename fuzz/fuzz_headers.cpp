// headers.dat: ReadImageIndex over any bytes gives a list of sound entries whose names stay
// inside the storage folder.
#include "FuzzUtil.h"

#include "core/ImageStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::WriteInput("headers.dat", data, size);
    fuzz::BalanceCheck balance;
    ImageList* list = ImageListCreate();
    ReadImageIndex(list, path);
    for (int i = 0; i < ImageListCount(list); ++i) {
        const ImageEntry* e = ImageListGet(list, i);
        if (!e || e->Name[0] > IMAGE_NAME_MAX) std::abort();
        const std::string name = EntryName(*e);
        if (name.find('/') != std::string::npos || name == "." || name == "..") std::abort();
    }
    ImageListFree(list);
    return 0;
}
