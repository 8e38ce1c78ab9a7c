#include "cli/KvsSupport.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "app/DriveUse.h"
#include "app/StartUp.h"
#include "base/Mon.h"
#include "base/Prefs.h"
#include "cli/ConsoleUi.h"
#include "cli/KvsCommands.h"
#include "platform/SysInfo.h"

static int Forced_ = CONSOLE_ASK;

// The console whose boxes show a disk image's files as paths inside the image.
class KvsConsole_ : public ConsoleUi {
public:
    using ConsoleUi::ConsoleUi;
    void ErrorBox(const std::string& text) override { ConsoleUi::ErrorBox(DriveUseShownText(text)); }
    void WarningBox(const std::string& text) override { ConsoleUi::WarningBox(DriveUseShownText(text)); }
    void InfoBox(const std::string& text) override { ConsoleUi::InfoBox(DriveUseShownText(text)); }
};

int KvsForcedAnswer()
{
    TRACE("KvsSupport.KvsForcedAnswer");
    return Forced_;
}

std::string KvsStudioPath()
{
    TRACE("KvsSupport.KvsStudioPath");
    std::filesystem::path exe(SysExePath());
    if (exe.empty()) return "kelvane-studio";
    return (exe.parent_path() / "kelvane-studio").string();
}

void KvsStartUp()
{
    TRACE("KvsSupport.KvsStartUp");
    MonBlock([] {
        LoadSettings();
        LoadMessages();
        if (Actions().loadImageStore) Actions().loadImageStore();
    });
}

void KvsShutDown()
{
    TRACE("KvsSupport.KvsShutDown");
    ShutDown(nullptr);
}

int KvsFail(const std::string& text)
{
    TRACE("KvsSupport.KvsFail");
    std::string t = ConsoleText(DriveUseShownText(text));
    while (!t.empty() && t.back() == '\n') t.pop_back();
    std::cout.flush();
    std::cerr << t << '\n';
    std::cerr.flush();
    return KVS_EXIT_FAILED;
}

int KvsUsageError(const std::string& command, const std::string& problem)
{
    TRACE("KvsSupport.KvsUsageError");
    std::cerr << "kvs" << (command.empty() ? "" : " " + command) << ": " << problem << '\n'
              << "Try 'kvs " << (command.empty() ? "" : command + " ") << "--help'.\n";
    return KVS_EXIT_USAGE;
}

void KvsOut(const std::string& text)
{
    TRACE("KvsSupport.KvsOut");
    std::string t = ConsoleText(DriveUseShownText(text));
    if (t.empty() || t.back() != '\n') t += '\n';
    std::cout << t;
    std::cout.flush();
}

int KvsReport(const Outcome& o, bool declinedFails)
{
    TRACE("KvsSupport.KvsReport");
    const bool refused = o.Declined && declinedFails;
    for (const std::string& t : o.Skipped) {
        if (refused) KvsFail(t);
        else KvsOut(t);
    }
    for (const std::string& t : o.Warnings) KvsFail(t);
    if (!o.Result.empty()) KvsOut(o.Result);
    for (const std::string& t : o.Errors) KvsFail(t);
    return OutcomeOk(o) && !refused ? static_cast<int>(KVS_EXIT_OK) : static_cast<int>(KVS_EXIT_FAILED);
}

int KvsRunStatus(const std::function<int()>& body)
{
    TRACE("KvsSupport.KvsRunStatus");
    int status = KVS_EXIT_OK;
    try {
        MonBlock([&] { status = body(); });
    } catch (const std::exception& e) {
        return KvsFail(e.what());
    } catch (...) {
        return KvsFail(MonErrorText());
    }
    return status;
}

int KvsRun(const std::function<void()>& body)
{
    TRACE("KvsSupport.KvsRun");
    return KvsRunStatus([&] {
        body();
        return static_cast<int>(KVS_EXIT_OK);
    });
}

bool KvsTakeFlag(std::vector<std::string>& args, const std::string& flag)
{
    TRACE("KvsSupport.KvsTakeFlag");
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "--") break;
        if (args[i] == flag) {
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

int KvsTakeOption(std::vector<std::string>& args, const std::string& name, std::string& value)
{
    TRACE("KvsSupport.KvsTakeOption");
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "--") break;
        if (args[i] == name) {
            if (i + 1 >= args.size()) return -1;
            value = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            return 1;
        }
        if (args[i].rfind(name + "=", 0) == 0) {
            value = args[i].substr(name.size() + 1);
            args.erase(args.begin() + static_cast<long>(i));
            return 1;
        }
    }
    return 0;
}

std::string KvsFirstOption(const std::vector<std::string>& args)
{
    TRACE("KvsSupport.KvsFirstOption");
    for (const std::string& a : args) {
        if (a == "--") break;
        if (a.size() > 1 && a[0] == '-') return a;
    }
    return std::string();
}

std::string KvsHelpText()
{
    TRACE("KvsSupport.KvsHelpText");
    std::string s =
        "Usage: kvs [--yes|--no] [--drive PATH|N [--partition N]] COMMAND [ARGS]\n"
        "\n"
        "Kelvane Studio's command-line tool: manages the boot logos of a Windows 95/98 drive\n"
        "(logo.sys, logow.sys, logos.sys) and the store of logo images, like the main window.\n"
        "\n"
        "Commands:\n";
    for (const KvsCommand& c : KvsCommandTable()) {
        std::string head = std::string("  ") + c.name + (c.usage[0] ? std::string(" ") + c.usage : "");
        if (head.size() < 32) {
            head.append(32 - head.size(), ' ');
        } else {
            head += "\n" + std::string(32, ' ');
        }
        s += head + c.summary + "\n";
    }
    s +=
        "\n"
        "Options:\n"
        "  --yes          answer every question with Yes (a name clash: overwrite)\n"
        "  --no           answer every question with No (a name clash: skip)\n"
        "  --drive PATH   the Windows drive to work on: a folder holding a WINDOWS folder, or a\n"
        "                 disk image (raw with an MBR or a bare FAT file system, or a fixed VHD),\n"
        "                 or a number that 'kvs drives' lists\n"
        "  --partition N  the partition (1-4) of a disk image's MBR (default: the first FAT\n"
        "                 partition holding a WINDOWS folder)\n"
        "  --help         this text; 'kvs COMMAND --help' explains one command\n"
        "Without --yes or --no, questions are asked when standard input is a terminal and\n"
        "otherwise take the answer the program proposes.\n"
        "\n"
        "Environment:\n"
        "  KVS_DRIVE         the drive when --drive is not given (a folder or a disk image)\n"
        "  KVS_WINDOWS_DIR   the Windows folder itself, when neither names a drive; without any of\n"
        "                    them, the drive last opened in the window, else the demo drive under\n"
        "                    $XDG_DATA_HOME/KelvaneStudio/drive_c\n"
        "  KVS_PROGRAM_DIR   the folder of Kvs.ini and the message files\n"
        "  KVS_MOUNTINFO     a file read in place of /proc/self/mountinfo by 'kvs drives'\n"
        "\n"
        "Exit status: 0 done, 1 the operation failed, 2 bad usage.\n"
        "Errors are printed alone on one line of standard error.\n";
    return s;
}

std::string KvsCommandHelpText(const std::string& command)
{
    TRACE("KvsSupport.KvsCommandHelpText");
    const KvsCommand* c = KvsFindCommand(command);
    if (!c) return std::string();
    std::string s = std::string("Usage: kvs [--yes|--no] ") + c->name + (c->usage[0] ? std::string(" ") + c->usage : "") +
                    "\n\n" + c->summary + "\n";
    if (c->help && c->help[0]) s += std::string("\n") + c->help + "\n";
    return s;
}

// Runs the command on the chosen drive. On a disk image its output is held back until what it
// changed is written into the image, so a failed write-back never follows a success text.
static int RunOnDrive_(const KvsCommand* cmd, const std::vector<std::string>& rest)
{
    TRACE("KvsSupport.RunOnDrive_");
    DriveUseOpenChosen();
    if (!DriveUseIsImage()) return cmd->proc(rest);
    std::ostringstream held;
    std::streambuf* out = std::cout.rdbuf(held.rdbuf());
    int status = KVS_EXIT_FAILED;
    try {
        status = cmd->proc(rest);
        if (status == KVS_EXIT_OK) MonBlock([] { DriveUseCommit(); });
    } catch (...) {
        std::cout.rdbuf(out);
        throw;
    }
    std::cout.rdbuf(out);
    std::cout << held.str();
    return status;
}

int KvsMain(const std::vector<std::string>& argv)
{
    TRACE("KvsSupport.KvsMain");
    std::vector<std::string> args(argv.size() > 1 ? argv.begin() + 1 : argv.end(), argv.end());
    std::string driveProblem;
    if (!DriveUseTakeOptions(args, true, driveProblem)) return KvsUsageError("", driveProblem);
    Forced_ = CONSOLE_ASK;
    size_t i = 0;
    for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; i++) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::cout << KvsHelpText();
            return KVS_EXIT_OK;
        } else if (a == "--yes" || a == "-y") {
            if (Forced_ == CONSOLE_NO) return KvsUsageError("", "--yes and --no exclude each other");
            Forced_ = CONSOLE_YES;
        } else if (a == "--no" || a == "-n") {
            if (Forced_ == CONSOLE_YES) return KvsUsageError("", "--yes and --no exclude each other");
            Forced_ = CONSOLE_NO;
        } else {
            return KvsUsageError("", "unknown option '" + a + "'");
        }
    }
    if (i >= args.size()) {
        std::cerr << "Usage: kvs [--yes|--no] COMMAND [ARGS]\nTry 'kvs --help'.\n";
        return KVS_EXIT_USAGE;
    }
    const KvsCommand* cmd = KvsFindCommand(args[i]);
    if (!cmd) return KvsUsageError("", "unknown command '" + args[i] + "'");
    std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
    for (const std::string& a : rest) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            std::cout << KvsCommandHelpText(cmd->name);
            return KVS_EXIT_OK;
        }
    }

    KvsConsole_ console(Forced_);
    UiServices* old = SetUi(&console);
    SetParams({KvsStudioPath()});
    int status = KVS_EXIT_FAILED;
    try {
        status = RunOnDrive_(cmd, rest);
    } catch (const std::exception& e) {
        status = KvsFail(e.what());
    }
    std::cout.flush();
    SetUi(old);
    ProgramEnd();
    return status;
}
