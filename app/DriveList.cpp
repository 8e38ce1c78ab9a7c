// The found, recent and added drives of the front-ends.
#include "app/DriveList.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "base/Mon.h"
#include "core/SettingsLock.h"
#include "platform/DiskImage.h"
#include "platform/ProfileFile.h"
#include "platform/SysInfo.h"

namespace {

constexpr const char* SECTION = "Drives";
constexpr int FOLDERS_MAX = 16;

std::unique_ptr<DriveSearch> Found_;

std::string file_()
{
    return SysProgramDir() + "Kvs.ini";
}

std::string read_(const std::string& key, const std::string& file)
{
    std::string v;
    ProfileReadString(SECTION, key, "", v, 4096, file);
    return v;
}

std::vector<DriveChoice> recent_(const std::string& file)
{
    std::vector<DriveChoice> out;
    for (int i = 1; i <= DRIVE_RECENT_MAX; i++) {
        const std::string path = read_("Recent" + std::to_string(i), file);
        if (path.empty()) continue;
        const int part = std::atoi(read_("RecentPartition" + std::to_string(i), file).c_str());
        out.push_back(DriveChoice{path, part >= 0 && part <= 4 ? part : 0, "recent"});
    }
    return out;
}

std::string real_(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path r = std::filesystem::canonical(path, ec);
    return ec ? path : r.string();
}

// Runs write on Kvs.ini as it is on disk now, under the settings lock, and flushes.
bool save_(const std::function<bool(const std::string&)>& write)
{
    const std::string file = file_();
    const SettingsLockScope lock;
    if (lock.Held) ProfileForget(file);
    const bool ok = lock.Held && write(file) && ProfileFlush(file);
    if (!ok) MonErrorMsg(DISK_ERROR_CLASS, "Couldn't write the settings file " + file + ".", __LINE__);
    return ok;
}

}  // namespace

const DriveSearch& DriveListFound(bool again)
{
    TRACE("DriveList.DriveListFound");
    if (!Found_ || again) Found_ = std::make_unique<DriveSearch>(DriveFindAll(DriveFindPlaces(DriveListFolders())));
    return *Found_;
}

bool DriveListIsCurrent(const DriveSearch& search, size_t index, const DriveChoice& now, bool nowIsImage)
{
    TRACE("DriveList.DriveListIsCurrent");
    if (index >= search.drives.size()) return false;
    const DriveFound& d = search.drives[index];
    if (d.kind == "mounted") {
        const std::string root = SysDriveRoot();
        return !nowIsImage && !root.empty() && real_(root) == real_(d.path);
    }
    if (!nowIsImage || now.path.empty() || real_(now.path) != d.path) return false;
    if (now.partition != 0) return now.partition == d.partition;
    // Partition 0 opens the first one holding Windows: the first listed of this image.
    for (size_t i = 0; i < index; i++)
        if (search.drives[i].path == d.path) return false;
    return true;
}

DriveChoice DriveListResolve(const DriveChoice& choice)
{
    TRACE("DriveList.DriveListResolve");
    const std::string& p = choice.path;
    struct stat st;
    if (p.empty() || p.size() > 4 || p.find_first_not_of("0123456789") != std::string::npos || stat(p.c_str(), &st) == 0)
        return choice;
    const DriveSearch& found = DriveListFound();
    const size_t n = static_cast<size_t>(std::atoi(p.c_str()));
    if (n < 1 || n > found.drives.size()) {
        const std::string text = "There is no drive number " + p + ": 'kvs drives' lists " +
                                 std::to_string(found.drives.size()) + " drive" +
                                 (found.drives.size() == 1 ? "" : "s") + ".";
        MonErrorMsg(DISK_ERROR_CLASS, text, __LINE__);
        throw EMon(text);
    }
    const DriveFound& d = found.drives[n - 1];
    if (!d.refused.empty()) {
        MonErrorMsg(DISK_ERROR_CLASS, d.refused, __LINE__);
        throw EMon(d.refused);
    }
    return DriveChoice{d.path, d.partition, choice.source};
}

std::vector<DriveChoice> DriveListRecent()
{
    TRACE("DriveList.DriveListRecent");
    return recent_(file_());
}

bool DriveListPutRecent(const DriveChoice& choice, const std::string& file)
{
    TRACE("DriveList.DriveListPutRecent");
    if (choice.path.empty()) return true;
    std::vector<DriveChoice> list = {choice};
    for (const DriveChoice& c : recent_(file))
        if (list.size() < DRIVE_RECENT_MAX && (c.path != choice.path || c.partition != choice.partition)) list.push_back(c);
    bool ok = true;
    for (int i = 1; i <= DRIVE_RECENT_MAX; i++) {
        const bool has = i <= static_cast<int>(list.size());
        const std::string n = std::to_string(i);
        if (has)
            ok = ok && ProfileWriteString(SECTION, "Recent" + n, list[i - 1].path, file) &&
                 ProfileWriteString(SECTION, "RecentPartition" + n, std::to_string(list[i - 1].partition), file);
        else
            ok = ok && ProfileDeleteKey(SECTION, "Recent" + n, file) && ProfileDeleteKey(SECTION, "RecentPartition" + n, file);
    }
    return ok;
}

std::vector<std::string> DriveListFolders()
{
    TRACE("DriveList.DriveListFolders");
    std::vector<std::string> out;
    for (int i = 1; i <= FOLDERS_MAX; i++) {
        const std::string dir = read_("Folder" + std::to_string(i), file_());
        if (!dir.empty()) out.push_back(dir);
    }
    return out;
}

bool DriveListAddFolder(const std::string& given)
{
    TRACE("DriveList.DriveListAddFolder");
    struct stat st;
    if (stat(given.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        MonErrorMsg(DISK_ERROR_CLASS, "The folder " + given + " does not exist.", __LINE__);
        return false;
    }
    const std::string dir = real_(given);
    return save_([&](const std::string& file) {
        std::vector<std::string> list = DriveListFolders();
        for (const std::string& d : list)
            if (d == dir) return true;
        if (list.size() >= FOLDERS_MAX) list.erase(list.begin());
        list.push_back(dir);
        bool ok = true;
        for (size_t i = 0; i < list.size(); i++)
            ok = ok && ProfileWriteString(SECTION, "Folder" + std::to_string(i + 1), list[i], file);
        return ok;
    });
}

bool DriveListOffered()
{
    TRACE("DriveList.DriveListOffered");
    return read_("Offered", file_()) == "1";
}

void DriveListSetOffered()
{
    TRACE("DriveList.DriveListSetOffered");
    save_([](const std::string& file) { return ProfileWriteString(SECTION, "Offered", "1", file); });
}
