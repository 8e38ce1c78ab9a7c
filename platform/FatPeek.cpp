// The FAT look: boot sector, FAT, root folder, WINDOWS folder and MSDOS.SYS.
#include "platform/FatPeek.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Bytes.h"
#include "base/Mon.h"

namespace {

// A folder bigger than this is read only this far: Windows folders hold a few thousand entries.
constexpr int64_t DIR_MAX = 2 * 1024 * 1024;
// A FAT up to this size is read whole for the free space; a larger FAT32 needs its FSInfo.
constexpr int64_t FAT_READ_MAX = 16 * 1024 * 1024;
constexpr uint32_t ATTR_VOLUME = 0x08, ATTR_DIR = 0x10, ATTR_LFN = 0x0F;

struct Fs_ {
    int fd = -1;
    int64_t base = 0, end = 0;
    uint32_t bps = 0, clusterBytes = 0, clusters = 0, rootCluster = 0, rootEntries = 0;
    int bits = 0;
    int64_t fatStart = 0, fatBytes = 0, rootStart = 0, dataStart = 0;
    std::vector<uint8_t> fat;  // the first FAT, when read
};

struct Entry_ {
    std::string name;  // "WIN.COM", upper case
    uint8_t attr = 0;
    uint32_t cluster = 0, size = 0;
};

bool read_(const Fs_& f, int64_t rel, uint8_t* buf, int64_t size)
{
    if (rel < 0 || size < 0 || f.base + rel > f.end - size) return false;
    int64_t done = 0;
    while (done < size) {
        const ssize_t n = pread(f.fd, buf + done, static_cast<size_t>(size - done), f.base + rel + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

bool readFat_(Fs_& f)
{
    if (!f.fat.empty()) return true;
    if (f.fatBytes > FAT_READ_MAX) return false;
    std::vector<uint8_t> fat(static_cast<size_t>(f.fatBytes));
    if (!read_(f, f.fatStart, fat.data(), f.fatBytes)) return false;
    f.fat.swap(fat);
    return true;
}

// The FAT entry of cluster c; 0 (free, ends a chain) when it cannot be read. The FAT covers every
// cluster: the geometry check made sure.
uint32_t next_(Fs_& f, uint32_t c)
{
    uint8_t b[4] = {0, 0, 0, 0};
    const int64_t at = f.bits == 12 ? c + c / 2 : int64_t(c) * (f.bits / 8);
    const int64_t n = f.bits == 32 ? 4 : 2;
    if (!f.fat.empty()) {
        if (at + n > int64_t(f.fat.size())) return 0;
        memcpy(b, f.fat.data() + at, static_cast<size_t>(n));
    } else if (!read_(f, f.fatStart + at, b, n)) return 0;
    if (f.bits == 12) return (c & 1) ? BytesGetLE16(b) >> 4 : BytesGetLE16(b) & 0xFFF;
    if (f.bits == 16) return BytesGetLE16(b);
    return BytesGetLE32(b) & 0x0FFFFFFF;
}

// Up to max bytes of the cluster chain from first; a loop, a free or bad entry or an unreadable
// cluster ends it.
std::vector<uint8_t> chain_(Fs_& f, uint32_t first, int64_t max)
{
    std::vector<uint8_t> out;
    uint32_t c = first;
    for (uint32_t steps = 0; c >= 2 && c < f.clusters + 2 && steps < f.clusters && int64_t(out.size()) < max; steps++) {
        const size_t at = out.size();
        out.resize(at + f.clusterBytes);
        if (!read_(f, f.dataStart + int64_t(c - 2) * f.clusterBytes, out.data() + at, f.clusterBytes)) {
            out.resize(at);
            break;
        }
        c = next_(f, c);
    }
    if (int64_t(out.size()) > max) out.resize(static_cast<size_t>(max));
    return out;
}

std::string trim_(const uint8_t* p, size_t n)
{
    std::string s(reinterpret_cast<const char*>(p), n);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

std::vector<Entry_> entries_(const Fs_& f, const std::vector<uint8_t>& dir, std::string* label)
{
    std::vector<Entry_> out;
    for (size_t at = 0; at + 32 <= dir.size(); at += 32) {
        const uint8_t* e = dir.data() + at;
        if (e[0] == 0) break;
        if (e[0] == 0xE5 || (e[11] & ATTR_LFN) == ATTR_LFN) continue;
        if (e[11] & ATTR_VOLUME) {
            if (label && label->empty()) *label = trim_(e, 11);
            continue;
        }
        Entry_ x;
        x.name = trim_(e, 8);
        if (!x.name.empty() && x.name[0] == 0x05) x.name[0] = static_cast<char>(0xE5);
        const std::string ext = trim_(e + 8, 3);
        if (!ext.empty()) x.name += "." + ext;
        for (char& ch : x.name) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
        x.attr = e[11];
        x.cluster = BytesGetLE16(e + 26) | (f.bits == 32 ? uint32_t(BytesGetLE16(e + 20)) << 16 : 0);
        x.size = BytesGetLE32(e + 28);
        out.push_back(x);
    }
    return out;
}

const Entry_* find_(const std::vector<Entry_>& list, const char* name, bool folder)
{
    for (const Entry_& e : list)
        if (e.name == name && ((e.attr & ATTR_DIR) != 0) == folder) return &e;
    return nullptr;
}

// The geometry of the boot sector, checked against itself and the file.
bool geometry_(Fs_& f, const uint8_t* b)
{
    f.bps = BytesGetLE16(b + 11);
    const uint32_t spc = b[13], reserved = BytesGetLE16(b + 14), fats = b[16];
    f.rootEntries = BytesGetLE16(b + 17);
    const uint32_t total16 = BytesGetLE16(b + 19), fat16 = BytesGetLE16(b + 22);
    const int64_t total = total16 ? total16 : BytesGetLE32(b + 32);
    const int64_t fatSectors = fat16 ? fat16 : BytesGetLE32(b + 36);
    f.clusterBytes = f.bps * spc;
    if (f.clusterBytes > 256 * 1024 || fatSectors == 0 || total == 0) return false;
    const int64_t rootSectors = (int64_t(f.rootEntries) * 32 + f.bps - 1) / f.bps;
    const int64_t firstData = reserved + fats * fatSectors + rootSectors;
    if (firstData >= total) return false;
    const int64_t clusters = (total - firstData) / spc;
    f.bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
    if (f.bits == 32 && (fat16 != 0 || f.rootEntries != 0)) return false;
    if (clusters < 1 || clusters > 0x0FFFFFF5) return false;
    f.clusters = static_cast<uint32_t>(clusters);
    f.fatStart = int64_t(reserved) * f.bps;
    f.fatBytes = fatSectors * f.bps;
    // The FAT must hold an entry for every cluster, or chains would read past it.
    if ((f.fatBytes * 8) / f.bits < clusters + 2) return false;
    f.rootStart = f.fatStart + fats * f.fatBytes;
    f.dataStart = firstData * f.bps;
    f.rootCluster = f.bits == 32 ? BytesGetLE32(b + 44) : 0;
    return true;
}

int64_t freeClusters_(Fs_& f, const uint8_t* boot)
{
    if (f.bits == 32) {
        uint8_t info[512];
        const int64_t at = int64_t(BytesGetLE16(boot + 48)) * f.bps;
        if (at > 0 && read_(f, at, info, sizeof info) && BytesGetLE32(info) == 0x41615252 &&
            BytesGetLE32(info + 484) == 0x61417272) {
            const uint32_t n = BytesGetLE32(info + 488);
            if (n <= f.clusters) return n;
        }
    }
    if (!readFat_(f)) return -1;
    int64_t n = 0;
    for (uint32_t c = 2; c < f.clusters + 2; c++)
        if (next_(f, c) == 0) n++;
    return n;
}

}  // namespace

bool FatIsBootSector(const uint8_t* b)
{
    TRACE("FatPeek.FatIsBootSector");
    if (b[0] != 0xEB && b[0] != 0xE9) return false;
    if (b[510] != 0x55 || b[511] != 0xAA) return false;
    const unsigned bps = BytesGetLE16(b + 11), spc = b[13];
    if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return false;
    if (spc == 0 || (spc & (spc - 1)) != 0) return false;
    return BytesGetLE16(b + 14) > 0 && b[16] >= 1 && b[16] <= 2;
}

bool FatPeek(int fd, int64_t offset, int64_t end, FatLook& look)
{
    TRACE("FatPeek.FatPeek");
    look = FatLook();
    Fs_ f;
    f.fd = fd;
    f.base = offset;
    f.end = end;
    uint8_t boot[512];
    if (!read_(f, 0, boot, sizeof boot) || !FatIsBootSector(boot) || !geometry_(f, boot)) return false;
    look.size = (BytesGetLE16(boot + 19) ? BytesGetLE16(boot + 19) : int64_t(BytesGetLE32(boot + 32))) * f.bps;
    if (look.size > end - offset) return false;  // cut short: a damaged copy, not a drive to offer
    if (f.fatBytes <= 1024 * 1024) readFat_(f);  // small FATs once, instead of sector by sector

    std::vector<uint8_t> rootDir;
    if (f.bits == 32) {
        rootDir = chain_(f, f.rootCluster, DIR_MAX);
    } else {
        rootDir.resize(size_t(f.rootEntries) * 32);
        if (!read_(f, f.rootStart, rootDir.data(), int64_t(rootDir.size()))) return false;
    }
    const std::vector<Entry_> root = entries_(f, rootDir, &look.label);
    if (look.label.empty()) {
        const std::string own = trim_(boot + (f.bits == 32 ? 71 : 43), 11);
        if (own != "NO NAME") look.label = own;
    }
    const int64_t freeClusters = freeClusters_(f, boot);
    if (freeClusters >= 0) look.freeBytes = freeClusters * f.clusterBytes;

    const Entry_* msdos = find_(root, "MSDOS.SYS", false);
    const Entry_* win = find_(root, "WINDOWS", true);
    if (win) {
        for (const Entry_& e : entries_(f, chain_(f, win->cluster, DIR_MAX), nullptr))
            if (e.name != "." && e.name != "..") look.windowsNames.push_back(e.name);
    }
    bool winCom = false;
    for (const std::string& n : look.windowsNames) winCom = winCom || n == "WIN.COM";
    if (msdos) {
        const std::vector<uint8_t> text = chain_(f, msdos->cluster, std::min<int64_t>(msdos->size, FAT_PEEK_TEXT_MAX));
        look.msdosSys.assign(text.begin(), text.end());
    }
    look.windows = msdos && winCom;
    return true;
}
