// Reading a FAT file system: geometry, the FAT, folders with long names, file content.
#include "platform/FatRead.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/Bytes.h"
#include "base/CharSet.h"
#include "base/Mon.h"

namespace {

constexpr uint8_t ATTR_LFN = 0x0F;
// The FAT is read in pieces of this size as chains need them.
constexpr int64_t FAT_BLOCK = 4096;
// A FAT larger than this belongs to a disk far beyond Windows 9x's: its free space is not counted.
constexpr int64_t FAT_COUNT_MAX = 64 * 1024 * 1024;
// Code page 850 (mtools' default for short names), bytes 0x80-0xFF.
constexpr uint16_t CP850_HIGH[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C,
    0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

// size bytes at rel (from the file system's start); false when any lies outside what may be read.
bool read_(const FatVolume& v, int64_t rel, uint8_t* buf, int64_t size)
{
    if (rel < 0 || size < 0 || v.base + rel > v.end - size) return false;
    int64_t done = 0;
    while (done < size) {
        const ssize_t n = pread(v.fd, buf + done, static_cast<size_t>(size - done), v.base + rel + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// Byte at of the first FAT, through the pieces read so far; -1 when it cannot be read.
int fatByte_(FatVolume& v, int64_t at)
{
    if (at < 0 || at >= v.fatBytes) return -1;
    const int64_t block = at / FAT_BLOCK;
    auto it = v.fatBlocks.find(block);
    if (it == v.fatBlocks.end()) {
        const int64_t n = std::min(FAT_BLOCK, v.fatBytes - block * FAT_BLOCK);
        std::vector<uint8_t> piece(static_cast<size_t>(n));
        if (!read_(v, v.fatStart + block * FAT_BLOCK, piece.data(), n)) return -1;
        it = v.fatBlocks.emplace(block, std::move(piece)).first;
    }
    return it->second[static_cast<size_t>(at - block * FAT_BLOCK)];
}

// The FAT entry of cluster c; 0 (free, which ends every chain) when it cannot be read.
uint32_t next_(FatVolume& v, uint32_t c)
{
    const int64_t at = v.bits == 12 ? int64_t(c) + c / 2 : int64_t(c) * (v.bits / 8);
    uint32_t value = 0;
    for (int i = 0; i < (v.bits == 32 ? 4 : 2); i++) {
        const int b = fatByte_(v, at + i);
        if (b < 0) return 0;
        value |= uint32_t(b) << (8 * i);
    }
    if (v.bits == 12) return (c & 1) ? value >> 4 : value & 0xFFF;
    return v.bits == 16 ? value : value & 0x0FFFFFFF;
}

bool isData_(const FatVolume& v, uint32_t c)
{
    return c >= 2 && c < v.clusters + 2;
}

// Reads the chain from first in runs of neighbouring clusters, up to max bytes, handing each run
// to take(bytes, count); false when the chain ends early (when mustFill), loops or cannot be read.
template <typename Take>
bool walk_(FatVolume& v, uint32_t first, int64_t max, bool mustFill, Take take)
{
    int64_t left = max;
    uint32_t c = first;
    std::vector<uint8_t> buf;
    for (uint32_t steps = 0; left > 0;) {
        if (!isData_(v, c)) return !mustFill;
        uint32_t run = 1;
        uint32_t after = next_(v, c);
        // Neighbouring clusters are read at once: a file written in one go lies in one run.
        while (int64_t(run) * v.clusterBytes < left && after == c + run && isData_(v, after) && run < 256) {
            run++;
            after = next_(v, c + run - 1);
        }
        steps += run;
        if (steps > v.clusters) return false;  // a loop
        const int64_t n = std::min<int64_t>(left, int64_t(run) * v.clusterBytes);
        buf.resize(static_cast<size_t>(n));
        if (!read_(v, v.dataStart + int64_t(c - 2) * v.clusterBytes, buf.data(), n)) return false;
        if (!take(buf.data(), n)) return false;
        left -= n;
        c = after;
    }
    return true;
}

// Whether the file's size fits the file system at all: a damaged entry can claim 4 GiB.
bool fits_(const FatVolume& v, const FatItem& file)
{
    return int64_t(file.size) <= int64_t(v.clusters) * v.clusterBytes;
}

std::string trimmed_(const uint8_t* p, size_t n)
{
    size_t len = n;
    while (len > 0 && p[len - 1] == ' ') len--;
    return std::string(reinterpret_cast<const char*>(p), len);
}

// A short name part as text: code page 850, lower case when the entry's case flag says so.
std::string shortPart_(const std::string& raw, bool lower)
{
    std::string out;
    for (unsigned char ch : raw) {
        if (lower && ch >= 'A' && ch <= 'Z') ch = static_cast<unsigned char>(ch + 32);
        CharAppendUtf8(out, ch < 0x80 ? ch : CP850_HIGH[ch - 0x80]);
    }
    return out;
}

uint8_t checksum_(const uint8_t* shortName)
{
    uint8_t sum = 0;
    for (int i = 0; i < 11; i++) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + shortName[i]);
    return sum;
}

// The long name a run of LFN entries spells, in the order they are stored (last part first).
struct LongName_ {
    std::vector<uint16_t> units;  // UTF-16, in reading order
    int expect = 0;               // the sequence number the next part must carry; 0: complete
    uint8_t sum = 0;
};

void lfnEntry_(LongName_& ln, const uint8_t* e)
{
    const int seq = e[0] & 0x1F;
    if (e[0] & 0x40) {  // the name's last part, stored first
        ln = LongName_();
        if (seq == 0) return;
        ln.units.assign(size_t(seq) * 13, 0xFFFF);
        ln.sum = e[13];
    } else if (ln.expect == 0 || seq != ln.expect || e[13] != ln.sum) {
        ln = LongName_();  // a part out of order: the entry that follows has no long name
        return;
    }
    static const int at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int i = 0; i < 13; i++) ln.units[size_t(seq - 1) * 13 + i] = BytesGetLE16(e + at[i]);
    ln.expect = seq - 1;
}

std::string utf8Of_(const std::vector<uint16_t>& units)
{
    std::string out;
    for (size_t i = 0; i < units.size() && units[i] != 0; i++) {
        uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            i++;
        }
        CharAppendUtf8(out, u);
    }
    return out;
}

// Whether a name can stand as one part of a path: no separator, no control character, no "." or "..".
bool soundName_(const std::string& name)
{
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == '/' || c == '\\') return false;
    return true;
}

bool sameName_(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

bool FatIsBootSector(const uint8_t* b)
{
    TRACE("FatRead.FatIsBootSector");
    if (b[0] != 0xEB && b[0] != 0xE9) return false;
    if (b[510] != 0x55 || b[511] != 0xAA) return false;
    const unsigned bps = BytesGetLE16(b + 11), spc = b[13];
    if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return false;
    if (spc == 0 || (spc & (spc - 1)) != 0) return false;
    return BytesGetLE16(b + 14) > 0 && b[16] >= 1 && b[16] <= 2;
}

bool FatOpen(int fd, int64_t offset, int64_t end, FatVolume& v)
{
    TRACE("FatRead.FatOpen");
    v = FatVolume();
    v.fd = fd;
    v.base = offset;
    v.end = end;
    v.boot.resize(512);
    const uint8_t* b = v.boot.data();
    if (!read_(v, 0, v.boot.data(), 512) || !FatIsBootSector(b)) return false;
    v.bytesPerSector = BytesGetLE16(b + 11);
    const uint32_t spc = b[13], reserved = BytesGetLE16(b + 14), fats = b[16];
    v.rootEntries = BytesGetLE16(b + 17);
    const uint32_t total16 = BytesGetLE16(b + 19), fat16 = BytesGetLE16(b + 22);
    const int64_t total = total16 ? total16 : BytesGetLE32(b + 32);
    const int64_t fatSectors = fat16 ? fat16 : BytesGetLE32(b + 36);
    v.clusterBytes = v.bytesPerSector * spc;
    if (v.clusterBytes > 256 * 1024 || fatSectors == 0 || total == 0) return false;
    const int64_t rootSectors = (int64_t(v.rootEntries) * 32 + v.bytesPerSector - 1) / v.bytesPerSector;
    const int64_t firstData = reserved + fats * fatSectors + rootSectors;
    if (firstData >= total) return false;
    const int64_t clusters = (total - firstData) / spc;
    v.bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
    if (v.bits == 32 && (fat16 != 0 || v.rootEntries != 0)) return false;
    if (clusters < 1 || clusters > 0x0FFFFFF5) return false;
    v.clusters = static_cast<uint32_t>(clusters);
    v.size = total * v.bytesPerSector;
    v.fatStart = int64_t(reserved) * v.bytesPerSector;
    v.fatBytes = fatSectors * v.bytesPerSector;
    // The FAT must hold an entry for every cluster, or chains would read past it.
    if ((v.fatBytes * 8) / v.bits < clusters + 2) return false;
    v.rootStart = v.fatStart + fats * v.fatBytes;
    v.dataStart = firstData * v.bytesPerSector;
    v.rootCluster = v.bits == 32 ? BytesGetLE32(b + 44) : 0;
    v.infoSector = v.bits == 32 ? BytesGetLE16(b + 48) : 0;
    return true;
}

FatItem FatRoot(const FatVolume& v)
{
    FatItem root;
    root.attr = FAT_ATTR_FOLDER;
    root.cluster = v.rootCluster;
    root.root = true;
    return root;
}

bool FatList(FatVolume& v, const FatItem& folder, std::vector<FatItem>& out, std::string* label)
{
    TRACE("FatRead.FatList");
    if (!(folder.attr & FAT_ATTR_FOLDER)) return false;
    std::vector<uint8_t> dir;
    if (folder.root && v.bits != 32) {
        dir.resize(size_t(v.rootEntries) * 32);
        if (!read_(v, v.rootStart, dir.data(), int64_t(dir.size()))) return false;
    } else {
        // A folder ends where its chain ends; one that points nowhere is empty.
        const bool ok = walk_(v, folder.cluster, FAT_FOLDER_MAX, false, [&](const uint8_t* p, int64_t n) {
            dir.insert(dir.end(), p, p + n);
            return true;
        });
        if (!ok) return false;
    }
    LongName_ ln;
    for (size_t at = 0; at + 32 <= dir.size(); at += 32) {
        const uint8_t* e = dir.data() + at;
        if (e[0] == 0) break;
        if (e[0] == 0xE5) {
            ln.expect = 0;
            continue;
        }
        if ((e[11] & 0x3F) == ATTR_LFN) {
            lfnEntry_(ln, e);
            continue;
        }
        const bool named = ln.expect == 0 && !ln.units.empty() && ln.sum == checksum_(e);
        std::vector<uint16_t> units;
        if (named) units.swap(ln.units);
        ln = LongName_();
        if (e[11] & FAT_ATTR_VOLUME) {
            if (label && label->empty()) *label = trimmed_(e, 11);
            continue;
        }
        std::string base = trimmed_(e, 8);
        if (!base.empty() && static_cast<uint8_t>(base[0]) == 0x05) base[0] = static_cast<char>(0xE5);
        if (base.empty() || base == "." || base == "..") continue;  // a blank name is no entry
        FatItem item;
        item.shortName = shortPart_(base, e[12] & 0x08);
        const std::string ext = trimmed_(e + 8, 3);
        if (!ext.empty()) item.shortName += "." + shortPart_(ext, e[12] & 0x10);
        if (!soundName_(item.shortName)) continue;  // damaged: no path could name it
        item.name = named ? utf8Of_(units) : std::string();
        if (!soundName_(item.name)) item.name = item.shortName;
        item.attr = e[11];
        item.cluster = BytesGetLE16(e + 26) | (v.bits == 32 ? uint32_t(BytesGetLE16(e + 20)) << 16 : 0);
        item.size = (e[11] & FAT_ATTR_FOLDER) ? 0 : BytesGetLE32(e + 28);
        item.date = BytesGetLE16(e + 24);
        item.time = BytesGetLE16(e + 22);
        out.push_back(item);
    }
    return true;
}

bool FatFind(FatVolume& v, const std::string& path, FatItem& item)
{
    TRACE("FatRead.FatFind");
    item = FatRoot(v);
    size_t pos = 0;
    while (pos < path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        const std::string part = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty()) continue;
        std::vector<FatItem> entries;
        if (!FatList(v, item, entries)) return false;
        bool found = false;
        for (const FatItem& e : entries)
            if (sameName_(e.name, part) || sameName_(e.shortName, part)) {
                item = e;
                found = true;
                break;
            }
        if (!found) return false;
    }
    return true;
}

bool FatReadFile(FatVolume& v, const FatItem& file, int64_t max, std::vector<uint8_t>& out)
{
    TRACE("FatRead.FatReadFile");
    out.clear();
    if ((file.attr & FAT_ATTR_FOLDER) || !fits_(v, file)) return false;
    return walk_(v, file.cluster, std::min<int64_t>(max, file.size), true, [&](const uint8_t* p, int64_t n) {
        out.insert(out.end(), p, p + n);
        return true;
    });
}

int64_t FatModified(const FatItem& item)
{
    TRACE("FatRead.FatModified");
    if (item.date == 0) return 0;
    std::tm t{};
    t.tm_year = 80 + (item.date >> 9);
    t.tm_mon = ((item.date >> 5) & 15) - 1;
    t.tm_mday = item.date & 31;
    t.tm_hour = item.time >> 11;
    t.tm_min = (item.time >> 5) & 63;
    t.tm_sec = (item.time & 31) * 2;
    t.tm_isdst = -1;
    const time_t s = mktime(&t);
    return s == time_t(-1) ? 0 : int64_t(s);
}

bool FatCopyFile(FatVolume& v, const FatItem& file, int outFd)
{
    TRACE("FatRead.FatCopyFile");
    if ((file.attr & FAT_ATTR_FOLDER) || !fits_(v, file)) return false;
    return walk_(v, file.cluster, file.size, true, [&](const uint8_t* p, int64_t n) {
        int64_t done = 0;
        while (done < n) {
            const ssize_t w = write(outFd, p + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
        return true;
    });
}

int64_t FatFreeClusters(FatVolume& v, bool trustInfo)
{
    TRACE("FatRead.FatFreeClusters");
    if (trustInfo && v.bits == 32 && v.infoSector > 0) {
        uint8_t info[512];
        if (read_(v, v.infoSector * v.bytesPerSector, info, sizeof info) && BytesGetLE32(info) == 0x41615252 &&
            BytesGetLE32(info + 484) == 0x61417272) {
            const uint32_t n = BytesGetLE32(info + 488);
            if (n <= v.clusters) return n;
        }
    }
    const int64_t needed = (int64_t(v.clusters) + 2) * v.bits / 8 + 2;
    if (needed > FAT_COUNT_MAX) return -1;
    std::vector<uint8_t> fat(static_cast<size_t>(std::min(needed, v.fatBytes)));
    if (!read_(v, v.fatStart, fat.data(), int64_t(fat.size()))) return -1;
    int64_t free = 0;
    for (uint32_t c = 2; c < v.clusters + 2; c++) {
        const size_t at = v.bits == 12 ? c + c / 2 : size_t(c) * (v.bits / 8);
        uint32_t value;
        if (v.bits == 32) value = BytesGetLE32(&fat[at]) & 0x0FFFFFFF;
        else if (v.bits == 16) value = BytesGetLE16(&fat[at]);
        else value = (c & 1) ? BytesGetLE16(&fat[at]) >> 4 : BytesGetLE16(&fat[at]) & 0xFFF;
        if (value == 0) free++;
    }
    return free;
}
