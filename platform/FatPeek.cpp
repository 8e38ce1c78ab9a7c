// The FAT look: boot sector, FAT, root folder, WINDOWS folder and MSDOS.SYS.
#include "platform/FatPeek.h"

#include "base/Mon.h"
#include "platform/FatRead.h"

namespace {

std::string upper_(std::string s)
{
    for (char& ch : s) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    return s;
}

bool isName_(const FatItem& e, const char* name, bool folder)
{
    return upper_(e.shortName) == name && ((e.attr & FAT_ATTR_FOLDER) != 0) == folder;
}

}  // namespace

bool FatPeek(int fd, int64_t offset, int64_t end, FatLook& look)
{
    TRACE("FatPeek.FatPeek");
    look = FatLook();
    FatVolume v;
    if (!FatOpen(fd, offset, end, v)) return false;
    look.size = v.size;
    if (look.size > end - offset) return false;  // cut short: a damaged copy, not a drive to offer

    std::vector<FatItem> root;
    if (!FatList(v, FatRoot(v), root, &look.label)) return false;
    if (look.label.empty()) {
        std::string own(reinterpret_cast<const char*>(v.boot.data()) + (v.bits == 32 ? 71 : 43), 11);
        while (!own.empty() && (own.back() == ' ' || own.back() == '\0')) own.pop_back();
        if (own != "NO NAME") look.label = own;
    }
    const int64_t freeClusters = FatFreeClusters(v, true);
    if (freeClusters >= 0) look.freeBytes = freeClusters * v.clusterBytes;

    const FatItem *msdos = nullptr, *win = nullptr;
    for (const FatItem& e : root) {
        if (!msdos && isName_(e, "MSDOS.SYS", false)) msdos = &e;
        if (!win && isName_(e, "WINDOWS", true)) win = &e;
    }
    bool winCom = false;
    if (win) {
        std::vector<FatItem> names;
        FatList(v, *win, names);
        for (const FatItem& e : names) {
            look.windowsNames.push_back(upper_(e.shortName));
            winCom = winCom || isName_(e, "WIN.COM", false);
        }
    }
    if (msdos) {
        std::vector<uint8_t> text;
        FatReadFile(v, *msdos, FAT_PEEK_TEXT_MAX, text);
        look.msdosSys.assign(text.begin(), text.end());
    }
    look.windows = msdos && winCom;
    return true;
}
