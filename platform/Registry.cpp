// Registry over registry.ini; values are written in double quotes so that blanks and quotes at
// their ends survive the profile reader's trimming.
#include "platform/Registry.h"

#include "base/Mon.h"
#include "base/StrUtil.h"

#include "platform/ProfileFile.h"
#include "platform/SysInfo.h"

namespace {

constexpr int REG_VALUE_MAX_ = 1 << 20;

const char* rootName_(RegRoot root)
{
    switch (root) {
    case REG_HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case REG_HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case REG_HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case REG_HKEY_USERS: return "HKEY_USERS";
    }
    return nullptr;
}

// Whether the key is one that every Windows system has (or one of its parents).
bool wellKnown_(const std::string& keyPath)
{
    std::string lm = std::string(rootName_(REG_HKEY_LOCAL_MACHINE));
    for (const char* known : {REG_CURRENT_VERSION, REG_RUN}) {
        std::string full = lm + "\\" + known;
        if (SameText(keyPath, full)) return true;
        if (keyPath.size() < full.size() && full[keyPath.size()] == '\\' &&
            SameText(keyPath, full.substr(0, keyPath.size())))
            return true;
    }
    return false;
}

std::string valueKey_(const std::string& name)
{
    return name.empty() ? std::string("@") : name;
}

}  // namespace

std::string RegFileName()
{
    TRACE("Registry.RegFileName");
    std::string win = SysWindowsDir();
    return win.empty() ? std::string() : win + "registry.ini";
}

std::string RegKeyPath(RegRoot root, const std::string& path)
{
    TRACE("Registry.RegKeyPath");
    const char* r = rootName_(root);
    if (!r) return std::string();
    std::string result = r;
    std::string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        char c = i < path.size() ? path[i] : '\\';
        if (c == '\\' || c == '/') {
            if (!part.empty()) result += "\\" + part;
            part.clear();
        } else {
            part += c;
        }
    }
    return result;
}

bool RegOpenKey(RegRoot root, const std::string& path, bool create, RegKey& key)
{
    TRACE("Registry.RegOpenKey");
    key = RegKey();
    std::string section = RegKeyPath(root, path);
    std::string file = RegFileName();
    if (section.empty() || file.empty()) return false;
    if (section.find_first_of("\r\n[]") != std::string::npos) return false;
    if (create) {
        if (!ProfileSectionExists(section, file)) {
            if (!ProfileAddSection(section, file) || !ProfileFlush(file)) return false;
        }
    } else if (!ProfileSectionExists(section, file, true) && !wellKnown_(section)) {
        return false;
    }
    key.path = section;
    key.open = true;
    key.writable = create;
    return true;
}

void RegCloseKey(RegKey& key)
{
    TRACE("Registry.RegCloseKey");
    key.open = false;
    key.writable = false;
}

bool RegQueryValueStr(const RegKey& key, const std::string& name, std::string& value)
{
    TRACE("Registry.RegQueryValueStr");
    value.clear();
    if (!key.open) return false;
    std::string file = RegFileName();
    if (file.empty()) return false;
    // A default that no stored text can equal tells a missing value from an empty one.
    const std::string missing("\n");
    std::string out;
    ProfileReadString(key.path, valueKey_(name), missing, out, REG_VALUE_MAX_, file);
    if (out != missing) {
        value = out;
        return true;
    }
    if (SameText(key.path, std::string("HKEY_LOCAL_MACHINE\\") + REG_CURRENT_VERSION) &&
        SameText(name, "ProgramFilesDir")) {
        std::string root = SysDriveRoot();
        if (root.empty()) return false;
        value = root + "Program Files";
        return true;
    }
    return false;
}

bool RegSetValueStr(const RegKey& key, const std::string& name, const std::string& value)
{
    TRACE("Registry.RegSetValueStr");
    if (!key.open || !key.writable) return false;
    std::string file = RegFileName();
    if (file.empty()) return false;
    if (!ProfileWriteString(key.path, valueKey_(name), "\"" + value + "\"", file)) return false;
    return ProfileFlush(file);
}

bool RegDeleteValueStr(const RegKey& key, const std::string& name)
{
    TRACE("Registry.RegDeleteValueStr");
    if (!key.open || !key.writable) return false;
    std::string file = RegFileName();
    if (file.empty()) return false;
    std::string out;
    if (ProfileReadString(key.path, valueKey_(name), "\n", out, REG_VALUE_MAX_, file) == 1 && out == "\n")
        return false;  // no such value, as the registry reports it
    return ProfileDeleteKey(key.path, valueKey_(name), file) && ProfileFlush(file);
}
