// Registry stand-in: the file "registry.ini" in the Windows folder, one section per key path
// ("[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]"), one line per string
// value. Key paths and value names compare ignoring case, as in the Windows registry. Every
// change is written to disk at once, through the safe write path.
#pragma once

#include <string>

enum RegRoot {
    REG_HKEY_CLASSES_ROOT = 0,
    REG_HKEY_CURRENT_USER = 1,
    REG_HKEY_LOCAL_MACHINE = 2,
    REG_HKEY_USERS = 3
};

// An open key. Plain record; RegCloseKey only marks it closed.
struct RegKey {
    std::string path;   // "HKEY_LOCAL_MACHINE\Software\..." (the section name)
    bool open = false;
    bool writable = false;
};

// The key paths every Windows system has; they open for reading even when registry.ini lacks them.
constexpr const char* REG_CURRENT_VERSION = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* REG_RUN = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Full path of registry.ini (in the Windows folder).
std::string RegFileName();
// Section name for a root and a key path (separators '\' or '/', leading, trailing and doubled
// separators removed). Empty text for an unknown root.
std::string RegKeyPath(RegRoot root, const std::string& path);
// Opens a key. Without create it fails when the key does not exist; with create a missing key is
// made (written to disk) and the key is writable.
bool RegOpenKey(RegRoot root, const std::string& path, bool create, RegKey& key);
void RegCloseKey(RegKey& key);
// Raw value access; false when the key is not open, the value is missing or the write fails.
// An empty value name means the key's default value.
bool RegQueryValueStr(const RegKey& key, const std::string& name, std::string& value);
bool RegSetValueStr(const RegKey& key, const std::string& name, const std::string& value);
bool RegDeleteValueStr(const RegKey& key, const std::string& name);
