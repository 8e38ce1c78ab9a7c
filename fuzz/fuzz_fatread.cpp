// Reading a whole FAT file system as a disk image command stages it: every folder listed, every
// file read and looked up by its path. Any bytes give sound items or a refusal, never a read out
// of bounds, a loop or an endless walk. The input is the file system's start; the rest reads as
// zeros (a hole), so small inputs still reach the FAT, the folders and the data.
#include "FuzzUtil.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/FatRead.h"

namespace {

int g_items = 0;

void walk_(FatVolume& v, const FatItem& folder, const std::string& path, int depth, int null)
{
    std::vector<FatItem> items;
    std::string label;
    if (depth > 6 || !FatList(v, folder, items, &label)) return;
    for (const FatItem& item : items) {
        if (++g_items > 2000) return;
        if (item.shortName.empty() || item.name.empty()) std::abort();
        const std::string at = path.empty() ? item.shortName : path + "/" + item.shortName;
        FatItem found;
        if (!FatFind(v, at, found)) std::abort();
        if (item.attr & FAT_ATTR_FOLDER) {
            walk_(v, item, at, depth + 1, null);
        } else {
            std::vector<uint8_t> data;
            if (FatReadFile(v, item, 64 * 1024, data) && data.size() != std::min<size_t>(item.size, 64 * 1024)) std::abort();
            if (lseek(null, 0, SEEK_SET) != 0) std::abort();
            FatCopyFile(v, item, null);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::WriteInput("fat.img", data, size);
    if (truncate(path.c_str(), static_cast<off_t>(size) + 256 * 1024) != 0) std::abort();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd < 0 || null < 0) std::abort();
    FatVolume v;
    if (FatOpen(fd, 0, static_cast<int64_t>(size) + 256 * 1024, v)) {
        g_items = 0;
        walk_(v, FatRoot(v), "", 0, null);
        if (FatFreeClusters(v, true) > int64_t(v.clusters) || FatFreeClusters(v, false) > int64_t(v.clusters)) std::abort();
    }
    close(fd);
    close(null);
    return 0;
}
