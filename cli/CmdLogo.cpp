// kvs set, shuffle and paths: building logos from the store and where the files are.
#include <string>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/WinUtils.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/Settings.h"
#include "core/Shuffle.h"

namespace {

const int kPositions[3] = {POS_STARTUP, POS_WAIT, POS_TURNOFF};
const char* const kPositionWords[3] = {"startup", "wait", "off"};

// A typed message separates its lines with a line break or the two characters \n; logo
// messages use CR LF.
std::string MessageFromArg_(const std::string& text)
{
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
        int32_t index = ImageListFind(Images, typedName);
        if (index == Undef) index = ImageListFind(Images, typedName + ".png");
        if (index == Undef) {
            KvsShutDown();
            return KvsFail("No image named \"" + typedName + "\" in the store.");
        }
        ImageEntry entry = *ImageListGet(Images, index);
        // As the set-logo dialog: every position's message is picked (each counter moves once),
        // then the typed ones replace the picks.
        std::string messages[3];
        for (int i = 0; i < 3; ++i) {
            messages[i] = PickMessage(kPositions[i], GetMessageText(kPositions[i]));
            if (given[i]) messages[i] = MessageFromArg_(typed[i]);
        }
        std::string done;
        for (int i = 0; i < 3; ++i) {
            if (!(mask & kPositions[i])) continue;
            BuildLogo(entry, kPositions[i], messages[i]);
            done += std::string(done.empty() ? "" : ", ") + kPositionWords[i] + " (" + GetLogoFileName(kPositions[i]) + ")";
        }
        KvsShutDown();
        KvsOut(EntryName(entry) + " set as logo: " + done);
        return KVS_EXIT_OK;
    });
}

int CmdShuffle(const std::vector<std::string>& args)
{
    TRACE("CmdLogo.CmdShuffle");
    if (!args.empty()) return KvsUsageError("shuffle", "unexpected argument '" + args[0] + "'");
    return KvsRun([] {
        KvsStartUp();
        ShuffleLogos();
        KvsShutDown();
        KvsOut("Random logos are set.");
    });
}

int CmdPaths(const std::vector<std::string>& args)
{
    TRACE("CmdLogo.CmdPaths");
    if (!args.empty()) return KvsUsageError("paths", "unexpected argument '" + args[0] + "'");
    return KvsRun([] {
        KvsStartUp();
        std::string out = "windows=" + GetWinFolder() + "\n" + "program=" + GetProgramDir() + "\n" +
                          "storage=" + GetStorageDir() + "\n" + "backup=" + GetBackupDir() + "\n";
        for (int i = 0; i < 3; ++i) out += std::string("logo.") + kPositionWords[i] + "=" + GetLogoFileName(kPositions[i]) + "\n";
        KvsOut(out);
    });
}
