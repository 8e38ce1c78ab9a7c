#include "base/UiServices.h"

#include "base/Mon.h"

#include <cstdio>

namespace {

// Until a window or console installs its own: boxes go to standard error, questions take
// their preselected answer, dialogs are cancelled.
class SilentUi : public UiServices {
public:
    void ErrorBox(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void WarningBox(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void InfoBox(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    std::string YesNo(const std::string&, int defaultButton) override { return defaultButton == 1 ? "Y" : "N"; }
    std::string YesNoCancel(const std::string&, int defaultButton) override
    {
        return defaultButton == 1 ? "Y" : defaultButton == 2 ? "N" : "C";
    }
    bool PromptText(const std::string&, const std::string&, std::string&) override { return false; }
    int OverwriteDialog(const std::string&, const std::string&) override { return 6; }
    bool ResizeModeDialog() override { return false; }
    std::string FileOpenDlg(const std::string&, std::string&, const std::string&, int&) override { return {}; }
    std::vector<std::string> MultiFileOpenDlg(const std::string&, std::string&, const std::string&, int&) override
    {
        return {};
    }
    std::string FileSaveDlg(const std::string&, std::string&, const std::string&, int&, const std::string&) override
    {
        return {};
    }
    void ShowStatus(const std::string&, bool) override {}
    void SetBusy(bool) override {}
    void ProcessPendingMessages() override {}
};

SilentUi g_silent;
UiServices* g_ui = nullptr;

}  // namespace

UiServices& Ui() { return g_ui ? *g_ui : g_silent; }

UiServices* SetUi(UiServices* ui)
{
    TRACE("UiServices.SetUi");
    UiServices* old = g_ui;
    g_ui = ui;
    return old;
}
