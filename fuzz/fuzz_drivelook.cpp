// One look at a disk image, as the drive search takes it: any bytes give a list of sound entries
// or none, and the file is never changed. The input is the start of an image; the rest reads as
// zeros (a hole), so small inputs still reach the FAT, the folders and the MBR partitions.
#include "FuzzUtil.h"

#include <sys/stat.h>

#include "platform/DriveFind.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::WriteInput("disk.img", data, size);
    if (truncate(path.c_str(), static_cast<off_t>(size) + 256 * 1024) != 0) std::abort();
    struct stat before, after;
    if (stat(path.c_str(), &before) != 0) std::abort();
    fuzz::BalanceCheck balance;
    for (const DriveFound& d : DriveFindAt(path, "fuzz")) {
        if (d.partition < 0 || d.partition > 4 || d.size < 0 || d.freeBytes < -1) std::abort();
        if (d.refused.empty() && d.kind != "fat" && d.kind != "mbr" && d.kind != "vhd") std::abort();
    }
    if (stat(path.c_str(), &after) != 0 || after.st_size != before.st_size ||
        after.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
        std::abort();
    return 0;
}
