#include "core/AutoChange.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "base/StrUtil.h"
#include "base/StrUtil.h"
#include "base/WriteJournal.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/Settings.h"
#include "core/SettingsLock.h"
#include "core/Shuffle.h"
#include "core/StoreLock.h"
#include "platform/DrivePath.h"
#include "platform/ProfileFile.h"
#include "platform/SysInfo.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string_view>

namespace {

namespace fs = std::filesystem;

constexpr const char* STATE_FILE = "SETS.INI";
constexpr const char* AUTOEXEC = "AUTOEXEC.BAT";
constexpr const char* CRLF = "\r\n";
// The files of one set, by position index: fixed 8.3 names, whatever the logo files are called.
const char* const SET_FILES[3] = {"LOGO.SYS", "LOGOW.SYS", "LOGOS.SYS"};
const int POSITIONS[3] = {POS_STARTUP, POS_WAIT, POS_TURNOFF};
// A logo file as it takes room on a FAT drive (clusters up to 4 KB).
constexpr int64_t SET_FILE_BYTES = (LOGO_FILE_SIZE + 4095) / 4096 * 4096;
// Besides the sets: one file's temporary copy while it is replaced, the batch file, the record.
constexpr int64_t ROTATION_OVERHEAD = SET_FILE_BYTES + 64 * 1024;
// AUTOEXEC.BAT beyond this is no batch file of a real start.
constexpr int64_t AUTOEXEC_MAX = 1024 * 1024;

using Counters = std::array<int32_t, 6>;

[[noreturn]] void fail_(const std::string& text)
{
    MonErrorMsg(OUTCOME_ERROR_CLASS, text, __LINE__);
    throw EMon(text);
}

std::string rotationDir_()
{
    const std::string win = SysWindowsDir();
    return win.empty() ? std::string() : DriveResolve(win + AUTOCHANGE_FOLDER) + "/";
}

std::string stateFile_() { return rotationDir_() + STATE_FILE; }

std::string twoDigits_(int n)
{
    char s[16];
    std::snprintf(s, sizeof s, "%02d", n);
    return s;
}

std::string setName_(int n) { return "S" + twoDigits_(n); }

std::string autoexecPath_() { return DriveResolve(SysDriveRoot() + AUTOEXEC); }

bool exists_(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Whole file as bytes; raises when it cannot be read or is larger than limit.
std::string readBytes_(const std::string& path, int64_t limit)
{
    std::string data;
    MonBlock([&] {
        int handle = Undef;
        FOpen(handle, path, FM_READ);
        const int64_t size = FSize(handle);
        if (size > limit) {
            FClose(handle);
            fail_("The file \"" + path + "\" is too large to be a batch file of a Windows start.");
        }
        data.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
        if (!data.empty()) FRead(handle, data.data(), static_cast<int64_t>(data.size()));
        FClose(handle);
    });
    return data;
}

void deleteFile_(const std::string& path)
{
    if (!exists_(path)) return;
    MonBlock([&] { FDelete(path); });
}

std::string readState_(const std::string& section, const std::string& key)
{
    std::string value;
    ProfileReadString(section, key, "", value, 1024, stateFile_());
    return value;
}

bool parseInt_(const std::string& text, int32_t& value)
{
    const std::string t = StrTrim(text);
    if (t.empty() || t.size() > 11) return false;
    size_t i = t[0] == '-' ? 1 : 0;
    if (i == t.size()) return false;
    for (size_t k = i; k < t.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(t[k]))) return false;
    const long long v = std::atoll(t.c_str());
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// ---- the pick counters, Logo0..2Index then Msg0..2Index ----
const char* const COUNTER_KEYS[6] = {"Logo0Index", "Logo1Index", "Logo2Index", "Msg0Index", "Msg1Index", "Msg2Index"};

int32_t* counter_(int k) { return k < 3 ? LogoIndexOf(POSITIONS[k]) : MsgIndexOf(POSITIONS[k - 3]); }

Counters counters_()
{
    Counters c;
    for (int k = 0; k < 6; ++k) c[k] = *counter_(k);
    return c;
}

void setCounters_(const Counters& c)
{
    for (int k = 0; k < 6; ++k) *counter_(k) = c[k];
}

// ---- DOS names ----
bool dosNameChar_(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'()-@^_`{}~").find(c) != std::string_view::npos;
}

bool dosPart_(const std::string& part)
{
    const size_t dot = part.find('.');
    const std::string base = part.substr(0, dot), ext = dot == std::string::npos ? std::string() : part.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || (dot != std::string::npos && ext.empty())) return false;
    return std::all_of(base.begin(), base.end(), dosNameChar_) && std::all_of(ext.begin(), ext.end(), dosNameChar_);
}

// Whether a Windows path ("C:\WINDOWS\LOGOW.SYS") can stand unquoted in a DOS batch line.
bool dosPath_(const std::string& win)
{
    if (win.size() < 4 || win.compare(0, 3, "C:\\") != 0) return false;
    size_t pos = 3;
    while (pos <= win.size()) {
        size_t end = win.find('\\', pos);
        if (end == std::string::npos) end = win.size();
        if (!dosPart_(win.substr(pos, end - pos))) return false;
        pos = end + 1;
    }
    return true;
}

// ---- what the sets are made of ----
uint64_t hash_(const std::string& text)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
}

// Everything a change draws on: the settings that shape a logo or a pick, the messages, the
// stored images with their files, and the number of sets asked for.
std::string basis_()
{
    std::string s = "1";
    for (const SettingsPair& p : SettingsList()) {
        if (SameText(p.key, "GalDir") || SameText(p.key, "FileOpenDir") || SameText(p.key, "DefPrefix") ||
            SameText(p.key, "ResizeMode") || SameText(p.key, "AutoChange"))
            continue;
        s += '\n' + p.key + '=' + p.value;
    }
    for (int position : POSITIONS) s += '\n' + GetMessageText(position);
    // By what the index holds, not by file times: the same store gives the same sets on every
    // copy of the drive (a folder and its disk image alike).
    for (int i = 0; i < ImageListCount(Images); ++i) {
        const ImageEntry& e = *ImageListGet(Images, i);
        s += '\n' + EntryName(e) + ' ' + std::to_string(e.Positions) + ' ' + std::to_string(e.FileSize) + ' ' +
             std::to_string(e.FromLogoFile) + ' ' + std::to_string(e.AnimStart);
    }
    char hex[20];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash_(s)));
    return hex;
}

// ---- the markers: Mnn, set nn is next; Rnn, the same after the batch went round ----
struct Marker {
    char kind = 0;  // 'M', 'R', or 0 for none
    int set = 0;
};

Marker marker_(int sets)
{
    Marker m;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(rotationDir_(), ec)) {
        const std::string n = e.path().filename().string();
        if (n.size() != 3 || !std::isdigit(static_cast<unsigned char>(n[1])) || !std::isdigit(static_cast<unsigned char>(n[2])))
            continue;
        const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(n[0])));
        const int set = std::atoi(n.c_str() + 1);
        if ((kind != 'M' && kind != 'R') || set < 1 || set > sets) continue;
        // With two markers (a damaged folder) the one furthest on counts.
        if (m.kind == 0 || (kind == 'R' && m.kind == 'M') || (kind == m.kind && set > m.set)) m = Marker{kind, set};
    }
    return m;
}

void dropMarkers_()
{
    std::error_code ec;
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(rotationDir_(), ec)) {
        const std::string n = e.path().filename().string();
        if (n.size() == 3 && (std::toupper(static_cast<unsigned char>(n[0])) == 'M' || std::toupper(static_cast<unsigned char>(n[0])) == 'R') &&
            std::isdigit(static_cast<unsigned char>(n[1])) && std::isdigit(static_cast<unsigned char>(n[2])))
            found.push_back(e.path().string());
    }
    for (const std::string& f : found) deleteFile_(f);
}

// The temporary files of writes that a killed program left in the rotation folder.
void dropTemps_(const std::string& rot)
{
    std::error_code ec;
    std::vector<std::string> found;
    for (auto it = fs::recursive_directory_iterator(rot, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (SafeIsTempName(it->path().filename().string()) && it->is_regular_file(ec)) found.push_back(it->path().string());
    for (const std::string& f : found) deleteFile_(f);
}

int recordedSets_()
{
    int32_t n = 0;
    if (!parseInt_(readState_("Rotation", "Sets"), n)) return 0;
    return std::clamp<int32_t>(n, 0, AUTOCHANGE_SETS_MAX);
}

// ---- the batch file ----
std::string batchText_(int sets, const std::array<std::string, 3>& targets, const std::string& rot)
{
    std::string s = std::string("@ECHO OFF") + CRLF + "REM Kelvane Studio: the next prepared logos. The program writes this file anew." + CRLF;
    for (int i = 1; i <= sets; ++i)
        for (char kind : {'M', 'R'})
            s += "IF EXIST " + rot + kind + twoDigits_(i) + " GOTO " + setName_(i) + CRLF;
    s += std::string("GOTO END") + CRLF;
    for (int i = 1; i <= sets; ++i) {
        const std::string set = rot + setName_(i) + "\\";
        s += ":" + setName_(i) + CRLF;
        for (int k = 0; k < 3; ++k) {
            if (targets[k].empty()) continue;
            // A missing set file leaves that logo as it is; the start goes on. The old file goes
            // first: DOSBox's FAT driver loses the clusters of a file that COPY writes over.
            const std::string guard = "IF EXIST " + set + SET_FILES[k] + " ";
            s += guard + "DEL " + targets[k] + " > NUL" + CRLF;
            s += guard + "COPY " + set + SET_FILES[k] + " " + targets[k] + " > NUL" + CRLF;
        }
        const int next = i == sets ? 1 : i + 1;
        const char nextKind = i == sets ? 'R' : 'M';
        if (!(i == sets && sets == 1))
            s += "IF EXIST " + rot + "R" + twoDigits_(i) + " REN " + rot + "R" + twoDigits_(i) + " R" + twoDigits_(next) + " > NUL" + CRLF;
        s += "IF EXIST " + rot + "M" + twoDigits_(i) + " REN " + rot + "M" + twoDigits_(i) + " " + nextKind + twoDigits_(next) + " > NUL" + CRLF;
        s += std::string("GOTO END") + CRLF;
    }
    s += std::string(":END") + CRLF;
    return s;
}

std::string rotationWin_()
{
    const std::string rot = rotationDir_();
    return rot.empty() ? std::string() : DriveToWin(rot.substr(0, rot.size() - 1));
}

// The line AUTOEXEC.BAT gets: it calls the batch only while it exists, without showing itself.
std::string autoexecLine_()
{
    const std::string batch = rotationWin_() + "\\" + AUTOCHANGE_BATCH;
    return "@IF EXIST " + batch + " CALL " + batch;
}

// ---- room ----
int64_t rotationBytes_()
{
    int64_t total = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(rotationDir_(), ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const int64_t size = static_cast<int64_t>(it->file_size(ec));
        if (!ec) total += (size + 4095) / 4096 * 4096;
    }
    return total;
}

// How many of wanted sets of files logo files each fit in half the drive's free room (the sets'
// own files counted free); wanted when it cannot tell.
int setsThatFit_(int wanted, int files)
{
    if (files == 0) return wanted;
    int64_t freeBytes = 0, total = 0;
    if (!SysDiskSpace(SysWindowsDir(), freeBytes, total)) return wanted;
    // Half of the room at the most: the sets never crowd out what the user and Windows store.
    const int64_t room = (freeBytes + rotationBytes_()) / 2 - ROTATION_OVERHEAD;
    return static_cast<int>(std::clamp<int64_t>(room / (files * SET_FILE_BYTES), 0, wanted));
}

// ---- preparing the sets ----
// What AUTOEXEC.BAT was like before the line went in: the record's last section.
std::string autoexecSection_(const std::string& created, const std::string& lineEnd)
{
    if (created.empty()) return std::string();
    return std::string("[Autoexec]") + CRLF + "Created=" + created + CRLF + "LineEnd=" + lineEnd + CRLF;
}

void writeState_(int sets, const std::string& basis, const std::vector<Counters>& after)
{
    std::string s = std::string("[Rotation]") + CRLF + "Sets=" + std::to_string(sets) + CRLF + "Basis=" + basis + CRLF;
    for (size_t i = 0; i < after.size(); ++i) {
        s += "[" + setName_(static_cast<int>(i) + 1) + "]" + CRLF;
        for (int k = 0; k < 6; ++k) s += std::string(COUNTER_KEYS[k]) + "=" + std::to_string(after[i][k]) + CRLF;
    }
    s += autoexecSection_(readState_("Autoexec", "Created"), readState_("Autoexec", "LineEnd"));
    SafeWrite(stateFile_(), s);
    ProfileForget(stateFile_());
}

// Fills the rotation folder. Without room for one set, installing fails; a refill empties the
// folder instead (the batch then changes nothing) and says so, as the command itself went well.
void prepare_(Outcome& o, bool install)
{
    const std::string rot = rotationDir_(), rotWin = rotationWin_();
    if (rot.empty() || !dosPath_(rotWin + "\\" + AUTOCHANGE_BATCH))
        fail_("The Windows folder has no DOS name (8.3), so DOS cannot reach the automatic change's logo sets.");
    std::array<std::string, 3> targets;
    int files = 0;
    for (int k = 0; k < 3; ++k) {
        const std::string path = GetLogoFileName(POSITIONS[k]);
        const std::string win = path.empty() ? std::string() : DriveToWin(path);
        if (!dosPath_(win)) {
            o.Warnings.push_back("The automatic change leaves the " + LogoPositionName(POSITIONS[k]) + " logo as it is: \"" +
                                 path + "\" has no DOS name (8.3) on the drive.");
            continue;
        }
        targets[k] = win;
        ++files;
    }
    const int wanted = std::clamp<int32_t>(AutoChangeSets, AUTOCHANGE_SETS_MIN, AUTOCHANGE_SETS_MAX);
    const int sets = setsThatFit_(wanted, files);
    const std::string noRoom = "There is no room on the drive for one set of logos of the automatic change (" +
                               std::to_string(2 * (files * SET_FILE_BYTES + ROTATION_OVERHEAD) / 1024) + " KB free needed)";
    if (sets == 0 && install) fail_(noRoom + ".");
    if (sets == 0) o.Warnings.push_back(noRoom + "; Windows keeps its logos at its starts until there is room.");
    else if (sets < wanted)
        o.Warnings.push_back("Only " + std::to_string(sets) + " of " + std::to_string(wanted) +
                             " logo sets of the automatic change fit on the drive; Windows goes round these.");
    if (!SysMakeDirs(rot)) fail_("Couldn't create the folder \"" + rot + "\".");
    // Without a marker the batch leaves the logos alone while the sets are half made.
    dropMarkers_();
    dropTemps_(rot);
    const std::string basis = basis_();
    const Counters before = counters_();
    std::vector<Counters> after;
    std::string firstError;
    try {
        for (int i = 1; i <= sets; ++i) {
            const std::string dir = rot + setName_(i) + "/";
            if (!SysMakeDirs(dir)) fail_("Couldn't create the folder \"" + dir + "\".");
            bool built[3] = {false, false, false};
            Outcome picks;
            ChangeLogosWith(LogoPickMethod, [&](const ImageEntry& entry, int position, const std::string& message) {
                const int k = PosIndex(position);
                if (targets[k].empty()) return;
                Image img;
                int32_t animStart = Undef;
                try {
                    MonBlock([&] {
                        LogoBuildImage(entry, position, message, img, animStart);
                        if (!WriteLogoFile(dir + SET_FILES[k], img, animStart)) fail_("Couldn't write \"" + dir + SET_FILES[k] + "\".");
                    });
                } catch (...) {
                    ImgFree(img);
                    throw;
                }
                ImgFree(img);
                built[k] = true;
            }, picks);
            if (!picks.Errors.empty() && firstError.empty()) firstError = picks.Errors.front();
            // A position that got nothing in this set keeps its logo file at that start, as "/change" does.
            for (int k = 0; k < 3; ++k)
                if (!built[k]) deleteFile_(dir + SET_FILES[k]);
            after.push_back(counters_());
        }
    } catch (...) {
        setCounters_(before);
        throw;
    }
    setCounters_(before);
    std::error_code ec;
    for (int i = sets + 1; i <= AUTOCHANGE_SETS_MAX; ++i) {
        const std::string dir = rot + setName_(i);
        if (exists_(DriveResolve(dir)) && fs::remove_all(DriveResolve(dir), ec) > 0) JournalNote(DriveResolve(dir));
    }
    if (!firstError.empty()) o.Warnings.push_back("A logo set of the automatic change is incomplete: " + firstError);
    writeState_(sets, basis, after);
    SafeWrite(rot + AUTOCHANGE_BATCH, batchText_(sets, targets, rotWin + "\\"));
    if (sets > 0) SafeWrite(rot + "M01", std::string());
}

// The sets draw on the store and the messages. A command that loaded only the settings (kvs
// settings), or one that has closed the store already, has them read for the while.
struct StoreForSets_ {
    const bool own = Images == nullptr;
    StoreForSets_()
    {
        if (!own) return;
        LoadMessages();
        StoreLoad();
    }
    ~StoreForSets_()
    {
        if (own) StoreFree();
    }
    StoreForSets_(const StoreForSets_&) = delete;
    StoreForSets_& operator=(const StoreForSets_&) = delete;
};

bool fresh_()
{
    const int sets = recordedSets_();
    const Marker m = marker_(sets);
    // An empty rotation (no room) waits for the next change of what the sets are made of.
    return (sets == 0 ? readState_("Rotation", "Sets") == "0" : m.kind == 'M' && m.set == 1) &&
           readState_("Rotation", "Basis") == basis_() && exists_(rotationDir_() + AUTOCHANGE_BATCH);
}

// ---- AUTOEXEC.BAT ----
void addLine_()
{
    const std::string path = autoexecPath_();
    const bool existed = exists_(path);
    std::string text = existed ? readBytes_(path, AUTOEXEC_MAX) : std::string();
    const std::string line = autoexecLine_() + CRLF;
    if (text.find(line) != std::string::npos) return;
    // Text after an end-of-file mark is never run: the line goes before it.
    size_t end = text.size();
    while (end > 0 && text[end - 1] == '\x1a') --end;
    const bool lineEnd = end > 0 && text[end - 1] != '\n';
    text.insert(end, (lineEnd ? std::string(CRLF) : std::string()) + line);
    // What to take out again goes on record before the file changes.
    const std::string state = stateFile_();
    SafeWrite(state, readBytes_(state, PROFILE_MAX_FILE) + autoexecSection_(existed ? "0" : "1", lineEnd ? "1" : "0"));
    ProfileForget(state);
    SafeWrite(path, text);
}

void removeLine_()
{
    const std::string path = autoexecPath_();
    if (!exists_(path)) return;
    std::string text = readBytes_(path, AUTOEXEC_MAX);
    const std::string line = autoexecLine_() + CRLF;
    const std::string added = (readState_("Autoexec", "LineEnd") == "1" ? std::string(CRLF) : std::string()) + line;
    size_t at = text.rfind(added);
    size_t length = added.size();
    if (at == std::string::npos) {
        at = text.rfind(line);
        length = line.size();
    }
    if (at == std::string::npos) return;
    text.erase(at, length);
    if (readState_("Autoexec", "Created") == "1" && text.find_first_not_of('\x1a') == std::string::npos) {
        MonBlock([&] { FDelete(path); });
        return;
    }
    SafeWrite(path, text);
}

}  // namespace

bool AutoChangeInstalled()
{
    TRACE("AutoChange.AutoChangeInstalled");
    const std::string rot = rotationDir_();
    return !rot.empty() && exists_(DriveResolve(rot + STATE_FILE));
}

int AutoChangeUsedSets()
{
    TRACE("AutoChange.AutoChangeUsedSets");
    if (!AutoChangeInstalled()) return 0;
    ProfileForget(stateFile_());
    const int sets = recordedSets_();
    const Marker m = marker_(sets);
    if (m.kind == 'R') return sets;
    return m.kind == 'M' ? m.set - 1 : 0;
}

Outcome AutoChangeRefill()
{
    TRACE("AutoChange.AutoChangeRefill");
    Outcome o;
    if (!AutoChangeInstalled()) return o;
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    const StoreForSets_ store;
    ProfileForget(stateFile_());
    if (fresh_()) return o;
    OutcomeRun(o, [&] { prepare_(o, false); });
    return o;
}

Outcome AutoChangeCatchUp()
{
    TRACE("AutoChange.AutoChangeCatchUp");
    Outcome o;
    if (!AutoChangeInstalled()) return o;
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    const int used = AutoChangeUsedSets();
    if (used > 0) {
        Counters c;
        bool whole = true;
        for (int k = 0; k < 6; ++k) whole = parseInt_(readState_(setName_(used), COUNTER_KEYS[k]), c[k]) && whole;
        if (!whole) {
            o.Warnings.push_back("The record of the automatic change's logo sets is damaged; the pick counters stay as they are.");
        } else if (!SettingsAdvanceCounters([&] { setCounters_(c); })) {
            OutcomeFail(o, SETTINGS_LOCK_BUSY);
            return o;
        }
    }
    OutcomeMerge(o, AutoChangeRefill());
    return o;
}

Outcome AutoChangeInstall()
{
    TRACE("AutoChange.AutoChangeInstall");
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    const StoreForSets_ store;
    Outcome o;
    OutcomeRun(o, [&] {
        prepare_(o, true);
        addLine_();
    });
    return o;
}

Outcome AutoChangeRemove()
{
    TRACE("AutoChange.AutoChangeRemove");
    Outcome o;
    // A folder whose filling was cut short has no record yet; it goes too.
    if (!AutoChangeInstalled() && (rotationDir_().empty() || !exists_(rotationDir_()))) return o;
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    OutcomeRun(o, [&] {
        ProfileForget(stateFile_());
        removeLine_();
        const std::string rot = rotationDir_();
        ProfileForget(stateFile_());
        std::error_code ec;
        if (fs::remove_all(rot, ec) > 0) JournalNote(rot);
        if (ec || exists_(rot)) fail_("Couldn't remove the folder \"" + rot + "\".");
    });
    return o;
}
