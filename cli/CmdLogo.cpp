// kvs set, shuffle and paths: building logos from the store and where the files are.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/DriveUse.h"
#include "base/Basic.h"
#include "base/CharSet.h"
#include "base/Mon.h"
#include "base/WinUtils.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/LogoCommands.h"
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

}  // namespace

int CmdSet(const std::vector<std::string>& argsIn)
{
    TRACE("CmdLogo.CmdSet");
    std::vector<std::string> args = argsIn;
    int mask = 0;
    if (KvsTakeFlag(args, "--startup")) mask |= POS_STARTUP;
    if (KvsTakeFlag(args, "--wait")) mask |= POS_WAIT;
    if (KvsTakeFlag(args, "--off")) mask |= POS_TURNOFF;
    std::string typed[3];
    bool given[3] = {};
    for (int i = 0; i < 3; ++i) {
        int r = KvsTakeOption(args, std::string("--message-") + kPositionWords[i], typed[i]);
        if (r < 0) return KvsUsageError("set", std::string("--message-") + kPositionWords[i] + " needs a text");
        given[i] = r > 0;
    }
    std::string bad = KvsFirstOption(args);
    if (!bad.empty()) return KvsUsageError("set", "unknown option '" + bad + "'");
    if (args.size() != 1) return KvsUsageError("set", "give exactly one image NAME");
    if (mask == 0) return KvsUsageError("set", "choose at least one of --startup, --wait, --off");
    const std::string typedName = args[0];

    return KvsRunStatus([&]() -> int {
        KvsStartUp();
        // As the set-logo dialog: the messages not typed are picked.
        std::array<std::optional<std::string>, 3> messages;
        for (int i = 0; i < 3; ++i)
            if (given[i]) messages[i] = MessageFromArg_(typed[i]);
        const Outcome o = LogoSet(typedName, mask, messages);
        KvsShutDown();
        return KvsReport(o);
    });
}

int CmdShuffle(const std::vector<std::string>& args)
{
    TRACE("CmdLogo.CmdShuffle");
    if (!args.empty()) return KvsUsageError("shuffle", "unexpected argument '" + args[0] + "'");
    return KvsRunStatus([] {
        KvsStartUp();
        const Outcome o = LogoShuffle();
        KvsShutDown();
        return KvsReport(o);
    });
}

int CmdPaths(const std::vector<std::string>& args)
{
    TRACE("CmdLogo.CmdPaths");
    if (!args.empty()) return KvsUsageError("paths", "unexpected argument '" + args[0] + "'");
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
