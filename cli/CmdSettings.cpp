// kvs settings [KEY [VALUE]]: print all settings, one, or store one and save.
#include <climits>

#include "base/CharSet.h"
#include "base/Mon.h"
#include "base/StrUtil.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/LogoBuilder.h"
#include "core/Options.h"
#include "core/Settings.h"

namespace {

const int kColor = 0xFFFFFF;  // a Windows colour: red, green and blue bytes

// The numbers kvs stores, each within the values the program can use; the rows are shown by
// "kvs settings --help" as they are here.
const std::vector<KvsOption> kRanges = {
    {.name = "ResizeMode", .kind = KVS_INT, .value = "N", .low = 0, .high = 2, .help = "0 border, 1 crop, 2 stretch"},
    {.name = "FontSize", .kind = KVS_INT, .value = "N", .low = 4, .high = 128, .help = "points"},
    {.name = "FontCharSet", .kind = KVS_INT, .value = "N", .low = 0, .high = 255},
    {.name = "TextColor", .kind = KVS_INT, .value = "N", .low = 0, .high = kColor, .help = "red + 256 x green + 65536 x blue"},
    {.name = "TextBorderColor", .kind = KVS_INT, .value = "N", .low = 0, .high = kColor, .help = "as TextColor"},
    {.name = "AnimShape", .kind = KVS_INT, .value = "N", .low = 0, .high = 2, .help = "0 top, 1 bottom, 2 vertical"},
    {.name = "AnimMove", .kind = KVS_INT, .value = "N", .low = 0, .high = 1, .help = "0 smooth scroll, 1 Vegas style"},
    {.name = "AnimColor1", .kind = KVS_INT, .value = "N", .low = 0, .high = kColor, .help = "as TextColor"},
    {.name = "AnimColor2", .kind = KVS_INT, .value = "N", .low = 0, .high = kColor, .help = "as TextColor"},
    {.name = "AnimDelay", .kind = KVS_INT, .value = "N", .low = 0, .high = 60000, .help = "milliseconds"},
    {.name = "MsgPickMethod", .kind = KVS_INT, .value = "N", .low = 0, .high = 2, .help = "0 in turn, 1 at random, 2 the first"},
    {.name = "LogoPickMethod", .kind = KVS_INT, .value = "N", .low = 0, .high = 1, .help = "0 in turn, 1 at random"},
    {.name = "Msg0Index", .kind = KVS_INT, .value = "N", .low = 0, .high = INT_MAX, .help = "the pick counters"},
    {.name = "Msg1Index", .kind = KVS_INT, .value = "N", .low = 0, .high = INT_MAX},
    {.name = "Msg2Index", .kind = KVS_INT, .value = "N", .low = 0, .high = INT_MAX},
    {.name = "Logo0Index", .kind = KVS_INT, .value = "N", .low = 0, .high = INT_MAX},
    {.name = "Logo1Index", .kind = KVS_INT, .value = "N", .low = 0, .high = INT_MAX},
    {.name = "Logo2Index", .kind = KVS_INT, .value = "N", .low = 0, .high = INT_MAX},
    {.name = "AutoChangeSets", .kind = KVS_INT, .value = "N", .low = 1, .high = 64, .help = "logo sets prepared ahead"},
};

// The font is looked up by a name in the Windows character set, like the drawn texts.
std::string ValueFromArg_(const std::string& key, const std::string& typed)
{
    return SameText(key, "FontName") ? CharUtf8ToWin(typed) : typed;
}

// Why value is refused for key: out of its range here, or not read as a value of its type.
std::string Refusal_(const std::string& key, const std::string& value)
{
    for (const KvsOption& range : kRanges) {
        if (!SameText(key, range.name)) continue;
        const std::string problem = KvsCheckValue(range, StrTrim(value));
        if (!problem.empty()) return problem;
    }
    return OptionsCheckSetting(key, value);
}

int Settings_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdSettings.Settings_");
    const std::vector<std::string>& a = args.operands;
    if (a.size() > 2) return KvsUsageError(self.name, "too many arguments");
    return KvsRunStatus([&] {
        LoadSettings();
        if (a.empty()) {
            std::string text;
            for (const SettingsPair& p : SettingsList()) text += p.key + "=" + p.value + "\n";
            KvsOut(text);
            return static_cast<int>(KVS_EXIT_OK);
        }
        SettingsPair pair;
        if (!OptionsFindSetting(a[0], pair)) return KvsUsageError(self.name, "unknown setting '" + a[0] + "'");
        if (a.size() == 1) {
            KvsOut(pair.key + "=" + pair.value);
            return static_cast<int>(KVS_EXIT_OK);
        }
        const std::string value = ValueFromArg_(pair.key, a[1]);
        const std::string why = Refusal_(pair.key, value);
        if (!why.empty()) return KvsUsageError(self.name, why);
        Outcome o = OptionsSaveSetting(a[0], value);
        // Another font can push the messages' lines off the logo.
        if (OutcomeOk(o) && pair.key.rfind("Font", 0) == 0) {
            LoadMessages();
            for (int position : {POS_STARTUP, POS_WAIT, POS_TURNOFF})
                KvsWarnPastEdge(o, "A " + LogoPositionName(position) + " message", GetMessageText(position));
        }
        return KvsReport(o);
    });
}

std::string Help_()
{
    return
        "Without arguments prints every setting of Kvs.ini as KEY=VALUE, in the file's order.\n"
        "With KEY prints that setting. With KEY VALUE stores the value as the program reads it\n"
        "at start-up and saves the settings. Key names ignore case. A boolean is read by its\n"
        "first character: 1/T/Y or 0/F/N. A value the program would not read as one of its\n"
        "type (a malformed number, another boolean) or a number outside its range is refused\n"
        "(exit 2) and nothing is stored.\n"
        "\n"
        "AutoChange 1 installs the automatic change on the drive, AutoChange 0 removes it: a real\n"
        "Windows 95/98 runs AUTOEXEC.BAT in DOS at every start, before it loads, so a line at the\n"
        "end of the drive's AUTOEXEC.BAT (created when missing) calls a batch file in the folder\n"
        "WINDOWS\\KVSROT that copies the next prepared logo set over the logo files. The Startup\n"
        "logo shown at a start is the one put there at the start before (Windows shows LOGO.SYS\n"
        "before AUTOEXEC.BAT runs); the Wait and Turn Off logos change within the same start.\n"
        "Every command that changes the drive first counts the sets Windows used, moves the pick\n"
        "counters on by exactly those picks, and prepares the sets anew; list, paths, info and\n"
        "the other reading commands leave the drive alone. Removing it leaves AUTOEXEC.BAT byte\n"
        "for byte as it was (or deletes it when the program created it).\n"
        "AutoChangeSets is how many sets are prepared ahead, so how many starts they last before\n"
        "they go round. The sets take at most half of the drive's free space: fewer are prepared,\n"
        "with a warning, when more would not fit, and without room for one set the command fails\n"
        "and AUTOEXEC.BAT stays as it is.\n"
        "\n"
        "The ranges:\n"
        "\n" +
        KvsOptionLines(kRanges);
}

}  // namespace

const KvsCommand KVS_SETTINGS = {
    .name = "settings",
    .proc = Settings_,
    .operands = "[KEY [VALUE]]",
    .summary = "print all settings, one setting, or set one",
    .helpText = Help_,
    .rawOperands = true,
    .complete = "setting -",
};
