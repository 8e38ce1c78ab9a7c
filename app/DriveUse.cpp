// Choosing, opening and committing the managed drive.
#include "app/DriveUse.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "app/DriveList.h"
#include "base/Mon.h"
#include "base/UiServices.h"
#include "core/Settings.h"
#include "core/SettingsLock.h"
#include "core/StoreLock.h"
#include "platform/DrivePath.h"
#include "platform/DriveStage.h"
#include "platform/ProfileFile.h"
#include "platform/SysInfo.h"

namespace {

constexpr const char* KEY_DRIVE = "Drive";
constexpr const char* KEY_PARTITION = "DrivePartition";
constexpr const char* SECTION = "Main";

DriveChoice Option_;
DriveChoice Current_;
bool Open_ = false;
DriveStage Stage_;
void (*Reload_)() = nullptr;
int Depth_ = 0;  // commands of the window running inside one another

[[noreturn]] void fail_(const std::string& text)
{
    MonErrorMsg(DISK_ERROR_CLASS, text, __LINE__);
    throw EMon(text);
}

std::string env_(const char* name)
{
    const char* v = getenv(name);
    return v ? std::string(v) : std::string();
}

std::string settingsFile_()
{
    return SysProgramDir() + "Kvs.ini";
}

bool isFolder_(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The child of root named WINDOWS in any case.
std::string windowsChild_(const std::string& root)
{
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(root, ec))
        if (strcasecmp(e.path().filename().c_str(), "WINDOWS") == 0 && e.is_directory(ec)) return e.path().string();
    return std::string();
}

void openFolder_(const std::string& root)
{
    const std::string win = windowsChild_(root);
    if (win.empty()) fail_("The folder " + root + " is not a Windows drive: it has no WINDOWS folder.");
    SysSetWindowsDir(win);
}

bool partitionNumber_(const std::string& text, int& n)
{
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    n = std::atoi(text.c_str());
    return n >= 1 && n <= 4;
}

bool exists_(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Where the path at start in text ends: before a quote, tab or line end (no FAT name holds one)
// or the next path, then after the longest part that exists and is followed by punctuation or a
// blank (a FAT name never ends in a dot or blank); a path that does not exist (deleted, never
// made) loses the punctuation after it.
size_t pathEnd_(const std::string& text, size_t start, const std::string& root)
{
    const size_t from = start + root.size();
    const size_t limit = std::min({text.find_first_of("\"\t\r\n", from), text.find(root, from), text.size()});
    const std::string_view stops = " .,;:()";
    for (size_t end = limit; end >= from; --end)
        if ((end == limit || stops.find(text[end]) != std::string_view::npos) && text[end - 1] != '.' &&
            text[end - 1] != ' ' && exists_(text.substr(start, end - start)))
            return end;
    size_t end = limit;
    while (end > from && stops.find(text[end - 1]) != std::string_view::npos) --end;
    return end;
}

void fetch_(const std::string& path)
{
    if (StageIsOpen(Stage_)) StageFetch(Stage_, path);
}

}  // namespace

bool DriveUseTakeOptions(std::vector<std::string>& args, bool stopAtCommand, std::string& problem)
{
    TRACE("DriveUse.DriveUseTakeOptions");
    std::string path, partition;
    for (size_t i = 0; i < args.size();) {
        const std::string a = args[i];
        if (a == "--") break;
        if (stopAtCommand && (a.empty() || a[0] != '-')) break;
        std::string* target = nullptr;
        std::string name;
        for (auto [opt, var] : {std::pair{"--drive", &path}, std::pair{"--partition", &partition}})
            if (a == opt || a.rfind(std::string(opt) + "=", 0) == 0) {
                target = var;
                name = opt;
            }
        if (!target) {
            i++;
            continue;
        }
        if (a.size() > name.size()) {
            *target = a.substr(name.size() + 1);
            args.erase(args.begin() + static_cast<long>(i));
        } else if (i + 1 < args.size()) {
            *target = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        } else {
            problem = name + " needs a value";
            return false;
        }
        if (target->empty()) {
            problem = name + " needs a value";
            return false;
        }
    }
    int n = 0;
    if (!partition.empty() && !partitionNumber_(partition, n)) {
        problem = "--partition takes a number from 1 to 4";
        return false;
    }
    if (!path.empty() || n != 0) DriveUseSetOption(path, n);
    return true;
}

void DriveUseSetOption(const std::string& path, int partition)
{
    TRACE("DriveUse.DriveUseSetOption");
    Option_ = DriveChoice{path, partition, path.empty() ? "" : "--drive"};
}

DriveChoice DriveUseChoose()
{
    TRACE("DriveUse.DriveUseChoose");
    if (!Option_.path.empty()) return Option_;
    if (!env_("KVS_DRIVE").empty()) return DriveChoice{env_("KVS_DRIVE"), Option_.partition, "KVS_DRIVE"};
    if (!env_("KVS_WINDOWS_DIR").empty()) return DriveChoice{std::string(), 0, "KVS_WINDOWS_DIR"};
    std::string remembered, part;
    ProfileReadString(SECTION, KEY_DRIVE, "", remembered, 1024, settingsFile_());
    ProfileReadString(SECTION, KEY_PARTITION, "", part, 16, settingsFile_());
    int n = 0;
    if (!remembered.empty()) return DriveChoice{remembered, partitionNumber_(part, n) ? n : 0, "Kvs.ini"};
    return DriveChoice{std::string(), 0, "demo"};
}

// mtools reads and writes the image; without it no image opens, whatever the image holds.
static bool MtoolsInstalled_()
{
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    for (;;) {
        const size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        if (!dir.empty() && access((dir + "/mdir").c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

void DriveUseOpen(const DriveChoice& given)
{
    TRACE("DriveUse.DriveUseOpen");
    DriveUseClose();
    MonBlock([&] {
        const DriveChoice choice = DriveListResolve(given);  // "--drive 2": a number "kvs drives" lists
        if (choice.path.empty()) {
            SysSetWindowsDir(std::string());
        } else if (isFolder_(choice.path)) {
            openFolder_(choice.path);
        } else if (DiskIsImageFile(choice.path)) {
            if (!MtoolsInstalled_())
                fail_("Disk images are read and written through mtools, which is not installed here "
                      "(on Debian: apt-get install mtools).");
            StageOpen(choice.path, choice.partition, {STORE_LOCK_FILE}, true, Stage_);  // the image lock keeps programs apart
            SysSetWindowsDir(StageWindowsDir(Stage_));
            DriveSetFetcher(&fetch_);
        } else {
            fail_("The drive " + choice.path + " does not exist.");
        }
        Current_ = choice;
        Open_ = true;
    });
}

void DriveUseOpenChosen()
{
    TRACE("DriveUse.DriveUseOpenChosen");
    if (Open_) return;
    const DriveChoice choice = DriveUseChoose();
    if (choice.source != "Kvs.ini") {
        DriveUseOpen(choice);
        return;
    }
    try {
        MonBlock([&] { DriveUseOpen(choice); });
    } catch (const std::exception& e) {
        MonClearError();
        Ui().WarningBox(std::string(e.what()) + "\nThe demo drive is used instead.");
        DriveUseOpen(DriveChoice{std::string(), 0, "demo"});
    }
}

const DriveChoice& DriveUseCurrent()
{
    TRACE("DriveUse.DriveUseCurrent");
    return Current_;
}

bool DriveUseIsImage()
{
    TRACE("DriveUse.DriveUseIsImage");
    return StageIsOpen(Stage_);
}

int DriveUseCommit()
{
    TRACE("DriveUse.DriveUseCommit");
    if (!StageIsOpen(Stage_)) return 0;
    int written = 0;
    MonBlock([&] {
        // Changed under a window that let it go: what the image holds now wins.
        if (StageAcquire(Stage_)) {
            if (Reload_) Reload_();
            return;
        }
        written = StageWriteBack(Stage_);
    });
    return written;
}

void DriveUseBegin()
{
    TRACE("DriveUse.DriveUseBegin");
    if (Depth_ == 0 && StageIsOpen(Stage_) && StageAcquire(Stage_) && Reload_) Reload_();
    Depth_++;
}

void DriveUseEnd()
{
    TRACE("DriveUse.DriveUseEnd");
    if (Depth_ > 0) Depth_--;
    if (Depth_ > 0 || !StageIsOpen(Stage_)) return;
    std::string problem;
    try {
        MonBlock([] { DriveUseCommit(); });
    } catch (const std::exception& e) {
        problem = e.what();
        MonClearError();
    }
    if (!problem.empty()) {
        // The working folder no longer tells what the image holds: read it again.
        StageRelease(Stage_);
        Stage_.released = FileStamp();
        try {
            MonBlock([] {
                StageAcquire(Stage_);
                if (Reload_) Reload_();
            });
        } catch (const std::exception& e) {
            MonClearError();
            problem += std::string("\n") + e.what();
        }
    }
    StageRelease(Stage_);
    if (!problem.empty()) fail_(problem);
}

void DriveUseSetReloadHook(void (*hook)())
{
    TRACE("DriveUse.DriveUseSetReloadHook");
    Reload_ = hook;
}

void DriveUseClose()
{
    TRACE("DriveUse.DriveUseClose");
    if (StageIsOpen(Stage_)) {
        DriveSetFetcher(nullptr);
        StageClose(Stage_);
        SysSetWindowsDir(std::string());
    }
    Open_ = false;
}

std::string DriveUseText()
{
    TRACE("DriveUse.DriveUseText");
    if (!StageIsOpen(Stage_)) return SysDriveRoot();
    const DiskImage& d = Stage_.disk;
    return d.path + (d.partition > 0 ? ", partition " + std::to_string(d.partition) : std::string(", whole image"));
}

std::string DriveUseShownPath(const std::string& path)
{
    TRACE("DriveUse.DriveUseShownPath");
    if (!StageIsOpen(Stage_)) return path;
    const std::string win = DriveToWin(DriveResolve(path));
    return win.empty() ? path : std::filesystem::path(Stage_.disk.path).filename().string() + ":" + win;
}

std::string DriveUseShownText(const std::string& text)
{
    TRACE("DriveUse.DriveUseShownText");
    if (!StageIsOpen(Stage_)) return text;
    const std::string root = Stage_.root.substr(0, Stage_.root.size() - 1);
    std::string out;
    size_t pos = 0;
    for (size_t at = text.find(root); at != std::string::npos; at = text.find(root, pos)) {
        const size_t end = pathEnd_(text, at, root);
        out += text.substr(pos, at - pos) + DriveUseShownPath(text.substr(at, end - at));
        pos = end;
    }
    return out + text.substr(pos);
}

void DriveUseRemember(const DriveChoice& choice)
{
    TRACE("DriveUse.DriveUseRemember");
    const std::string file = settingsFile_();
    const SettingsLockScope lock;
    if (lock.Held) ProfileForget(file);  // merged onto the file as it is now
    const bool ok = lock.Held && ProfileWriteString(SECTION, KEY_DRIVE, choice.path, file) &&
                    ProfileWriteString(SECTION, KEY_PARTITION, std::to_string(choice.partition), file) &&
                    DriveListPutRecent(choice, file) &&
                    ProfileFlush(file);
    if (!ok) MonErrorMsg(DISK_ERROR_CLASS, "Couldn't write the settings file " + file + ".", __LINE__);
}

void DriveUseSwitch(const DriveChoice& choice)
{
    TRACE("DriveUse.DriveUseSwitch");
    MonBlock([&] {
        if (!SaveSettings()) fail_("Couldn't write the settings file.");
        DriveUseCommit();
        const DriveChoice before = Current_;
        std::string problem;
        try {
            MonBlock([&] { DriveUseOpen(choice); });
        } catch (const std::exception& e) {
            problem = e.what();
        }
        if (!problem.empty()) {
            MonClearError();
            DriveUseOpen(before);
            fail_(problem);
        }
        LoadSettings();
        DriveUseRemember(choice);
    });
}

std::string DriveUsePathLines()
{
    TRACE("DriveUse.DriveUsePathLines");
    if (!StageIsOpen(Stage_)) return "drive=" + SysDriveRoot() + "\n";
    return "drive=" + Stage_.disk.path + "\npartition=" + std::to_string(Stage_.disk.partition) + "\n";
}
