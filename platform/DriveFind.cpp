// The drive search: mount table, emulator folders, added folders, home folder.
#include "platform/DriveFind.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <set>
#include <sstream>

#include "base/Bytes.h"
#include "base/Mon.h"
#include "platform/DiskImage.h"
#include "platform/FatPeek.h"
#include "platform/FatRead.h"

namespace {

using Clock_ = std::chrono::steady_clock;
constexpr int SECTOR = 512;
// Smaller files cannot hold a Windows installation; skipping them spares most opens.
constexpr int64_t MIN_IMAGE = 64 * 1024;
const char* const IMAGE_EXTS[] = {"img", "ima", "raw", "vhd", "hdd", "dsk", "image", "qcow2", "qcow", "vmdk", "vdi"};
// File systems a Windows 95/98 partition is mounted as.
const char* const FAT_TYPES[] = {"vfat", "msdos", "umsdos", "fat"};
// Mounts a walk never enters: they can be slow or hang, and hold no emulator's default folder.
const char* const REMOTE_TYPES[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "glusterfs",
                                    "davfs", "9p", "autofs", "sshfs"};

struct Mount_ {
    std::string point, type, source;
};

struct Search_ {
    Clock_::time_point deadline;
    bool timedOut = false;
    std::set<std::string> seen;        // real paths looked at
    std::set<std::string> skipDirs;    // remote mount points
    std::vector<DriveFound> found, refused;
    bool late()
    {
        if (!timedOut && Clock_::now() >= deadline) timedOut = true;
        return timedOut;
    }
};

bool oneOf_(const std::string& s, const char* const* list, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (s == list[i]) return true;
    return false;
}

std::string env_(const char* name)
{
    const char* v = getenv(name);
    return v && *v ? std::string(v) : std::string();
}

std::string real_(const std::string& path)
{
    char* r = realpath(path.c_str(), nullptr);
    if (!r) return path;
    std::string s(r);
    free(r);
    return s;
}

// "\040" and the other octal escapes of the mount table.
std::string unescape_(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        const bool octal = s[i] == '\\' && i + 3 < s.size() && s.find_first_not_of("01234567", i + 1) >= i + 4;
        if (octal) {
            out += static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// "36 35 98:0 /root /mnt/point rw,noatime master:1 - vfat /dev/sdb1 rw": fields 5, and the two after "-".
std::vector<Mount_> mounts_(const std::string& table)
{
    std::vector<Mount_> out;
    std::ifstream in(table);
    std::string line;
    while (std::getline(in, line) && out.size() < 100000) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string x; words >> x;) w.push_back(x);
        const auto dash = std::find(w.begin(), w.end(), "-");
        if (w.size() < 5 || dash == w.end() || dash - w.begin() < 6 || w.end() - dash < 3) continue;
        out.push_back({unescape_(w[4]), dash[1], unescape_(dash[2])});
    }
    return out;
}

// The entry of folder named name in any letter case; empty when there is none.
std::string child_(const std::string& folder, const char* name, bool wantDir)
{
    DIR* d = opendir(folder.c_str());
    if (!d) return std::string();
    std::string found;
    while (dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, name) != 0) continue;
        struct stat st;
        const std::string p = folder + "/" + e->d_name;
        if (stat(p.c_str(), &st) == 0 && (wantDir ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode))) {
            found = p;
            break;
        }
    }
    closedir(d);
    return found;
}

std::vector<std::string> upperNames_(const std::string& folder)
{
    std::vector<std::string> out;
    DIR* d = opendir(folder.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        for (char& c : n) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (n != "." && n != "..") out.push_back(n);
        if (out.size() > 100000) break;
    }
    closedir(d);
    return out;
}

int openRead_(const std::string& path)
{
    // Never blocks on a device or pipe and leaves the access time alone where it may.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    return fd;
}

std::string readStart_(const std::string& path, int64_t max)
{
    const int fd = openRead_(path);
    if (fd < 0) return std::string();
    std::string s(static_cast<size_t>(max), '\0');
    ssize_t n = read(fd, s.data(), s.size());
    close(fd);
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

// The label udev knows for a block device, from /dev/disk/by-label.
std::string deviceLabel_(const std::string& source)
{
    if (source.rfind("/dev/", 0) != 0) return std::string();
    const std::string dev = real_(source);
    std::string label;
    DIR* d = opendir("/dev/disk/by-label");
    if (!d) return label;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.' || real_(std::string("/dev/disk/by-label/") + e->d_name) != dev) continue;
        label = unescape_(std::string(e->d_name));  // udev writes "\x20" for blanks
        for (size_t at; (at = label.find("\\x20")) != std::string::npos;) label.replace(at, 4, " ");
        break;
    }
    closedir(d);
    return label;
}

// A folder drive: root MSDOS.SYS and WINDOWS/WIN.COM in any letter case.
bool lookFolder_(const std::string& root, const std::string& place, const std::string& source, DriveFound& out)
{
    const std::string win = child_(root, "WINDOWS", true);
    const std::string msdos = child_(root, "MSDOS.SYS", false);
    if (win.empty() || msdos.empty() || child_(win, "WIN.COM", false).empty()) return false;
    out = DriveFound();
    out.path = root;
    out.kind = "mounted";
    out.place = place;
    out.windows = DriveFindVersion(readStart_(msdos, FAT_PEEK_TEXT_MAX), upperNames_(win));
    out.label = deviceLabel_(source);
    struct statvfs vs;
    if (statvfs(root.c_str(), &vs) == 0) {
        out.size = static_cast<int64_t>(vs.f_blocks) * static_cast<int64_t>(vs.f_frsize);
        out.freeBytes = static_cast<int64_t>(vs.f_bavail) * static_cast<int64_t>(vs.f_frsize);
    }
    return true;
}

// The kind a refused container is listed as: "qcow2", "vmdk", "vdi", "vhd-dynamic", "vhdx", ...
std::string foreignId_(const std::string& container)
{
    if (container == "dynamic VHD") return "vhd-dynamic";
    if (container == "VMDK descriptor") return "vmdk";
    std::string id = container;
    for (char& c : id) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return id;
}

bool isFatType_(unsigned t)
{
    switch (t) {
    case 0x01: case 0x04: case 0x06: case 0x0B: case 0x0C: case 0x0E:
    case 0x11: case 0x14: case 0x16: case 0x1B: case 0x1C: case 0x1E: return true;
    default: return false;
    }
}

DriveFound fromLook_(const std::string& path, int partition, const std::string& kind, const std::string& place,
                     const FatLook& look)
{
    DriveFound d;
    d.path = path;
    d.partition = partition;
    d.kind = kind;
    d.place = place;
    d.windows = DriveFindVersion(look.msdosSys, look.windowsNames);
    d.label = look.label;
    d.size = look.size;
    d.freeBytes = look.freeBytes;
    return d;
}

// One look at an image file: its container, then the file system or the FAT partitions of its MBR.
void lookImage_(const std::string& path, const std::string& place, std::vector<DriveFound>& found,
                std::vector<DriveFound>& refused)
{
    const int fd = openRead_(path);
    if (fd < 0) return;
    struct stat st;
    uint8_t first[SECTOR], footer[SECTOR];
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= MIN_IMAGE &&
                    pread(fd, first, SECTOR, 0) == SECTOR && pread(fd, footer, SECTOR, st.st_size - SECTOR) == SECTOR;
    if (ok) {
        const std::string foreign = DiskForeignKind(first, footer, st.st_size);
        const bool vhd = memcmp(footer, "conectix", 8) == 0;
        const int64_t end = vhd ? st.st_size - SECTOR : st.st_size;
        FatLook look;
        if (!foreign.empty()) {
            DriveFound d;
            d.path = path;
            d.kind = foreignId_(foreign);
            d.place = place;
            d.size = st.st_size;
            d.refused = "The disk image " + path + " is a " + foreign + " file." + DISK_CONVERT_HINT;
            refused.push_back(d);
        } else if (FatIsBootSector(first)) {
            if (FatPeek(fd, 0, end, look) && look.windows) found.push_back(fromLook_(path, 0, vhd ? "vhd" : "fat", place, look));
        } else if (first[510] == 0x55 && first[511] == 0xAA) {
            for (int i = 0; i < 4; i++) {
                const uint8_t* e = first + 446 + 16 * i;
                const int64_t start = int64_t(BytesGetLE32(e + 8)) * SECTOR;
                if (!isFatType_(e[4]) || start <= 0 || start >= end) continue;
                if (FatPeek(fd, start, end, look) && look.windows)
                    found.push_back(fromLook_(path, i + 1, vhd ? "vhd" : "mbr", place, look));
            }
        }
    }
    close(fd);
}

bool imageName_(const std::string& name, bool anyName)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return anyName;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return oneOf_(ext, IMAGE_EXTS, std::size(IMAGE_EXTS));
}

// The folders of place level by level, images looked at as they come; hidden folders, links to
// folders and remote mounts are left out.
void walk_(const DrivePlace& place, Search_& s)
{
    std::deque<std::pair<std::string, int>> queue = {{place.dir, 1}};
    std::vector<DriveFound> found, refused;
    while (!queue.empty() && !s.late()) {
        const auto [dir, level] = queue.front();
        queue.pop_front();
        if (!s.seen.insert(real_(dir)).second && level > 1) continue;
        DIR* d = opendir(dir.c_str());
        if (!d) continue;
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            names.push_back(e->d_name);
            if (names.size() % 256 == 0 && s.late()) break;
        }
        closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            if (s.late()) break;
            const std::string p = dir + "/" + n;
            struct stat lst;
            if (lstat(p.c_str(), &lst) != 0) continue;
            if (S_ISDIR(lst.st_mode)) {
                if (level < place.depth && !s.skipDirs.count(p)) queue.push_back({p, level + 1});
                continue;
            }
            if (!imageName_(n, place.anyName)) continue;
            struct stat st;  // a link to an image counts, once
            if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < MIN_IMAGE) continue;
            const std::string r = real_(p);
            if (s.seen.insert(r).second) lookImage_(r, place.name, found, refused);
        }
    }
    auto byPath = [](const DriveFound& a, const DriveFound& b) {
        return a.path != b.path ? a.path < b.path : a.partition < b.partition;
    };
    std::stable_sort(found.begin(), found.end(), byPath);
    std::stable_sort(refused.begin(), refused.end(), byPath);
    s.found.insert(s.found.end(), found.begin(), found.end());
    s.refused.insert(s.refused.end(), refused.begin(), refused.end());
}

std::string home_()
{
    return env_("HOME");
}

}  // namespace

DrivePlaces DriveFindPlaces(const std::vector<std::string>& added)
{
    TRACE("DriveFind.DriveFindPlaces");
    DrivePlaces p;
    p.mountTable = env_("KVS_MOUNTINFO").empty() ? "/proc/self/mountinfo" : env_("KVS_MOUNTINFO");
    const std::string home = home_();
    const std::string data = env_("XDG_DATA_HOME").empty() ? home + "/.local/share" : env_("XDG_DATA_HOME");
    const std::string config = env_("XDG_CONFIG_HOME").empty() ? home + "/.config" : env_("XDG_CONFIG_HOME");
    const std::string flat = home + "/.var/app/";
    // The folders each emulator keeps its machines and disks in unless told otherwise (86Box:
    // "Virtual Machines" below its data folder). Bochs has none: its images lie by the bochsrc,
    // which the home folder and the added folders cover.
    const std::pair<const char*, std::string> defaults[] = {
        {"86Box", data + "/86Box"},
        {"86Box", flat + "net._86box._86Box/data/86Box"},
        {"PCem", home + "/.pcem"},
        {"QEMU/libvirt", data + "/libvirt/images"},
        {"GNOME Boxes", data + "/gnome-boxes/images"},
        {"GNOME Boxes", flat + "org.gnome.Boxes/data/gnome-boxes/images"},
        {"VirtualBox", home + "/VirtualBox VMs"},
        {"DOSBox-X", config + "/dosbox-x"},
        {"DOSBox-X", flat + "com.dosbox_x.DOSBox-X/config/dosbox-x"},
    };
    if (!home.empty())
        for (const auto& [name, dir] : defaults) p.places.push_back({name, dir, 3, true});
    for (const std::string& dir : added) p.places.push_back({"added folder", dir, 3, true});
    if (!home.empty()) p.places.push_back({"home folder", home, 3, false});
    return p;
}

DriveSearch DriveFindAll(const DrivePlaces& places)
{
    TRACE("DriveFind.DriveFindAll");
    Search_ s;
    s.deadline = Clock_::now() + std::chrono::milliseconds(places.timeLimitMs);
    DriveSearch out;
    for (const Mount_& m : mounts_(places.mountTable)) {
        if (s.late()) break;
        const bool remote = oneOf_(m.type, REMOTE_TYPES, std::size(REMOTE_TYPES)) || m.type.rfind("fuse.", 0) == 0;
        if (remote) s.skipDirs.insert(m.point);
        if (!oneOf_(m.type, FAT_TYPES, std::size(FAT_TYPES)) || s.seen.count(real_(m.point))) continue;
        DriveFound d;
        // A Windows drive's own tree is not walked again; a FAT stick holding images is.
        if (lookFolder_(m.point, "mount table", m.source, d)) {
            s.seen.insert(real_(m.point));
            s.found.push_back(d);
        }
    }
    for (const DrivePlace& p : places.places) {
        if (s.late()) break;
        walk_(p, s);
    }
    out.drives = s.found;
    out.drives.insert(out.drives.end(), s.refused.begin(), s.refused.end());
    out.timedOut = s.timedOut;
    return out;
}

std::vector<DriveFound> DriveFindAt(const std::string& path, const std::string& place)
{
    TRACE("DriveFind.DriveFindAt");
    std::vector<DriveFound> found, refused;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return found;
    const std::string r = real_(path);
    if (S_ISDIR(st.st_mode)) {
        DriveFound d;
        if (lookFolder_(r, place, std::string(), d)) found.push_back(d);
    } else if (S_ISREG(st.st_mode)) {
        lookImage_(r, place, found, refused);
    }
    found.insert(found.end(), refused.begin(), refused.end());
    return found;
}

std::string DriveFindVersion(const std::string& msdosSys, const std::vector<std::string>& windowsNames)
{
    TRACE("DriveFind.DriveFindVersion");
    // WinVer= in [Options]: 4.00.950 and 4.03.1212 are 95, 4.10.1998 is 98, 4.10.2222 98 SE, 4.90 Me.
    std::istringstream in(msdosSys);
    bool options = false;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (!line.empty() && line[0] == '[') {
            options = strcasecmp(line.c_str(), "[Options]") == 0;
            continue;
        }
        if (!options || strncasecmp(line.c_str(), "WinVer", 6) != 0) continue;
        std::string v = line.substr(6);
        v.erase(0, v.find_first_not_of(" \t"));
        if (v.empty() || v[0] != '=') continue;
        v.erase(0, v.find_first_not_of(" \t", 1));
        if (v.rfind("4.00", 0) == 0 || v.rfind("4.03", 0) == 0) return "Windows 95";
        if (v.rfind("4.10.2222", 0) == 0) return "Windows 98 Second Edition";
        if (v.rfind("4.10", 0) == 0) return "Windows 98";
        if (v.rfind("4.90", 0) == 0) return "Windows Me";
        return v.empty() ? std::string() : "Windows " + v;
    }
    // 98 brought the registry checker; 95 has WIN.COM without it.
    bool win = false, scanreg = false;
    for (const std::string& n : windowsNames) {
        win = win || n == "WIN.COM";
        scanreg = scanreg || n == "SCANREGW.EXE";
    }
    if (scanreg) return "Windows 98";
    return win ? "Windows 95" : std::string();
}

std::string DriveFindKindText(const std::string& kind)
{
    TRACE("DriveFind.DriveFindKindText");
    if (kind == "mounted") return "Mounted drive";
    if (kind == "fat") return "Disk image";
    if (kind == "mbr") return "Disk image (partitioned)";
    if (kind == "vhd") return "Fixed VHD";
    if (kind == "qcow2") return "QCOW2";
    if (kind == "vmdk") return "VMDK";
    if (kind == "vdi") return "VDI";
    if (kind == "vhd-dynamic") return "dynamic VHD";
    return kind;
}

std::string DriveFindSizeText(int64_t bytes)
{
    TRACE("DriveFind.DriveFindSizeText");
    if (bytes < 0) return std::string();
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
    double v = static_cast<double>(bytes);
    int u = 0;
    while (v >= 1024 && u < 4) {
        v /= 1024;
        u++;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, u == 0 || v >= 100 ? "%.0f %s" : "%.1f %s", v, units[u]);
    return buf;
}
