#include "core/Backup.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "base/StrUtil.h"
#include "base/miscprocs.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "platform/DrivePath.h"

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

// Whether a line other than a remark names logoPath as a quoted path, in Windows form or as the
// host path earlier versions wrote. Matching the quotes too keeps "/b/a/logo.sys" from counting
// as "/a/logo.sys".
static bool Recorded_(const std::string& text, const std::string& logoPath)
{
    TRACE("Backup.Recorded_");
    const std::string host = Trim_(logoPath);
    const std::string win = DriveToWin(DriveResolve(host));
    for (const std::string& raw : SplitLines_(text)) {
        const std::string line = StrUpper(Trim_(raw));
        if (StartsWith_(line, "REM")) continue;
        for (const std::string& path : {host, win}) {
            size_t p = path.empty() ? std::string::npos : line.find("\"" + StrUpper(path) + "\"");
            if (p != std::string::npos && p >= 1) return true;
        }
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
    const std::string folder = GetBackupDir();
    if (!MakeLongDir(folder)) return false;
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
    if (added != 1) fs::remove(backup, ec);
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
    std::string text;
    const int r = ReadWhole_(bat, text);
    if (r < 0) failed.push_back("Couldn't read \"" + bat + "\".");
    // The file lies on the drive, so it is obeyed only there.
    const std::string leaves = "Not carried out, it names a file outside the drive: ";
    if (r <= 0) return failed;
    for (const std::string& raw : SplitLines_(text)) {
        const std::string line = Trim_(raw);
        const std::string up = StrUpper(line);
        if (StartsWith_(up, "DEL")) {
            const std::string field = Trim_(QuotedField(line, 1));
            const std::string target = DriveFromStored(field);
            std::error_code ec;
            if (field.empty() || fs::is_directory(target, ec)) continue;
            if (target.empty()) {
                failed.push_back(leaves + line);
                continue;
            }
            MonBlockTransparent([&] { FDelete(target); });
            // Gone already is what the line asks for.
            if (!MonOK() && fs::exists(target, ec)) failed.push_back("Couldn't delete \"" + target + "\".");
            MonClearError();
        } else if (StartsWith_(up, "COPY")) {
            const std::string from = Trim_(QuotedField(line, 1)), to = Trim_(QuotedField(line, 2));
            if (from.empty() || to.empty()) continue;
            const std::string source = DriveFromStored(from), dest = DriveFromStored(to);
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
