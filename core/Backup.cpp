#include "core/Backup.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/UiServices.h"
#include "base/miscprocs.h"
#include "core/ImageStore.h"
#include "core/Settings.h"

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

static std::string Upper_(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
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

// Temporary file in the same folder, then renamed over path.
static bool WriteWhole_(const std::string& path, const std::string& text)
{
    TRACE("Backup.WriteWhole_");
    const std::string temp = path + ".tmp";
    bool ok = false;
    MonBlockTransparent([&] {
        int f = Undef;
        FOpen(f, temp, FM_CREATE | FM_WRITE);
        FWrite(f, text.data(), static_cast<int64_t>(text.size()));
        FClose(f);
        ok = true;
    });
    ok = ok && MonOK();
    MonClearError();
    std::error_code ec;
    if (ok && fs::file_size(temp, ec) == text.size() && !ec) {
        fs::rename(temp, path, ec);
        if (!ec) return true;
    }
    fs::remove(temp, ec);
    return false;
}

// Copies through a temporary file beside dest, so dest is either the old or the whole new file.
static bool CopyFile_(const std::string& source, const std::string& dest)
{
    TRACE("Backup.CopyFile_");
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) return false;
    const std::string temp = dest + ".tmp";
    fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(temp, dest, ec);
    if (!ec) return true;
    std::error_code ignored;
    fs::remove(temp, ignored);
    return false;
}

// Whether a line other than a remark names logoPath as a quoted path. Matching the quotes too
// keeps "/b/a/logo.sys" from counting as "/a/logo.sys".
static bool Recorded_(const std::string& text, const std::string& logoPath)
{
    TRACE("Backup.Recorded_");
    const std::string needle = "\"" + Upper_(Trim_(logoPath)) + "\"";
    for (const std::string& raw : SplitLines_(text)) {
        const std::string line = Upper_(Trim_(raw));
        if (StartsWith_(line, "REM")) continue;
        size_t p = line.find(needle);
        if (p != std::string::npos && p >= 1) return true;
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
    std::error_code ec;
    for (int n = 1; n < 1000000; ++n) {
        std::string name = dir + "logo" + std::to_string(n) + ".bmp";
        if (!fs::exists(name, ec) && !fs::is_symlink(name, ec)) return name;
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
    const std::string path = Trim_(logoPath);
    if (path.empty()) return false;
    // A quote or line break cannot stand in a line of the batch file: such a path is never written.
    if (path.find_first_of("\"\r\n") != std::string::npos) return false;
    const std::string folder = GetBackupDir();
    if (!MakeLongDir(folder)) return false;
    const std::string bat = folder + RESTORE_FILE;
    std::error_code ec;
    const bool existed = fs::exists(path, ec) && !fs::is_directory(path, ec);
    if (!existed) return AppendRestoreLine_(bat, path, "del  \"" + path + "\"") >= 0;

    std::string text;
    int r = ReadWhole_(bat, text);
    if (r < 0) return false;
    if (r > 0 && Recorded_(text, path)) return true;
    // The copy is made before the line that refers to it, so the restore file never names a
    // backup that does not exist and a failed copy leaves the logo untouched.
    const std::string backup = NextBackupName(folder);
    if (backup.empty() || !CopyFile_(path, backup)) return false;
    int added = AppendRestoreLine_(bat, path, "copy \"" + backup + "\" \"" + path + "\"");
    if (added != 1) fs::remove(backup, ec);
    return added >= 0;
}

void RestoreLogos()
{
    TRACE("Backup.RestoreLogos");
    const std::string bat = GetBackupDir() + RESTORE_FILE;
    std::string text;
    if (ReadWhole_(bat, text) <= 0) return;
    for (const std::string& raw : SplitLines_(text)) {
        const std::string line = Trim_(raw);
        const std::string up = Upper_(line);
        if (StartsWith_(up, "DEL")) {
            const std::string target = Trim_(QuotedField(line, 1));
            std::error_code ec;
            if (target.empty() || fs::is_directory(target, ec)) continue;
            MonBlockTransparent([&] { FDelete(target); });
            MonClearError();
        } else if (StartsWith_(up, "COPY")) {
            const std::string source = Trim_(QuotedField(line, 1));
            const std::string dest = Trim_(QuotedField(line, 2));
            if (source.empty() || dest.empty()) continue;
            CopyFile_(source, dest);
        }
    }
}

bool RestoreOriginalLogos()
{
    TRACE("Backup.RestoreOriginalLogos");
    if (Ui().YesNo(RESTORE_QUESTION, 1) != "Y") return false;
    RestoreLogos();
    Ui().InfoBox(RESTORE_DONE);
    return true;
}

void Uninstall()
{
    TRACE("Backup.Uninstall");
    SetAutoChangeRunEntry(false);
    RestoreLogos();
    if (Ui().YesNo(UNINSTALL_QUESTION, 2) != "Y") return;
    if (!Images) StoreLoad();
    const std::string dir = GetStorageDir();
    int failures = 0;
    for (int i = 0; i < ImageListCount(Images) && failures < 2; ++i) {
        const std::string name = EntryName(*Images->Items[i]);
        bool ok = false;
        if (IsSafeStoredName(name)) {
            MonBlockTransparent([&] { FDelete(dir + name); });
            ok = MonOK();
            MonClearError();
        }
        if (!ok) ++failures;
    }
    if (failures < 2) {
        MonBlockTransparent([&] { FDelete(dir + IMAGE_INDEX_FILE); });
        MonClearError();
    }
}
