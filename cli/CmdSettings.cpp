// kvs settings [KEY [VALUE]]: print all settings, one, or store one and save.
#include <cctype>

#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/Settings.h"

static bool SameKey_(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

static bool FindSetting_(const std::string& key, SettingsPair& pair)
{
    for (const SettingsPair& p : SettingsList()) {
        if (SameKey_(p.key, key)) {
            pair = p;
            return true;
        }
    }
    return false;
}

int CmdSettings(const std::vector<std::string>& args)
{
    TRACE("CmdSettings.CmdSettings");
    if (args.size() > 2) return KvsUsageError("settings", "too many arguments");
    return KvsRunStatus([&] {
        LoadSettings();
        if (args.empty()) {
            std::string text;
            for (const SettingsPair& p : SettingsList()) text += p.key + "=" + p.value + "\n";
            KvsOut(text);
            return static_cast<int>(KVS_EXIT_OK);
        }
        SettingsPair pair;
        if (!FindSetting_(args[0], pair)) return KvsUsageError("settings", "unknown setting '" + args[0] + "'");
        if (args.size() == 2) {
            SettingsSetValue(pair.key, args[1]);
            SaveSettings();
            // As after the Options dialog: the Run entry follows the setting.
            if (SameKey_(pair.key, "AutoChange")) SetAutoChangeRunEntry(AutoChange);
            FindSetting_(pair.key, pair);
        }
        KvsOut(pair.key + "=" + pair.value);
        return static_cast<int>(KVS_EXIT_OK);
    });
}
