#include "base/UiServices.h"

#include "base/Mon.h"

#include <cstdio>

void DefaultUi::ErrorBox(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }
void DefaultUi::WarningBox(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }
void DefaultUi::InfoBox(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }
std::string DefaultUi::YesNo(const std::string&, int defaultButton) { return defaultButton == 1 ? "Y" : "N"; }
std::string DefaultUi::YesNoCancel(const std::string&, int defaultButton)
{
    return defaultButton == 1 ? "Y" : defaultButton == 2 ? "N" : "C";
}
bool DefaultUi::PromptText(const std::string&, const std::string&, std::string&) { return false; }
int DefaultUi::OverwriteDialog(const std::string&, const std::string&) { return 6; }
bool DefaultUi::ResizeModeDialog() { return false; }
std::string DefaultUi::FileOpenDlg(const std::string&, std::string&, const std::string&, int&) { return {}; }
std::vector<std::string> DefaultUi::MultiFileOpenDlg(const std::string&, std::string&, const std::string&, int&)
{
    return {};
}
std::string DefaultUi::FileSaveDlg(const std::string&, std::string&, const std::string&, int&, const std::string&)
{
    return {};
}
void DefaultUi::ShowStatus(const std::string&, bool) {}
void DefaultUi::SetBusy(bool) {}
void DefaultUi::ProcessPendingMessages() {}

namespace {

DefaultUi g_default;
UiServices* g_ui = nullptr;

}  // namespace

UiServices& Ui() { return g_ui ? *g_ui : g_default; }

UiServices* SetUi(UiServices* ui)
{
    TRACE("UiServices.SetUi");
    UiServices* old = g_ui;
    g_ui = ui;
    return old;
}
