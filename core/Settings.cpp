#include "core/Settings.h"

#include <cctype>
#include <filesystem>
#include <functional>
#include <system_error>

#include "base/Basic.h"
#include "base/FileUtil.h"
#include "base/Mon.h"
#include "platform/Prefs.h"
#include "base/SafeFile.h"
#include "base/StrUtil.h"
#include "platform/WinUtils.h"
#include "core/Names.h"
#include "core/ProgramDir.h"
#include "core/SettingsLock.h"
#include "platform/DrivePath.h"
#include "platform/Shipped.h"
#include "platform/SysExe.h"
#include "platform/SysInfo.h"

// ---- the variables ----
std::string GalDir = "/";
std::string DefPrefix = DEFAULT_PREFIX;
std::string FileOpenDir = "/";
int32_t ResizeMode = 0;
bool AutoChange = true;
std::string FontName = "Verdana";
bool FontBold = true, FontItalic = false, FontUnderline = false, FontStrikeout = false;
int32_t FontSize = 10;
int32_t FontCharSet = 0;
int32_t TextColor = 13172735;
int32_t TextBorderColor = 0;
bool AnimEnabled = true;
int32_t AnimShape = 1;
int32_t AnimMove = 0;
int32_t AnimColor1 = 16744448, AnimColor2 = 6291456;
int32_t AnimDelay = 0;
bool Msg0Enabled = true, Msg1Enabled = true, Msg2Enabled = true;
int32_t MsgPickMethod = 0;
int32_t Msg0Index = 0, Msg1Index = 0, Msg2Index = 0;
int32_t LogoPickMethod = 0;
int32_t Logo0Index = 0, Logo1Index = 0, Logo2Index = 0;
int32_t AutoChangeSets = AUTOCHANGE_SETS_DEFAULT;

InstallInfo Install;

const SettingsItem AnimShapeItems[3] = {
    {"Top - bar at the top of the image", 0},
    {"Bottom - bar at the bottom of the image", 1},
    {"Vertical - left and right bar", 2},
};
const SettingsItem AnimMoveItems[2] = {
    {"Smooth scroll", 0},
    {"Vegas style", 1},
};

static std::string LogoFile_[3];
static bool LogoFileSet_[3] = {false, false, false};
static std::string MessageText_[3];
static std::string StorageDir_;
static std::string ExeName_;
static std::vector<std::string> Params_;

static const char* const MessageFiles_[3] = {"msg-startup.txt", "msg-wait.txt", "msg-turnoff.txt"};

// ---- the key table: one row per key of the settings file, in the order it is written ----
enum { KT_STR, KT_INT, KT_BOOL, KT_LOGO };
struct KeyDef_ {
    const char* key;
    int type;
    void* var;        // std::string*, int32_t*, bool*, or the position index for KT_LOGO
    const char* defStr;
    int32_t defInt;   // also the boolean default (0/1)
};

static const KeyDef_ Keys_[] = {
    {"GalDir", KT_STR, &GalDir, "/", 0},
    {"LogoFile0", KT_LOGO, nullptr, "", 0},
    {"LogoFile1", KT_LOGO, nullptr, "", 1},
    {"LogoFile2", KT_LOGO, nullptr, "", 2},
    {"FileOpenDir", KT_STR, &FileOpenDir, "/", 0},
    {"DefPrefix", KT_STR, &DefPrefix, DEFAULT_PREFIX, 0},
    {"ResizeMode", KT_INT, &ResizeMode, "", 0},
    {"AutoChange", KT_BOOL, &AutoChange, "", 1},
    {"FontName", KT_STR, &FontName, "Verdana", 0},
    {"FontBold", KT_BOOL, &FontBold, "", 1},
    {"FontItalic", KT_BOOL, &FontItalic, "", 0},
    {"FontUnderline", KT_BOOL, &FontUnderline, "", 0},
    {"FontStrikeout", KT_BOOL, &FontStrikeout, "", 0},
    {"FontSize", KT_INT, &FontSize, "", 10},
    {"FontCharSet", KT_INT, &FontCharSet, "", 0},
    {"TextColor", KT_INT, &TextColor, "", 13172735},
    {"TextBorderColor", KT_INT, &TextBorderColor, "", 0},
    {"AnimEnabled", KT_BOOL, &AnimEnabled, "", 1},
    {"AnimShape", KT_INT, &AnimShape, "", 1},
    {"AnimMove", KT_INT, &AnimMove, "", 0},
    {"AnimColor1", KT_INT, &AnimColor1, "", 16744448},
    {"AnimColor2", KT_INT, &AnimColor2, "", 6291456},
    {"AnimDelay", KT_INT, &AnimDelay, "", 0},
    {"Msg0Enabled", KT_BOOL, &Msg0Enabled, "", 1},
    {"Msg1Enabled", KT_BOOL, &Msg1Enabled, "", 1},
    {"Msg2Enabled", KT_BOOL, &Msg2Enabled, "", 1},
    {"MsgPickMethod", KT_INT, &MsgPickMethod, "", 0},
    {"Msg0Index", KT_INT, &Msg0Index, "", 0},
    {"Msg1Index", KT_INT, &Msg1Index, "", 0},
    {"Msg2Index", KT_INT, &Msg2Index, "", 0},
    {"LogoPickMethod", KT_INT, &LogoPickMethod, "", 0},
    {"Logo0Index", KT_INT, &Logo0Index, "", 0},
    {"Logo1Index", KT_INT, &Logo1Index, "", 0},
    {"Logo2Index", KT_INT, &Logo2Index, "", 0},
    {"AutoChangeSets", KT_INT, &AutoChangeSets, "", AUTOCHANGE_SETS_DEFAULT},
};
constexpr int KEY_COUNT = sizeof(Keys_) / sizeof(Keys_[0]);
// The settings table lists "DefPrefix" before "FileOpenDir"; the file is written the other way.
static const int LoadOrder_[KEY_COUNT] = {0, 1, 2, 3, 5, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                          17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34};

// Per key, the value as this process loaded or last saved it, as it is written: a save writes only
// the keys whose value moved away from it, so a key this process left alone keeps what another
// program wrote meanwhile.
static std::string Baseline_[KEY_COUNT];
static bool Loaded_ = false;
// The install information as this process read it from win.ini or last wrote it there; the
// storage folder in the form StorageDir_ keeps it, so only a change made here counts.
static InstallInfo InstallBase_;

// A decimal integer with an optional sign and nothing else (blanks around it are allowed, as
// the profile reader trims them); false when the text is no 32-bit integer.
static bool ParseInt_(const std::string& text, int32_t& value)
{
    std::string s = StrTrim(text);
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    if (i >= s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); i++) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL) return false;
    }
    if (neg) v = -v;
    if (v > 2147483647LL || v < -2147483648LL) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// The boolean rule of the settings file: first character decides, otherwise the default.
static bool ParseBool_(const std::string& text, bool def)
{
    if (text.empty()) return def;
    switch (std::toupper(static_cast<unsigned char>(text[0]))) {
    case '1': case 'T': case 'Y': return true;
    case '0': case 'F': case 'N': return false;
    default: return def;
    }
}

// A logo path as read from the settings: one on the drive is kept in Windows form, so it follows
// the drive; a host path elsewhere (earlier versions) or another drive letter falls back to the default.
static void LoadLogoFileText_(int i, const std::string& text)
{
    TRACE("Settings.LoadLogoFileText_");
    const bool usable = text.empty() || !DriveFromStored(text).empty();
    LogoFile_[i] = usable ? DriveStoredText(text) : std::string();
    LogoFileSet_[i] = usable;
}

// Applies a value as the loader reads it from the file, with its clean-ups.
static void StoreValue_(const KeyDef_& d, const std::string& text)
{
    TRACE("Settings.StoreValue_");
    switch (d.type) {
    case KT_STR: {
        std::string& s = *static_cast<std::string*>(d.var);
        s = text;
        if (&s == &GalDir || &s == &FileOpenDir) s = AddBS(s);
        if (&s == &DefPrefix) s = SanitizeName(s, false);
        break;
    }
    case KT_LOGO:
        LoadLogoFileText_(d.defInt, StrTrim(text));
        break;
    case KT_INT: {
        int32_t v;
        *static_cast<int32_t*>(d.var) = ParseInt_(text, v) ? v : d.defInt;
        break;
    }
    case KT_BOOL:
        *static_cast<bool*>(d.var) = ParseBool_(text, d.defInt != 0);
        break;
    }
}

static std::string ValueText_(const KeyDef_& d)
{
    TRACE("Settings.ValueText_");
    switch (d.type) {
    case KT_STR: return *static_cast<std::string*>(d.var);
    case KT_LOGO: return DriveStoredText(GetLogoFileName(1 << d.defInt));
    case KT_INT: return std::to_string(*static_cast<int32_t*>(d.var));
    case KT_BOOL: return *static_cast<bool*>(d.var) ? "1" : "0";
    }
    return std::string();
}

static bool Changed_(int i)
{
    TRACE("Settings.Changed_");
    return ValueText_(Keys_[i]) != Baseline_[i];
}

static bool IsCounter_(const KeyDef_& d)
{
    TRACE("Settings.IsCounter_");
    for (const int32_t* c : {&Msg0Index, &Msg1Index, &Msg2Index, &Logo0Index, &Logo1Index, &Logo2Index})
        if (d.var == c) return true;
    return false;
}

// Whether the target's section holds key (no value holds a line end).
static bool InFile_(const std::string& key)
{
    TRACE("Settings.InFile_");
    return PrefsReadStr(key, "\n") != "\n";
}

// ---- positions ----
int PosIndex(int position)
{
    TRACE("Settings.PosIndex");
    switch (position) {
    case POS_STARTUP: return 0;
    case POS_WAIT: return 1;
    case POS_TURNOFF: return 2;
    default: return -1;
    }
}

bool* MsgEnabledOf(int position)
{
    TRACE("Settings.MsgEnabledOf");
    static bool* const v[3] = {&Msg0Enabled, &Msg1Enabled, &Msg2Enabled};
    int i = PosIndex(position);
    return i < 0 ? nullptr : v[i];
}

int32_t* MsgIndexOf(int position)
{
    TRACE("Settings.MsgIndexOf");
    static int32_t* const v[3] = {&Msg0Index, &Msg1Index, &Msg2Index};
    int i = PosIndex(position);
    return i < 0 ? nullptr : v[i];
}

int32_t* LogoIndexOf(int position)
{
    TRACE("Settings.LogoIndexOf");
    static int32_t* const v[3] = {&Logo0Index, &Logo1Index, &Logo2Index};
    int i = PosIndex(position);
    return i < 0 ? nullptr : v[i];
}

int NearestItem(const SettingsItem* table, int count, int32_t value)
{
    TRACE("Settings.NearestItem");
    int best = 0;
    int64_t bestDiff = -1;
    for (int i = 0; i < count; i++) {
        int64_t diff = static_cast<int64_t>(table[i].value) - value;
        if (diff < 0) diff = -diff;
        if (bestDiff < 0 || diff < bestDiff) {
            best = i;
            bestDiff = diff;
        }
    }
    return best;
}

// ---- command line ----
void SetParams(const std::vector<std::string>& params)
{
    TRACE("Settings.SetParams");
    Params_ = params;
    ExeName_.clear();
}

int ParamCount()
{
    TRACE("Settings.ParamCount");
    return Params_.empty() ? 0 : static_cast<int>(Params_.size()) - 1;
}

std::string ParamStr(int index)
{
    TRACE("Settings.ParamStr");
    if (index == 0 && (Params_.empty() || Params_[0].empty())) return SysExePath();
    if (index < 0 || index >= static_cast<int>(Params_.size())) return std::string();
    return Params_[index];
}

// ---- folders and files ----
std::string GetExeName()
{
    TRACE("Settings.GetExeName");
    if (ExeName_.empty()) ExeName_ = ParamStr(0);
    return ExeName_;
}

std::string GetBackupDir()
{
    TRACE("Settings.GetBackupDir");
    return AddBS(DriveResolve(GetWinFolder() + "logos.bak"));
}

std::string GetDefaultLogoFileName(int position)
{
    TRACE("Settings.GetDefaultLogoFileName");
    switch (position) {
    case POS_STARTUP: return DriveResolve(GetWinDriveRoot() + "logo.sys");
    case POS_WAIT: return DriveResolve(GetWinFolder() + "logow.sys");
    case POS_TURNOFF: return DriveResolve(GetWinFolder() + "logos.sys");
    default: return std::string();
    }
}

// A kept path as the host path it names now: the Windows form on the current drive (def's when it
// cannot be mapped there), a host path found ignoring case when it lies on the drive. The default
// is made only when needed: making it walks the drive.
static std::string DrivePathOf_(const std::string& text, const std::function<std::string()>& def)
{
    TRACE("Settings.DrivePathOf_");
    if (!DriveIsWinPath(text)) return DriveResolve(text);
    const std::string path = DriveFromWin(text);
    return path.empty() ? def() : path;
}

std::string GetLogoFileName(int position)
{
    TRACE("Settings.GetLogoFileName");
    int i = PosIndex(position);
    if (i < 0) return std::string();
    if (!LogoFileSet_[i]) return GetDefaultLogoFileName(position);
    return DrivePathOf_(LogoFile_[i], [position] { return GetDefaultLogoFileName(position); });
}

void SetLogoFileName(int position, const std::string& path)
{
    TRACE("Settings.SetLogoFileName");
    int i = PosIndex(position);
    if (i < 0) return;
    LogoFile_[i] = StrTrim(path);
    LogoFileSet_[i] = true;
}

std::string GetDefaultStorageDir()
{
    TRACE("Settings.GetDefaultStorageDir");
    // The program-files folder is named by the drive's registry: only a folder on the drive counts.
    std::string folder = DriveFromStored(GetProgramFilesFolder());
    if (folder.empty()) folder = DriveResolve(GetWinDriveRoot() + "Program Files");
    // folder is found already: only its last part is left to find.
    const std::string found = DriveFindName(AddBS(folder), "KvsLogos");
    return AddBS(folder) + (found.empty() ? std::string("KvsLogos") : found) + "/";
}

std::string GetStorageDir()
{
    TRACE("Settings.GetStorageDir");
    if (StorageDir_.empty()) return GetDefaultStorageDir();
    return AddBS(DrivePathOf_(StorageDir_, GetDefaultStorageDir));
}

void SetStorageDir(const std::string& path)
{
    TRACE("Settings.SetStorageDir");
    // An empty folder would put the store into whatever the current folder is.
    StorageDir_ = path.empty() ? std::string() : AddBS(DriveStoredText(path));
}

// ---- messages ----
std::string GetMessageFileName(int position)
{
    TRACE("Settings.GetMessageFileName");
    int i = PosIndex(position);
    return i < 0 ? std::string() : GetProgramDir() + MessageFiles_[i];
}

std::string GetMessageText(int position)
{
    TRACE("Settings.GetMessageText");
    int i = PosIndex(position);
    return i < 0 ? std::string() : MessageText_[i];
}

void SetMessageText(int position, const std::string& text)
{
    TRACE("Settings.SetMessageText");
    int i = PosIndex(position);
    if (i >= 0) MessageText_[i] = text;
}

static bool Exists_(const std::string& path)
{
    TRACE("Settings.Exists_");
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

static bool WriteFileAtomic_(const std::string& path, const std::string& text)
{
    TRACE("Settings.WriteFileAtomic_");
    const bool ok = SafeTryWrite(path, text);
    MonClearError();
    return ok;
}

void LoadMessages()
{
    TRACE("Settings.LoadMessages");
    for (int i = 0; i < 3; i++) {
        std::string name = GetMessageFileName(1 << i);
        const bool there = Exists_(name);
        if (!there) {
            std::string shipped = ShippedFile(MessageFiles_[i]);
            if (!shipped.empty() && shipped != name) WriteFileAtomic_(name, FileToStr(shipped) + "\r\n");
        }
        MessageText_[i] = there || Exists_(name) ? FileToStr(name) : std::string();
    }
    MonClearError();
}

void SaveMessages()
{
    TRACE("Settings.SaveMessages");
    for (int i = 0; i < 3; i++) SafeWrite(GetMessageFileName(1 << i), MessageText_[i] + "\r\n");
}

// ---- install information ----
void ReadInstallInfo()
{
    TRACE("Settings.ReadInstallInfo");
    PrefsPrepare("win.ini", "Trelmark");
    PrefsInBatch([] {
        Install.KvsPath = PrefsReadStr("Kvs-Path", "");
        Install.KvsVer = PrefsReadStr("Kvs-Ver", "");
        Install.KvsStorageDir = PrefsReadStr("Kvs-StorageDir", "");
    });
}

// Writes value into the prepared section when this process changed it or the file lacks the key:
// another program's value is never put back.
static void WriteInstallValue_(const std::string& key, const std::string& value, bool changed)
{
    TRACE("Settings.WriteInstallValue_");
    PrefsInBatch([&] {
        if (changed || !InFile_(key)) PrefsWriteStr(key, value);
    });
}

void WriteInstallInfo()
{
    TRACE("Settings.WriteInstallInfo");
    const SettingsLockScope lock;
    if (!lock.Held) return;
    Install.KvsPath = GetExeName();
    Install.KvsVer = APP_VERSION;
    Install.KvsStorageDir = DriveStoredText(GetStorageDir());
    PrefsPrepare("win.ini", "Trelmark");
    PrefsReread();
    WriteInstallValue_("Kvs-Path", Install.KvsPath, Install.KvsPath != InstallBase_.KvsPath);
    WriteInstallValue_("Kvs-Ver", Install.KvsVer, Install.KvsVer != InstallBase_.KvsVer);
    if (PrefsFlushCache()) {
        InstallBase_.KvsPath = Install.KvsPath;
        InstallBase_.KvsVer = Install.KvsVer;
    }
    PrefsPrepare("win.ini", "Trelmark");
    WriteInstallValue_("Kvs-StorageDir", Install.KvsStorageDir, StorageDir_ != InstallBase_.KvsStorageDir);
    if (PrefsFlushCache()) InstallBase_.KvsStorageDir = StorageDir_;
}

// ---- load and save ----
static void LoadKey_(const KeyDef_& d)
{
    TRACE("Settings.LoadKey_");
    std::string text;
    switch (d.type) {
    case KT_STR:
        PrefsReadStr(d.key, text, d.defStr);
        *static_cast<std::string*>(d.var) = text;
        break;
    case KT_LOGO:
        // The default walks the drive: made only for a missing key (no value holds a line end).
        PrefsReadStr(d.key, text, "\n");
        if (text == "\n") text = GetDefaultLogoFileName(1 << d.defInt);
        LoadLogoFileText_(d.defInt, text);
        break;
    case KT_INT:
        PrefsReadInt(d.key, *static_cast<int32_t*>(d.var), d.defInt);
        break;
    case KT_BOOL:
        PrefsReadBool(d.key, *static_cast<bool*>(d.var), d.defInt != 0);
        break;
    }
}

static void LoadKeys_()
{
    TRACE("Settings.LoadKeys_");
    for (int n = 0; n < KEY_COUNT; n++) LoadKey_(Keys_[LoadOrder_[n]]);
}

static void PrepareSettingsFile_()
{
    TRACE("Settings.PrepareSettingsFile_");
    PrefsPrepare(GetProgramDir() + SETTINGS_FILE, SETTINGS_SECTION);
}

void LoadSettings()
{
    TRACE("Settings.LoadSettings");
    // The pick generator (Shuffle) seeds itself from the clock on first use, once per run.
    ProgramDirForget();
    std::string dir = GetProgramDir();
    std::error_code ec;
    if (!dir.empty() && !std::filesystem::is_directory(dir, ec)) SysMakeDirs(dir);
    PrepareSettingsFile_();
    PrefsInBatch(LoadKeys_);
    ReadInstallInfo();
    // win.ini lies on the drive: a storage folder it names elsewhere is not ours to use.
    const std::string storage = DriveFromStored(Install.KvsStorageDir);
    StorageDir_ = storage.empty() ? std::string() : DriveStoredText(AddBS(storage));
    InstallBase_ = {Install.KvsPath, Install.KvsVer, StorageDir_};
    ExeName_ = ParamStr(0);
    GalDir = AddBS(GalDir);
    FileOpenDir = AddBS(FileOpenDir);
    DefPrefix = SanitizeName(DefPrefix, false);
    for (int i = 0; i < KEY_COUNT; i++) Baseline_[i] = ValueText_(Keys_[i]);
    Loaded_ = true;
    SetAutoChangeRunEntry(AutoChange);
}

// Writes the keys this process changed (the counters only, or all) onto the file as it is now; they
// become the baseline. A key the file lacks is written too, as loaded when its change is not to be
// saved now, so that a new file has every key in the file's order. Call under the settings lock.
// False when the file could not be written.
static bool SaveKeys_(bool countersOnly)
{
    TRACE("Settings.SaveKeys_");
    PrepareSettingsFile_();
    PrefsReread();
    std::vector<std::pair<int, std::string>> saved;
    PrefsInBatch([&] {
        for (int i = 0; i < KEY_COUNT; i++) {
            const KeyDef_& d = Keys_[i];
            const bool chosen = !countersOnly || IsCounter_(d) || !Loaded_;
            const std::string text = chosen ? ValueText_(d) : Baseline_[i];
            if (text == Baseline_[i] && Loaded_ && InFile_(d.key)) continue;
            PrefsWriteStr(d.key, text);
            saved.emplace_back(i, text);
        }
    });
    if (!PrefsFlushCache()) return false;
    for (const auto& [i, text] : saved) Baseline_[i] = text;
    return true;
}

bool SaveSettings()
{
    TRACE("Settings.SaveSettings");
    const SettingsLockScope lock;
    if (!lock.Held) return false;
    const bool saved = SaveKeys_(false);
    WriteInstallInfo();
    return saved;
}

bool SettingsAdvanceCounters(const std::function<void()>& advance)
{
    TRACE("Settings.SettingsAdvanceCounters");
    const SettingsLockScope lock;
    if (!lock.Held) return false;
    PrepareSettingsFile_();
    PrefsReread();
    // A counter moved here and not yet saved stays as it is: the save below writes it.
    PrefsInBatch([] {
        for (int i = 0; i < KEY_COUNT; i++) {
            if (!IsCounter_(Keys_[i]) || Changed_(i)) continue;
            LoadKey_(Keys_[i]);
            Baseline_[i] = ValueText_(Keys_[i]);
        }
    });
    advance();
    // A counter that could not be written stays changed, so the next save of the settings writes it.
    MonBlockTransparent([] { SaveKeys_(true); });
    MonClearError();
    return true;
}

std::vector<SettingsPair> SettingsList()
{
    TRACE("Settings.SettingsList");
    std::vector<SettingsPair> list;
    for (const KeyDef_& d : Keys_) list.push_back({d.key, ValueText_(d)});
    return list;
}

bool SettingsSetValue(const std::string& key, const std::string& text)
{
    TRACE("Settings.SettingsSetValue");
    for (const KeyDef_& d : Keys_) {
        if (!SameText(key, d.key)) continue;
        // The profile reader trims values, so the loader never sees blanks around them.
        StoreValue_(d, StrTrim(text));
        return true;
    }
    return false;
}

bool SettingsValueFits(const std::string& key, const std::string& text)
{
    TRACE("Settings.SettingsValueFits");
    const std::string t = StrTrim(text);
    for (const KeyDef_& d : Keys_) {
        if (!SameText(key, d.key)) continue;
        int32_t v;
        if (d.var == &AutoChangeSets) return ParseInt_(t, v) && v >= AUTOCHANGE_SETS_MIN && v <= AUTOCHANGE_SETS_MAX;
        if (d.type == KT_INT) return ParseInt_(t, v);
        if (d.type == KT_BOOL) return ParseBool_(t, true) == ParseBool_(t, false);
        return true;
    }
    return false;
}

// ---- automatic change ----
std::string AutoChangeRunCommand()
{
    TRACE("Settings.AutoChangeRunCommand");
    return StrUpper(GetExeName() + " /change");
}

bool SetAutoChangeRunEntry(bool enable)
{
    TRACE("Settings.SetAutoChangeRunEntry");
    RegKey key;
    if (!RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_RUN, true, key)) return false;
    std::string expected = AutoChangeRunCommand();
    bool ok = true;
    if (enable) {
        ok = RegSetValueStr(key, RUN_VALUE, expected);
    } else {
        std::string current;
        RegReadStr(key, RUN_VALUE, current, "");
        // A Run value of another copy of the program is not ours to remove.
        if (!current.empty() && SameText(current, expected)) ok = RegDeleteValueStr(key, RUN_VALUE);
    }
    RegCloseKey(key);
    return ok;
}
