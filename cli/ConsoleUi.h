// The console implementation of UiServices for kvs: boxes go to standard error, one line per
// line of text; questions are asked on standard error and answered on standard input when that
// is a terminal, otherwise they take the answer of --yes / --no, or else the preselected button.
// File dialogs are cancelled: kvs takes file names as arguments.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "base/UiServices.h"

enum { CONSOLE_ASK = 0, CONSOLE_YES = 1, CONSOLE_NO = 2 };

class ConsoleUi : public UiServices {
public:
    // forced: CONSOLE_ASK, CONSOLE_YES or CONSOLE_NO. Reads std::cin, writes std::cerr; asks only
    // when standard input is a terminal.
    explicit ConsoleUi(int forced = CONSOLE_ASK);
    // For tests: explicit streams and whether to treat the input as a terminal.
    ConsoleUi(int forced, std::istream& in, std::ostream& err, bool interactive);

    void ErrorBox(const std::string& text) override;
    void WarningBox(const std::string& text) override;
    void InfoBox(const std::string& text) override;
    std::string YesNo(const std::string& text, int defaultButton) override;
    std::string YesNoCancel(const std::string& text, int defaultButton) override;
    bool PromptText(const std::string& caption, const std::string& label, std::string& text) override;
    int OverwriteDialog(const std::string& caption, const std::string& text) override;
    bool ResizeModeDialog() override;
    std::string FileOpenDlg(const std::string& title, std::string& folder, const std::string& filter,
                            int& filterIndex) override;
    std::vector<std::string> MultiFileOpenDlg(const std::string& title, std::string& folder,
                                              const std::string& filter, int& filterIndex) override;
    std::string FileSaveDlg(const std::string& title, std::string& folder, const std::string& proposedName,
                            int& filterIndex, const std::string& filter) override;
    void ShowStatus(const std::string& text, bool bold) override;
    void SetBusy(bool busy) override;
    void ProcessPendingMessages() override;

private:
    void Box_(const std::string& text);
    // One answer line; false at the end of the input.
    bool ReadAnswer_(const std::string& question, std::string& answer);

    int forced_;
    std::istream& in_;
    std::ostream& err_;
    bool interactive_;
    bool statusShown_;
};

// Whether standard input / standard error are terminals.
bool ConsoleStdinIsTerminal();
bool ConsoleStderrIsTerminal();
// Text as a console shows it: CR LF and lone CR become LF.
std::string ConsoleText(const std::string& text);
