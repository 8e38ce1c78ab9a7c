#include "ui/QtUi.h"

#include <QCoreApplication>

#include "app/DriveUse.h"
#include "ui/TfrmMain.h"
#include "ui/DialogUtil.h"

// On a disk image the files live in a working folder; messages name them inside the image.
void QtUi::ErrorBox(const std::string& text) { ::ErrorBox(DriveUseShownText(text)); }
void QtUi::WarningBox(const std::string& text) { ::WarningBox(DriveUseShownText(text)); }
void QtUi::InfoBox(const std::string& text) { ::InfoBox(DriveUseShownText(text)); }

std::string QtUi::YesNo(const std::string& text, int defaultButton) { return ::YesNo(text, defaultButton); }

std::string QtUi::YesNoCancel(const std::string& text, int defaultButton)
{
    return ::YesNoCancel(text, defaultButton);
}

bool QtUi::PromptText(const std::string& caption, const std::string& label, std::string& text)
{
    return ::PromptText(caption, label, text);
}

int QtUi::OverwriteDialog(const std::string& caption, const std::string& text)
{
    return ::OverwriteDialog(caption, text);
}

bool QtUi::ResizeModeDialog() { return ::ResizeModeDialog(); }

std::string QtUi::FileOpenDlg(const std::string& title, std::string& folder, const std::string& filter,
                              int& filterIndex)
{
    return ::FileOpenDlg(title, folder, filter, filterIndex);
}

std::vector<std::string> QtUi::MultiFileOpenDlg(const std::string& title, std::string& folder,
                                                const std::string& filter, int& filterIndex)
{
    return ::MultiFileOpenDlg(title, folder, filter, filterIndex);
}

std::string QtUi::FileSaveDlg(const std::string& title, std::string& folder, const std::string& proposedName,
                              int& filterIndex, const std::string& filter)
{
    return ::FileSaveDlg(title, folder, proposedName, filterIndex, filter);
}

void QtUi::ShowStatus(const std::string& text, bool bold)
{
    if (main_) main_->ShowStatus(DriveUseShownText(text), bold);
    else QCoreApplication::processEvents();
}

void QtUi::SetBusy(bool busy)
{
    if (main_) main_->SetBusy(busy);
}

void QtUi::ProcessPendingMessages() { QCoreApplication::processEvents(); }
