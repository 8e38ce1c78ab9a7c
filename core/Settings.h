// The user's settings: process-wide variables loaded once from "Kvs.ini" (section "Main") and
// written back at shut-down, after a command-line run and when the Options dialog is confirmed.
// Other units read and change the variables directly. A save writes only what this process
// changed since it loaded or last saved, so two programs never undo each other's settings. Also
// the folders the program uses, the logo files and message texts per position, the install
// information kept in win.ini and the registry Run entry of the automatic change.
//
// Positions: flag 1 Startup, 2 Wait, 4 Turn Off (index 0, 1, 2 in key names).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr const char* APP_TITLE = "KelvaneStudio";
constexpr const char* APP_VERSION = "2.5.0";
constexpr const char* SETTINGS_FILE = "Kvs.ini";
constexpr const char* SETTINGS_SECTION = "Main";
constexpr const char* RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* RUN_VALUE = "KelvaneStudio";
constexpr const char* DEFAULT_PREFIX = "MyPicture";
// A message file holds messages separated by a line that is exactly "--".
constexpr const char* MSG_SEPARATOR = "\r\n--\r\n";

enum { POS_STARTUP = 1, POS_WAIT = 2, POS_TURNOFF = 4, POS_ALL = 7 };

// ---- the settings, in the order of the settings file ----
extern std::string GalDir;       // gallery dialogs' folder, trailing separator
extern std::string DefPrefix;    // prefix of added images, cleaned with SanitizeName
extern std::string FileOpenDir;  // "Add New Image" folder, trailing separator
extern int32_t ResizeMode;       // 0 border, 1 crop, 2 stretch
extern bool AutoChange;          // keep the registry Run entry and the drive's DOS step
extern std::string FontName;
extern bool FontBold, FontItalic, FontUnderline, FontStrikeout;
extern int32_t FontSize;         // points
extern int32_t FontCharSet;
extern int32_t TextColor;        // Windows colour: red bits 0-7, green 8-15, blue 16-23
extern int32_t TextBorderColor;  // shown as "Shadow Color"
extern bool AnimEnabled;
extern int32_t AnimShape;        // 0 top, 1 bottom, 2 vertical (other values kept, no band)
extern int32_t AnimMove;         // 0 smooth scroll, 1 Vegas style
extern int32_t AnimColor1, AnimColor2;
extern int32_t AnimDelay;        // kept and written back, unused
extern bool Msg0Enabled, Msg1Enabled, Msg2Enabled;
extern int32_t MsgPickMethod;
extern int32_t Msg0Index, Msg1Index, Msg2Index;
extern int32_t LogoPickMethod;
extern int32_t Logo0Index, Logo1Index, Logo2Index;
// How many logo sets the automatic change prepares for the starts of real Windows.
constexpr int32_t AUTOCHANGE_SETS_DEFAULT = 8, AUTOCHANGE_SETS_MIN = 1, AUTOCHANGE_SETS_MAX = 64;
extern int32_t AutoChangeSets;

// Per-position views of the variables above; nullptr for a value other than 1, 2, 4.
int PosIndex(int position);  // 1, 2, 4 -> 0, 1, 2; anything else -> -1
bool* MsgEnabledOf(int position);
int32_t* MsgIndexOf(int position);
int32_t* LogoIndexOf(int position);

// The caption tables of AnimShape and AnimMove (Options dialog).
struct SettingsItem {
    const char* caption;
    int32_t value;
};
extern const SettingsItem AnimShapeItems[3];
extern const SettingsItem AnimMoveItems[2];
// Index of the row whose value is nearest to value, the first one on a tie.
int NearestItem(const SettingsItem* table, int count, int32_t value);

// ---- command line (parameter 0 is the full path of the program) ----
void SetParams(const std::vector<std::string>& params);
int ParamCount();  // number of parameters after parameter 0
std::string ParamStr(int index);  // empty when out of range

// ---- install information (win.ini, section "Trelmark") ----
struct InstallInfo {
    std::string KvsPath;        // "Kvs-Path"
    std::string KvsVer;         // "Kvs-Ver"
    std::string KvsStorageDir;  // "Kvs-StorageDir"
};
extern InstallInfo Install;
void ReadInstallInfo();
void WriteInstallInfo();

// ---- load and save ----
void LoadSettings();
// Writes the keys this process changed (and those the file lacks) onto the file as it is now, then
// the install information the same way. False when the settings file could not be written, also
// when another program held it past the wait.
bool SaveSettings();
// Runs advance, which moves pick counters, on the counters as the settings file holds them now
// (another program may have moved them since this one loaded) and writes them right after, all
// under the settings lock. False, with nothing run, when another program holds it past the wait.
bool SettingsAdvanceCounters(const std::function<void()>& advance);
void LoadMessages();
void SaveMessages();

// Every key of the settings file in file order, with its current value as it is written.
struct SettingsPair {
    std::string key;
    std::string value;
};
std::vector<SettingsPair> SettingsList();
// Stores text in the variable of key (any case) exactly as LoadSettings would read it from
// the file; false for an unknown key.
bool SettingsSetValue(const std::string& key, const std::string& text);
// Whether the loader reads text as a value of key's type (a number for a number key, a
// yes/no for a boolean) rather than falling back to the default; false for an unknown key.
bool SettingsValueFits(const std::string& key, const std::string& text);

// ---- messages, logo files, folders ----
std::string GetMessageText(int position);
void SetMessageText(int position, const std::string& text);
std::string GetMessageFileName(int position);  // program folder + "msg-....txt"; empty for a bad position
std::string GetLogoFileName(int position);
void SetLogoFileName(int position, const std::string& path);
std::string GetDefaultLogoFileName(int position);
std::string GetStorageDir();
void SetStorageDir(const std::string& path);
std::string GetDefaultStorageDir();
std::string GetBackupDir();   // Windows folder + "logos.bak", with trailing separator
std::string GetExeName();     // full path of the program (parameter 0)

// ---- automatic change ----
std::string AutoChangeRunCommand();  // upper-cased "<program> /change"
// False when the Run value could not be written or removed.
bool SetAutoChangeRunEntry(bool enable);
