#include "core/Backup.h"

#include "base/Basic.h"
#include "base/FileUtil.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "base/StrUtil.h"
#include "base/WriteJournal.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "platform/DrivePath.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

static const char* const RESTORE_HEADER =
    "REM --------------------------------------------\r\n"
    "REM  Run this file to restore previous logos.\r\n"
    "REM --------------------------------------------\r\n"
    "\r\n";

// The restore file is a few lines; anything this large is not ours to parse.
constexpr int64_t RESTORE_MAX_BYTES = 16 * 1024 * 1024;

static std::string Trim_(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

static bool StartsWith_(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

// A line of the restore file as the command word (upper case) and its paths: each either quoted,
// as this program writes them, or a plain DOS word, as a person edits them. Switches such as /Y
// are left out.
struct BatLine_ {
    std::string Command;
    std::vector<std::string> Paths;
};

static BatLine_ ParseBatLine_(const std::string& line)
{
    TRACE("Backup.ParseBatLine_");
    BatLine_ b;
    size_t at = 0;
    bool first = true;
    for (;;) {
        at = line.find_first_not_of(" \t", at);
        if (at == std::string::npos) break;
        std::string word;
        bool quoted = line[at] == '"';
        if (quoted) {
            const size_t close = line.find('"', at + 1);
            word = line.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
            at = close == std::string::npos ? line.size() : close + 1;
        } else {
            const size_t end = std::min(line.find_first_of(" \t", at), line.size());
            word = line.substr(at, end - at);
            at = end;
        }
        if (first) b.Command = StrUpper(word);
        else if (quoted || word[0] != '/') b.Paths.push_back(Trim_(word));
        first = false;
    }
    return b;
}

static std::vector<std::string> SplitLines_(const std::string& text)
{
    TRACE("Backup.SplitLines_");
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// 1 read, 0 the file does not exist, -1 it exists but cannot be read.
static int ReadWhole_(const std::string& path, std::string& text)
{
    TRACE("Backup.ReadWhole_");
    text.clear();
    std::error_code ec;
    if (!fs::exists(path, ec)) return 0;
    if (!fs::is_regular_file(path, ec)) return -1;
    bool ok = false;
    MonBlockTransparent([&] {
        int f = Undef;
        FOpen(f, path, FM_READ);
        const int64_t size = FSize(f);
        if (size >= 0 && size <= RESTORE_MAX_BYTES) {
            text.resize(static_cast<size_t>(size));
            if (size > 0) FRead(f, text.data(), size);
            ok = true;
        }
        FClose(f);
    });
    ok = ok && MonOK();
    MonClearError();
    return ok ? 1 : -1;
}

static bool WriteWhole_(const std::string& path, const std::string& text)
{
    TRACE("Backup.WriteWhole_");
    const bool ok = SafeTryWrite(path, text);
    MonClearError();
    return ok;
}

// dest is either the old or the whole new file.
static bool CopyFile_(const std::string& source, const std::string& dest)
{
    TRACE("Backup.CopyFile_");
    std::string data;
    return ReadWhole_(source, data) > 0 && WriteWhole_(dest, data);
}

// Whether a copy or del line names logoPath, in Windows form or as the host path earlier versions
// wrote, quoted or not.
static bool Recorded_(const std::string& text, const std::string& logoPath)
{
    TRACE("Backup.Recorded_");
    const std::string host = Trim_(logoPath);
    const std::string win = DriveToWin(DriveResolve(host));
    for (const std::string& raw : SplitLines_(text)) {
        const BatLine_ b = ParseBatLine_(raw);
        if (b.Command != "COPY" && b.Command != "DEL") continue;
        for (const std::string& field : b.Paths)
            for (const std::string& path : {host, win})
                if (!path.empty() && StrUpper(field) == StrUpper(path)) return true;
    }
    return false;
}

// 1 added, 0 already recorded, -1 failed.
static int AppendRestoreLine_(const std::string& batPath, const std::string& logoPath, const std::string& line)
{
    TRACE("Backup.AppendRestoreLine_");
    std::string text;
    int r = ReadWhole_(batPath, text);
    if (r < 0) return -1;
    if (r == 0) {
        text = RESTORE_HEADER;
    } else {
        if (Recorded_(text, logoPath)) return 0;
        // A hand-edited file may lack its last line end; the new line must not join that line.
        if (!text.empty() && text.back() != '\n') text += "\r\n";
    }
    text += line + "\r\n";
    return WriteWhole_(batPath, text) ? 1 : -1;
}

bool AppendRestoreLine(const std::string& batPath, const std::string& logoPath, const std::string& line)
{
    TRACE("Backup.AppendRestoreLine");
    return AppendRestoreLine_(batPath, logoPath, line) == 1;
}

std::string NextBackupName(const std::string& folder)
{
    TRACE("Backup.NextBackupName");
    const std::string dir = AddBS(folder);
    for (int n = 1; n < 1000000; ++n) {
        const std::string name = "logo" + std::to_string(n) + ".bmp";
        // "LOGO1.BMP" is taken as well: the drive's names ignore case.
        if (DriveFindName(dir, name).empty()) return dir + name;
    }
    return std::string();
}

std::string QuotedField(const std::string& line, int n)
{
    TRACE("Backup.QuotedField");
    size_t from = 0;
    for (int i = 1; i <= n; ++i) {
        size_t open = line.find('"', from);
        if (open == std::string::npos) return std::string();
        size_t close = line.find('"', open + 1);
        if (close == std::string::npos) return std::string();
        if (i == n) return line.substr(open + 1, close - open - 1);
        from = close + 1;
    }
    return std::string();
}

bool BackupLogoFile(const std::string& logoPath)
{
    TRACE("Backup.BackupLogoFile");
    const std::string path = DriveResolve(Trim_(logoPath));
    if (path.empty()) return false;
    // A quote or line break cannot stand in a line of the batch file: such a path is never written.
    if (path.find_first_of("\"\r\n") != std::string::npos) return false;
    // restore.bat names files in Windows form, so it runs on DOS too; a file off the drive has none.
    const std::string winPath = DriveToWin(path);
    if (winPath.empty() || !DriveContains(path)) return false;
    // Backups off the drive could not be restored from it: the logo is not replaced then.
    const std::string folder = GetBackupDir();
    if (DriveLeadsOff(folder) || !MakeLongDir(folder)) return false;
    const std::string bat = DriveResolve(folder + RESTORE_FILE);
    std::error_code ec;
    const bool existed = fs::exists(path, ec) && !fs::is_directory(path, ec);
    if (!existed) return AppendRestoreLine_(bat, path, "del  \"" + winPath + "\"") >= 0;

    std::string text;
    int r = ReadWhole_(bat, text);
    if (r < 0) return false;
    if (r > 0 && Recorded_(text, path)) return true;
    // The copy is made before the line that refers to it, so the restore file never names a
    // backup that does not exist and a failed copy leaves the logo untouched.
    const std::string backup = NextBackupName(folder);
    if (backup.empty() || !CopyFile_(path, backup)) return false;
    int added = AppendRestoreLine_(bat, path, "copy \"" + DriveToWin(backup) + "\" \"" + winPath + "\"");
    if (added != 1 && fs::remove(backup, ec)) JournalNote(backup);
    return added >= 0;
}

bool RestoreFileExists()
{
    TRACE("Backup.RestoreFileExists");
    std::error_code ec;
    return fs::exists(DriveResolve(GetBackupDir() + RESTORE_FILE), ec);
}

std::vector<std::string> RestoreLogos()
{
    TRACE("Backup.RestoreLogos");
    std::vector<std::string> failed;
    const std::string bat = DriveResolve(GetBackupDir() + RESTORE_FILE);
    if (DriveLeadsOff(GetBackupDir())) {
        failed.push_back("Not carried out: the backup folder \"" + DriveToWin(GetBackupDir()) +
                         "\" is a link to a folder off the drive.");
        return failed;
    }
    std::string text;
    const int r = ReadWhole_(bat, text);
    if (r < 0) failed.push_back("Couldn't read \"" + bat + "\".");
    // The file lies on the drive, so it is obeyed only there.
    const std::string leaves = "Not carried out, it names a file outside the drive: ";
    if (r <= 0) return failed;
    for (const std::string& raw : SplitLines_(text)) {
        const std::string line = Trim_(raw);
        const BatLine_ b = ParseBatLine_(line);
        // Remarks, blank lines and echo settings do nothing to carry out.
        if (b.Command.empty() || b.Command == "REM" || StartsWith_(b.Command, "@") || b.Command == "ECHO") continue;
        const bool del = b.Command == "DEL" && b.Paths.size() == 1;
        const bool copy = b.Command == "COPY" && b.Paths.size() == 2;
        if (!del && !copy) {
            failed.push_back("Not carried out, it is not a copy or del line of one logo file: " + line);
            continue;
        }
        if (del) {
            const std::string target = DriveFromStored(b.Paths[0]);
            if (target.empty()) {
                failed.push_back(leaves + line);
                continue;
            }
            std::error_code ec;
            if (fs::is_directory(target, ec)) {
                failed.push_back("Not carried out, it names a folder: " + line);
                continue;
            }
            MonBlockTransparent([&] { FDelete(target); });
            // Gone already is what the line asks for.
            if (!MonOK() && fs::exists(target, ec)) failed.push_back("Couldn't delete \"" + target + "\".");
            MonClearError();
        } else {
            const std::string source = DriveFromStored(b.Paths[0]), dest = DriveFromStored(b.Paths[1]);
            if (source.empty() || dest.empty()) {
                failed.push_back(leaves + line);
                continue;
            }
            if (!CopyFile_(source, dest)) failed.push_back("Couldn't restore \"" + dest + "\" from \"" + source + "\".");
        }
    }
    return failed;
}

static bool IsStoredPng_(const std::string& name)
{
    return name.size() > 4 && StrUpper(name.substr(name.size() - 4)) == ".PNG";
}

bool UninstallDeleteStore()
{
    TRACE("Backup.UninstallDeleteStore");
    if (!Images) StoreLoad();
    const std::string dir = GetStorageDir();
    int failures = 0;
    for (int i = 0; i < ImageListCount(Images) && failures < 2; ++i) {
        const std::string name = EntryName(*Images->Items[i]);
        // Only the store's own pictures go, whatever else lies in its folder.
        if (!IsStoredPng_(name)) continue;
        bool ok = false;
        if (IsSafeStoredName(name)) {
            MonBlockTransparent([&] { FDelete(dir + name); });
            ok = MonOK();
            MonClearError();
        }
        if (!ok) ++failures;
    }
    if (failures < 2) {
        MonBlockTransparent([&] { FDelete(DriveResolve(dir + IMAGE_INDEX_FILE)); });
        MonClearError();
    }
    return failures == 0;
}
