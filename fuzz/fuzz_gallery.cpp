// Gallery files: GalleryRead unpacks into a scratch storage folder. Any input is refused with a
// box or unpacked; nothing is ever written outside the storage folder.
#include "FuzzUtil.h"

#include <filesystem>

#include "core/Gallery.h"
#include "core/ImageStore.h"
#include "core/Settings.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::WriteInput("input.gal", data, size);
    const std::string store = fuzz::Scratch() + "store/";
    std::error_code ec;
    fs::remove_all(store, ec);
    fs::create_directories(store, ec);
    SetStorageDir(store);
    {
        fuzz::BalanceCheck balance;
        StoreFree();
        GalleryRead(path);
        StoreFree();
    }
    // Only the storage folder and the input may be in the scratch root.
    for (const auto& e : fs::directory_iterator(fuzz::Scratch())) {
        const std::string n = e.path().filename().string();
        if (n != "store" && n != "input.gal" && n != "WINDOWS" && n != "prog") {
            std::fprintf(stderr, "gallery wrote outside the storage folder: %s\n", n.c_str());
            std::abort();
        }
    }
    for (const auto& e : fs::recursive_directory_iterator(fuzz::Scratch() + "WINDOWS"))
        if (e.is_regular_file() && e.path().filename() != "registry.ini" && e.path().filename() != "win.ini") {
            std::fprintf(stderr, "gallery wrote into the Windows folder: %s\n", e.path().c_str());
            std::abort();
        }
    for (const auto& e : fs::directory_iterator(store))
        if (e.is_directory()) {
            std::fprintf(stderr, "gallery made a folder in the store: %s\n", e.path().c_str());
            std::abort();
        }
    return 0;
}
