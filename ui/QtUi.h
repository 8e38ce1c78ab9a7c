// The window build's UiServices: boxes and dialogs through DialogUtil, the status line and the
// busy state through the main window.
#pragma once

#include "base/UiServices.h"

class TfrmMain;

class QtUi : public UiServices {
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
    std::vector<std::string> MultiFileOpenDlg(const std::string& title, std::string& folder,
                                              const std::string& filter, int& filterIndex) override;
    std::string FileSaveDlg(const std::string& title, std::string& folder, const std::string& proposedName,
                            int& filterIndex, const std::string& filter) override;
    void ShowStatus(const std::string& text, bool bold) override;
    void SetBusy(bool busy) override;
    void ProcessPendingMessages() override;

    // The window whose status line and busy state are used; null before it exists.
    void SetMainWindow(TfrmMain* window) { main_ = window; }
    TfrmMain* MainWindow() const { return main_; }

private:
    TfrmMain* main_ = nullptr;
};
