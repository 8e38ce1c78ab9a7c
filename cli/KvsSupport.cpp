#include "cli/KvsSupport.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>

#include "app/DriveUse.h"
#include "app/StartUp.h"
#include "base/CharSet.h"
#include "base/Mon.h"
#include "platform/Prefs.h"
#include "cli/ConsoleUi.h"
#include "cli/KvsCommands.h"
#include "core/AutoChange.h"
#include "core/LogoBuilder.h"
#include "core/Settings.h"
#include "core/StoreLock.h"
#include "platform/SysExe.h"

static int Forced_ = CONSOLE_ASK;

static std::vector<std::string> SplitLines_(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The console whose boxes show a disk image's files as paths inside the image, an error or a
// warning on one line.
class KvsConsole_ : public ConsoleUi {
public:
    using ConsoleUi::ConsoleUi;
    void ErrorBox(const std::string& text) override { ConsoleUi::ErrorBox(KvsOneLine(DriveUseShownText(text))); }
    void WarningBox(const std::string& text) override { ConsoleUi::WarningBox(KvsOneLine(DriveUseShownText(text))); }
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
    const std::string t = KvsOneLine(DriveUseShownText(text));
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

void KvsWarnPastEdge(Outcome& o, const std::string& what, const std::string& message)
{
    TRACE("KvsSupport.KvsWarnPastEdge");
    for (const std::string& line : LogoMessageLinesPastEdge(message, LogoMessageFontSet()))
        o.Warnings.push_back(what + " line \"" + AnsiToUtf8(line) + "\" runs off the logo's right edge.");
}

std::string KvsOneLine(const std::string& text)
{
    TRACE("KvsSupport.KvsOneLine");
    // A line that ends without a stop (a file name, a caption) introduces the next: a colon between.
    std::string s;
    for (const std::string& raw : SplitLines_(ConsoleText(text))) {
        std::string line = raw;
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line.empty()) continue;
        if (!s.empty()) s += std::string(std::string(".:!?").find(s.back()) == std::string::npos ? ": " : " ");
        s += line;
    }
    return s;
}

// The usage words of a command after its name; the actions' joined by " | ".
static std::string CommandUsage_(const KvsCommand& c)
{
    if (c.actions.empty()) return KvsUsageLine(c.options, c.operands);
    std::string s;
    for (const KvsCommand& a : c.actions) {
        const std::string u = KvsUsageLine(a.options, a.operands);
        s += (s.empty() ? "" : " | ") + std::string(a.name) + (u.empty() ? "" : " " + u);
    }
    return s;
}

// "create or open"
static std::string ActionWords_(const KvsCommand& c)
{
    std::string s;
    for (size_t k = 0; k < c.actions.size(); ++k)
        s += (k == 0 ? "" : k + 1 == c.actions.size() ? " or " : ", ") + std::string(c.actions[k].name);
    return s;
}

static std::string Indented_(const std::string& text, const std::string& indent)
{
    std::string s;
    for (const std::string& line : SplitLines_(text)) s += (line.empty() ? "" : indent + line) + "\n";
    return s;
}

static std::string AloneUsage_(const std::vector<KvsOption>& options)
{
    std::string s;
    for (const KvsOption& o : options)
        if (o.alone) s += (s.empty() ? "" : " | ") + std::string(o.name);
    return s;
}

std::string KvsHelpText()
{
    TRACE("KvsSupport.KvsHelpText");
    const std::vector<KvsOption>& global = KvsGlobalOptions();
    std::string s = "Usage: kvs " + KvsUsageOptions(global) + " COMMAND [ARGS]\n" + "       kvs " + AloneUsage_(global) +
                    "\n"
                    "\n"
                    "Kelvane Studio's command-line tool: manages the boot logos of a Windows 95/98 drive\n"
                    "(logo.sys, logow.sys, logos.sys) and the store of logo images, like the main window.\n"
                    "\n"
                    "Commands:\n";
    for (const KvsCommand* c : KvsCommandTable()) {
        const std::string usage = CommandUsage_(*c);
        std::string head = std::string("  ") + c->name + (usage.empty() ? "" : " " + usage);
        if (head.size() < 32) {
            head.append(32 - head.size(), ' ');
        } else {
            head += "\n" + std::string(32, ' ');
        }
        s += head + c->summary + "\n";
    }
    s += "\n"
         "Options:\n" +
         KvsOptionLines(global) +
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
    const std::string usage = CommandUsage_(*c);
    std::string s = std::string("Usage: kvs [--yes|--no] ") + c->name + (usage.empty() ? "" : " " + usage) + "\n\n" +
                    c->summary + "\n";
    const std::string help = c->helpText ? c->helpText() : c->help;
    if (!help.empty()) s += "\n" + help + (help.back() == '\n' ? "" : "\n");
    if (!c->options.empty()) s += "\nOptions:\n" + KvsOptionLines(c->options);
    if (c->actions.empty()) return s;
    s += "\n";
    for (const KvsCommand& a : c->actions) {
        const std::string u = KvsUsageLine(a.options, a.operands);
        s += std::string(c->name) + " " + a.name + (u.empty() ? "" : " " + u) + "\n" + Indented_(a.help, "    ");
    }
    for (const KvsCommand& a : c->actions)
        if (!a.options.empty()) s += std::string("\nOptions of ") + c->name + " " + a.name + ":\n" + KvsOptionLines(a.options);
    return s;
}

std::string KvsVersionText()
{
    TRACE("KvsSupport.KvsVersionText");
    return std::string("kvs (Kelvane Studio) ") + APP_VERSION + "\n";
}

std::string KvsCompletionText(const std::vector<std::string>& words)
{
    TRACE("KvsSupport.KvsCompletionText");
    static const KvsOption help = {.name = "--help"};
    if (words.empty()) {
        std::string s;
        for (const KvsCommand* c : KvsCommandTable()) s += std::string("command ") + c->name + "\n";
        return s + KvsCompletionLines(KvsGlobalOptions());
    }
    const KvsCommand* c = KvsFindCommand(words[0]);
    if (!c) return std::string();
    if (!c->actions.empty()) {
        const KvsCommand* a = words.size() > 1 ? KvsFindAction(*c, words[1]) : nullptr;
        if (!a) {
            std::string s;
            for (const KvsCommand& x : c->actions) s += std::string("action ") + x.name + "\n";
            return s + KvsCompletionLines({help});
        }
        c = a;
    }
    std::vector<KvsOption> options = c->options;
    options.push_back(help);
    return KvsCompletionLines(options) + "operands " + c->complete + "\n";
}

// Runs the command; one that changed the drive or the store (it took a lock exclusively) is
// followed by the count of the sets the automatic change prepared and Windows used, and their
// refill. A read-only command writes nothing.
static int RunCommand_(const KvsCommand& cmd, const KvsArgs& args)
{
    TRACE("KvsSupport.RunCommand_");
    const int writes = StoreLockExclusiveTakes();
    const int status = cmd.proc(cmd, args);
    if (StoreLockExclusiveTakes() == writes) return status;
    const int sets = KvsRunStatus([] {
        const Outcome o = AutoChangeCatchUp();
        return o.Errors.empty() && o.Warnings.empty() ? static_cast<int>(KVS_EXIT_OK) : KvsReport(o);
    });
    return status == KVS_EXIT_OK ? sets : status;
}

// Runs the command on the chosen drive. On a disk image whatever the command wrote is written
// back when it ends, also when it failed for some of its arguments, and its output is held back
// until then, so a failed write-back never follows a success text.
static int RunOnDrive_(const KvsCommand& cmd, const KvsArgs& args)
{
    TRACE("KvsSupport.RunOnDrive_");
    DriveUseOpenChosen();
    if (!DriveUseIsImage()) return RunCommand_(cmd, args);
    std::ostringstream held;
    std::streambuf* out = std::cout.rdbuf(held.rdbuf());
    int status = KVS_EXIT_FAILED;
    std::string failure;
    try {
        status = RunCommand_(cmd, args);
    } catch (const std::exception& e) {
        failure = e.what();
        MonClearError();
    }
    try {
        MonBlock([] { DriveUseCommit(); });
    } catch (...) {
        std::cout.rdbuf(out);
        if (!failure.empty()) KvsFail(failure);
        throw;
    }
    std::cout.rdbuf(out);
    std::cout << held.str();
    if (!failure.empty()) throw EMon(failure);
    return status;
}

int KvsMain(const std::vector<std::string>& argv)
{
    TRACE("KvsSupport.KvsMain");
    std::vector<std::string> args(argv.size() > 1 ? argv.begin() + 1 : argv.end(), argv.end());
    if (!args.empty() && args[0] == "--completion-helper") {
        std::cout << KvsCompletionText(std::vector<std::string>(args.begin() + 1, args.end()));
        return KVS_EXIT_OK;
    }
    KvsArgs global;
    std::string problem;
    if (!KvsParse(KvsGlobalOptions(), args, true, global, problem)) return KvsUsageError("", problem);
    if (KvsHas(global, "--help")) {
        std::cout << KvsHelpText();
        return KVS_EXIT_OK;
    }
    if (KvsHas(global, "--version")) {
        std::cout << KvsVersionText();
        return KVS_EXIT_OK;
    }
    // The drive options mean what they mean to kelvane-studio: the drive layer reads them for both.
    std::vector<std::string> driveArgs;
    for (const char* name : {"--drive", "--partition"})
        if (KvsHas(global, name)) driveArgs.insert(driveArgs.end(), {name, KvsValue(global, name)});
    if (!DriveUseTakeOptions(driveArgs, true, problem)) return KvsUsageError("", problem);
    Forced_ = KvsHas(global, "--yes") ? CONSOLE_YES : KvsHas(global, "--no") ? CONSOLE_NO : CONSOLE_ASK;
    if (global.operands.empty()) {
        std::cerr << "Usage: kvs [--yes|--no] COMMAND [ARGS]\nTry 'kvs --help'.\n";
        return KVS_EXIT_USAGE;
    }
    const KvsCommand* cmd = KvsFindCommand(global.operands[0]);
    if (!cmd) return KvsUsageError("", "unknown command '" + global.operands[0] + "'");
    std::vector<std::string> rest(global.operands.begin() + 1, global.operands.end());
    for (const std::string& a : rest) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            std::cout << KvsCommandHelpText(cmd->name);
            return KVS_EXIT_OK;
        }
    }
    const KvsCommand* run = cmd;
    if (!cmd->actions.empty()) {
        if (rest.empty()) return KvsUsageError(cmd->name, "expected " + ActionWords_(*cmd));
        run = KvsFindAction(*cmd, rest[0]);
        if (!run) return KvsUsageError(cmd->name, "unknown action '" + rest[0] + "' (" + ActionWords_(*cmd) + ")");
        rest.erase(rest.begin());
    }
    KvsArgs parsed;
    if (run->rawOperands) parsed.operands = rest;
    else if (!KvsParse(run->options, rest, false, parsed, problem)) return KvsUsageError(cmd->name, problem);

    KvsConsole_ console(Forced_);
    UiServices* old = SetUi(&console);
    SetParams({KvsStudioPath()});
    int status = KVS_EXIT_FAILED;
    try {
        status = RunOnDrive_(*run, parsed);
    } catch (const std::exception& e) {
        status = KvsFail(e.what());
    }
    std::cout.flush();
    SetUi(old);
    ProgramEnd();
    return status;
}
