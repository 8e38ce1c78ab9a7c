// kvs settings [KEY [VALUE]]: print all settings, one, or store one and save.
#include "base/CharSet.h"
#include "base/Mon.h"
#include "base/StrUtil.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/Options.h"
#include "core/Settings.h"

// The font is looked up by a name in the Windows character set, like the drawn texts.
static std::string ValueFromArg_(const std::string& key, const std::string& typed)
{
    return SameText(key, "FontName") ? CharUtf8ToWin(typed) : typed;
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
        if (!OptionsFindSetting(args[0], pair)) return KvsUsageError("settings", "unknown setting '" + args[0] + "'");
        if (args.size() == 1) {
            KvsOut(pair.key + "=" + pair.value);
            return static_cast<int>(KVS_EXIT_OK);
        }
        const std::string value = ValueFromArg_(pair.key, args[1]);
        const std::string why = OptionsCheckSetting(args[0], value);
        if (!why.empty()) return KvsUsageError("settings", why);
        return KvsReport(OptionsSaveSetting(args[0], value));
    });
}
