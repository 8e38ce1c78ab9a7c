#include "cli/ConsoleUi.h"

#include <cctype>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "base/Mon.h"
#include "base/StrUtil.h"

// Without a platform call for isatty: the descriptor's link names a terminal device.
static bool FdIsTerminal_(int fd)
{
    std::error_code ec;
    std::string target = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
    if (ec) return false;
    return target.rfind("/dev/pts/", 0) == 0 || target.rfind("/dev/tty", 0) == 0 || target == "/dev/console";
}

bool ConsoleStdinIsTerminal()
{
    TRACE("ConsoleUi.ConsoleStdinIsTerminal");
    return FdIsTerminal_(0);
}
bool ConsoleStderrIsTerminal()
{
    TRACE("ConsoleUi.ConsoleStderrIsTerminal");
    return FdIsTerminal_(2);
}

std::string ConsoleText(const std::string& text)
{
    TRACE("ConsoleUi.ConsoleText");
    std::string s;
    s.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r') {
            s += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') i++;
        } else {
            s += text[i];
        }
    }
    return s;
}

ConsoleUi::ConsoleUi(int forced)
    : forced_(forced), in_(std::cin), err_(std::cerr), interactive_(ConsoleStdinIsTerminal()), statusShown_(false)
{
}

ConsoleUi::ConsoleUi(int forced, std::istream& in, std::ostream& err, bool interactive)
    : forced_(forced), in_(in), err_(err), interactive_(interactive), statusShown_(false)
{
}

void ConsoleUi::Box_(const std::string& text)
{
    TRACE("ConsoleUi.Box_");
    if (statusShown_) {
        err_ << '\n';
        statusShown_ = false;
    }
    err_ << ConsoleText(text) << '\n';
    err_.flush();
}

void ConsoleUi::ErrorBox(const std::string& text)
{
    TRACE("ConsoleUi.ErrorBox");
    Box_(text);
}
void ConsoleUi::WarningBox(const std::string& text)
{
    TRACE("ConsoleUi.WarningBox");
    Box_(text);
}
void ConsoleUi::InfoBox(const std::string& text)
{
    TRACE("ConsoleUi.InfoBox");
    Box_(text);
}

bool ConsoleUi::ReadAnswer_(const std::string& question, std::string& answer)
{
    TRACE("ConsoleUi.ReadAnswer_");
    if (statusShown_) {
        err_ << '\n';
        statusShown_ = false;
    }
    err_ << ConsoleText(question);
    err_.flush();
    std::string line;
    if (!std::getline(in_, line)) {
        err_ << '\n';
        return false;
    }
    answer = StrLower(StrTrim(line));
    return true;
}

std::string ConsoleUi::YesNo(const std::string& text, int defaultButton)
{
    TRACE("ConsoleUi.YesNo");
    if (forced_ == CONSOLE_YES) return "Y";
    if (forced_ == CONSOLE_NO) return "N";
    std::string def = defaultButton == 1 ? "Y" : "N";
    if (!interactive_) return def;
    const std::string hint = defaultButton == 1 ? " [Y/n] " : " [y/N] ";
    for (int tries = 0; tries < 5; tries++) {
        std::string a;
        if (!ReadAnswer_(text + hint, a)) return def;
        if (a.empty()) return def;
        if (a == "y" || a == "yes") return "Y";
        if (a == "n" || a == "no") return "N";
    }
    return def;
}

std::string ConsoleUi::YesNoCancel(const std::string& text, int defaultButton)
{
    TRACE("ConsoleUi.YesNoCancel");
    if (forced_ == CONSOLE_YES) return "Y";
    if (forced_ == CONSOLE_NO) return "N";
    std::string def = defaultButton == 1 ? "Y" : defaultButton == 2 ? "N" : "C";
    if (!interactive_) return def;
    const std::string hint = defaultButton == 1 ? " [Y/n/c] " : defaultButton == 2 ? " [y/N/c] " : " [y/n/C] ";
    for (int tries = 0; tries < 5; tries++) {
        std::string a;
        // The end of the input is closing the box: Cancel.
        if (!ReadAnswer_(text + hint, a)) return "C";
        if (a.empty()) return def;
        if (a == "y" || a == "yes") return "Y";
        if (a == "n" || a == "no") return "N";
        if (a == "c" || a == "cancel") return "C";
    }
    return def;
}

bool ConsoleUi::PromptText(const std::string& caption, const std::string& label, std::string& text)
{
    TRACE("ConsoleUi.PromptText");
    if (forced_ == CONSOLE_NO) return false;
    if (forced_ == CONSOLE_YES || !interactive_) return true;  // OK with the proposed text
    std::string line;
    if (statusShown_) {
        err_ << '\n';
        statusShown_ = false;
    }
    err_ << caption << ": " << label << " [" << text << "] ";
    err_.flush();
    if (!std::getline(in_, line)) {
        err_ << '\n';
        return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) text = line;
    return true;
}

int ConsoleUi::OverwriteDialog(const std::string& caption, const std::string& text)
{
    TRACE("ConsoleUi.OverwriteDialog");
    if (forced_ == CONSOLE_YES) return 1;
    if (forced_ == CONSOLE_NO) return 2;
    if (!interactive_) return 6;  // closed without a button
    std::string q = caption + ": " + text +
                    "\n[o]verwrite, overwrite [a]ll, [s]kip, skip a[l]l, [r]ename, a[b]ort? ";
    for (int tries = 0; tries < 5; tries++) {
        std::string a;
        if (!ReadAnswer_(q, a)) return 6;
        if (a == "o" || a == "overwrite") return 1;
        if (a == "s" || a == "skip") return 2;
        if (a == "r" || a == "rename") return 3;
        if (a == "a" || a == "overwrite all") return 4;
        if (a == "l" || a == "skip all") return 5;
        if (a == "b" || a == "abort") return 6;
    }
    return 6;
}

// kvs takes the mode and prefix as options of its commands; the settings stand as they are.
bool ConsoleUi::ResizeModeDialog()
{
    TRACE("ConsoleUi.ResizeModeDialog");
    return true;
}

std::string ConsoleUi::FileOpenDlg(const std::string&, std::string&, const std::string&, int&)
{
    TRACE("ConsoleUi.FileOpenDlg");
    return {};
}

std::vector<std::string> ConsoleUi::MultiFileOpenDlg(const std::string&, std::string&, const std::string&, int&)
{
    TRACE("ConsoleUi.MultiFileOpenDlg");
    return {};
}

std::string ConsoleUi::FileSaveDlg(const std::string&, std::string&, const std::string&, int&, const std::string&)
{
    TRACE("ConsoleUi.FileSaveDlg");
    return {};
}

// Progress only where someone watches: on a terminal, overwriting one line.
void ConsoleUi::ShowStatus(const std::string& text, bool)
{
    TRACE("ConsoleUi.ShowStatus");
    if (!interactive_ || &err_ != &std::cerr || !ConsoleStderrIsTerminal()) return;
    std::string t = ConsoleText(text);
    while (!t.empty() && t.front() == ' ') t.erase(0, 1);
    err_ << "\r\x1b[K" << t;
    err_.flush();
    statusShown_ = !t.empty();
}

void ConsoleUi::SetBusy(bool busy)
{
    TRACE("ConsoleUi.SetBusy");
    if (!busy && statusShown_) {
        err_ << '\n';
        err_.flush();
        statusShown_ = false;
    }
}

void ConsoleUi::ProcessPendingMessages()
{
    TRACE("ConsoleUi.ProcessPendingMessages");
}
