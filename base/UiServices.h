// The one process-wide object through which core flows talk to the user: message boxes,
// questions, prompts, file dialogs, the status line and the busy state. The Qt window, the
// console tool and the tests each install their own implementation; core code never includes Qt.
#pragma once

#include <string>
#include <vector>

class UiServices {
public:
    virtual ~UiServices() = default;

    // Boxes captioned with the application title.
    virtual void ErrorBox(const std::string& text) = 0;
    virtual void WarningBox(const std::string& text) = 0;
    virtual void InfoBox(const std::string& text) = 0;
    // defaultButton 1 = Yes, anything else = No. Returns "Y" or "N".
    virtual std::string YesNo(const std::string& text, int defaultButton) = 0;
    // defaultButton 1 = Yes, 2 = No, anything else = Cancel. Returns "Y", "N" or "C".
    virtual std::string YesNoCancel(const std::string& text, int defaultButton) = 0;
    // The one-line prompt: true and the edited text on OK; false leaves text unchanged.
    virtual bool PromptText(const std::string& caption, const std::string& label, std::string& text) = 0;
    // The name-clash dialog; returns an OverwriteChoice value 1..6 (6 when closed without a button).
    virtual int OverwriteDialog(const std::string& caption, const std::string& text) = 0;
    // The resize-mode dialog: reads and, on OK, writes the ResizeMode and DefPrefix settings.
    virtual bool ResizeModeDialog() = 0;

    // File dialogs. folder and filterIndex are in/out; an empty result means Cancel.
    virtual std::string FileOpenDlg(const std::string& title, std::string& folder, const std::string& filter,
                                    int& filterIndex) = 0;
    virtual std::vector<std::string> MultiFileOpenDlg(const std::string& title, std::string& folder,
                                                      const std::string& filter, int& filterIndex) = 0;
    virtual std::string FileSaveDlg(const std::string& title, std::string& folder, const std::string& proposedName,
                                    int& filterIndex, const std::string& filter) = 0;

    // Status line: one blank followed by text, bold or regular; lets pending window messages run.
    // Callers pass the text without the leading blank.
    virtual void ShowStatus(const std::string& text, bool bold) = 0;
    virtual void SetBusy(bool busy) = 0;
    virtual void ProcessPendingMessages() = 0;
};

// What runs until a window or console installs its own: boxes go to standard error, questions
// take their preselected answer, dialogs are cancelled, a name clash aborts.
class DefaultUi : public UiServices {
public:
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
    std::vector<std::string> MultiFileOpenDlg(const std::string& title, std::string& folder, const std::string& filter,
                                              int& filterIndex) override;
    std::string FileSaveDlg(const std::string& title, std::string& folder, const std::string& proposedName,
                            int& filterIndex, const std::string& filter) override;
    void ShowStatus(const std::string& text, bool bold) override;
    void SetBusy(bool busy) override;
    void ProcessPendingMessages() override;
};

// The installed implementation; a silent console-like default until someone installs one.
UiServices& Ui();
// Installs ui (not owned) and returns the previous one; nullptr restores the default.
UiServices* SetUi(UiServices* ui);
