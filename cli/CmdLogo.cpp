// kvs set, shuffle and paths: building logos from the store and where the files are.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/DriveUse.h"
#include "base/Basic.h"
#include "base/CharSet.h"
#include "base/Mon.h"
#include "platform/WinUtils.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/LogoCommands.h"
#include "core/ProgramDir.h"
#include "core/Settings.h"
#include "core/StoreCommands.h"

namespace {

const int kPositions[3] = {POS_STARTUP, POS_WAIT, POS_TURNOFF};
const char* const kPositionWords[3] = {"startup", "wait", "off"};

// A typed message separates its lines with a line break or the two characters \n; logo
// messages use CR LF and the Windows character set.
std::string MessageFromArg_(const std::string& typed)
{
    const std::string text = CharUtf8ToWin(typed);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += "\r\n";
            ++i;
        } else if (text[i] == '\n') {
            if (out.empty() || out.back() != '\r') out += '\r';
            out += '\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

int Set_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdLogo.Set_");
    int mask = 0;
    for (int i = 0; i < 3; ++i)
        if (KvsHas(args, std::string("--") + kPositionWords[i])) mask |= kPositions[i];
    if (args.operands.size() != 1) return KvsUsageError(self.name, "give exactly one image NAME");
    if (mask == 0) return KvsUsageError(self.name, "choose at least one of --startup, --wait, --off");
    const std::string typedName = args.operands[0];

    return KvsRunStatus([&]() -> int {
        KvsStartUp();
        // As the set-logo dialog: the messages not typed are picked, once the image is found.
        std::array<std::optional<std::string>, 3> messages;
        for (int i = 0; i < 3; ++i) {
            const std::string option = std::string("--message-") + kPositionWords[i];
            if (KvsHas(args, option)) messages[i] = MessageFromArg_(KvsValue(args, option));
        }
        Outcome o = LogoSet(typedName, mask, messages);
        for (int i = 0; i < 3; ++i)
            if ((mask & kPositions[i]) && messages[i])
                KvsWarnPastEdge(o, "The " + LogoPositionName(kPositions[i]) + " message", *messages[i]);
        KvsShutDown();
        return KvsReport(o);
    });
}

int Shuffle_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdLogo.Shuffle_");
    if (!args.operands.empty()) return KvsUsageError(self.name, "unexpected argument '" + args.operands[0] + "'");
    return KvsRunStatus([] {
        KvsStartUp();
        const Outcome o = LogoShuffle();
        KvsShutDown();
        return KvsReport(o);
    });
}

int Paths_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdLogo.Paths_");
    if (!args.operands.empty()) return KvsUsageError(self.name, "unexpected argument '" + args.operands[0] + "'");
    return KvsRun([] {
        KvsStartUp();
        std::string out = "windows=" + DriveUseShownPath(GetWinFolder()) + "\n" + "program=" + GetProgramDir() + "\n" +
                          "storage=" + DriveUseShownPath(GetStorageDir()) + "\n" +
                          "backup=" + DriveUseShownPath(GetBackupDir()) + "\n";
        for (int i = 0; i < 3; ++i)
            out += std::string("logo.") + kPositionWords[i] + "=" + DriveUseShownPath(GetLogoFileName(kPositions[i])) + "\n";
        KvsOut(out + DriveUsePathLines());
    });
}

}  // namespace

const KvsCommand KVS_SET = {
    .name = "set",
    .proc = Set_,
    .operands = "NAME %o",
    .summary = "build the chosen logos from one stored image now",
    .help = "Builds the logo files of the chosen positions from the stored image NAME (with or\n"
            "without .png), as the window's Set as Logo does. Each position's message is picked by\n"
            "MsgPickMethod (every position's message counter moves once, as when the dialog opens);\n"
            "--message-startup/--message-wait/--message-off give the text instead (\\n between lines,\n"
            "an empty text draws no message). At least one position must be chosen.",
    .options = {
        {.name = "--startup", .help = "build the Startup logo (logo.sys)"},
        {.name = "--wait", .help = "build the Wait logo (logow.sys)"},
        {.name = "--off", .help = "build the Turn Off logo (logos.sys)"},
        {.name = "--message-startup", .kind = KVS_TEXT, .value = "T", .help = "the message of the Startup logo"},
        {.name = "--message-wait", .kind = KVS_TEXT, .value = "T", .help = "the message of the Wait logo"},
        {.name = "--message-off", .kind = KVS_TEXT, .value = "T", .help = "the message of the Turn Off logo"},
    },
    .complete = "name",
};

const KvsCommand KVS_SHUFFLE = {
    .name = "shuffle",
    .proc = Shuffle_,
    .summary = "set random logos for all three positions",
    .help = "Picks an image at random for each position (messages by MsgPickMethod) and builds the\n"
            "three logo files, as the window's Shuffle does.",
};

const KvsCommand KVS_PATHS = {
    .name = "paths",
    .proc = Paths_,
    .summary = "print the folders and logo files in use",
    .help = "Prints windows=, program=, storage=, backup= and logo.startup=, logo.wait=, logo.off=\n"
            "lines: where the program reads and writes its files.",
};
