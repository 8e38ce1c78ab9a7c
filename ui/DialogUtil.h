// Helpers every window uses: message boxes and questions captioned with the application title,
// the file dialogs with their filter rules, the colour dialog with stored custom colours, hints,
// enabling and greying controls, the busy cursor. Also the entry points of the small dialogs the
// core asks for through UiServices (defined in their own units).
//
// Filters are Windows-style: "Gallery Files (*.gal)|*.gal|All Files (*.*)|*.*", entries counted
// from 1. Colours are Windows colour values: red in bits 0-7, green 8-15, blue 16-23.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <QColor>
#include <QString>

class QWidget;
class QLineEdit;
class QPlainTextEdit;
class QComboBox;
class QPainter;
class QMessageBox;

std::string GetAppTitle();

void ErrorBox(const std::string& text);
void WarningBox(const std::string& text);
void InfoBox(const std::string& text);
// defaultButton 1 = Yes, anything else = No; "Y" only for Yes.
std::string YesNo(const std::string& text, int defaultButton);
// defaultButton 1 = Yes, 2 = No, anything else = Cancel; "Y", "N", or "C" for Cancel and closing.
std::string YesNoCancel(const std::string& text, int defaultButton);

// The extension of the index-th entry's first pattern (".gal" for "*.gal"); empty when there is
// no such entry, no "." or a wildcard in the extension.
std::string FilterToExt(const std::string& filter, int index);
// With force, or when name has no extension: the extension of the filter entry forced on it.
std::string CompleteName(const std::string& name, const std::string& filter, int index, bool force);

// The open dialog: the chosen file completed with the chosen filter's extension, or empty text on
// Cancel (folder and filterIndex then unchanged). A blank folder starts in the program folder.
std::string FileOpenDlg(const std::string& title, std::string& folder, const std::string& filter, int& filterIndex);
// Several files, in the dialog's order with the order fix applied; empty on Cancel.
std::vector<std::string> MultiFileOpenDlg(const std::string& title, std::string& folder, const std::string& filter,
                                          int& filterIndex);
// The save dialog (no overwrite question: callers ask themselves); empty text on Cancel.
std::string FileSaveDlg(const std::string& title, std::string& folder, const std::string& proposedName,
                        int& filterIndex, const std::string& filter);
// Dialogs may return a multiple selection as a rotated list (the last clicked first); puts the
// first and last names back where an ascending or descending run says they belong.
void FileDlgOrderProperly(std::vector<std::string>& names);
// The folder a file dialog opens in: the program folder for a blank folder, the home folder for
// the root ("/", the default) or a folder that no longer exists, else folder.
std::string FileDlgStartFolder(const std::string& folder);
// What the open and save dialogs do with an accepted file: completes it (force false), moves
// folder to its folder and filterIndex to the chosen entry; returns the completed name.
std::string FileDlgAccept(const std::string& chosen, const std::string& filter, int chosenIndex,
                          std::string& folder, int& filterIndex);
// Windows filter text -> the dialog's name filters, one per entry pair, "Desc (pat1 pat2)".
std::vector<std::string> FilterToNameFilters(const std::string& filter);

// The colour dialog preset with color; with a settings file, its 16 custom colours come from and,
// on OK, go back to the keys "ColorA".."ColorP" of file and section. Cancel returns color.
int32_t ColorPickDlg(int32_t color, const std::string& settingsFile, const std::string& section);
// The 16 custom colours as stored: 6 upper-case hex digits each, "FFFFFF" for a missing or bad key.
std::array<std::string, 16> ColorPickLoadCustom(const std::string& settingsFile, const std::string& section);
void ColorPickSaveCustom(const std::string& settingsFile, const std::string& section,
                         const std::array<std::string, 16>& colors);

QColor WinColorToQColor(int32_t color);
// The program's 8-bit Windows-charset text (messages) and back; every byte survives the round trip.
QString WinToQ(const std::string& text);
std::string QToWin(const QString& text);
// A multi-line box holding program text: CR LF line ends outside, the box's own inside.
void MemoSetText(QPlainTextEdit* memo, const std::string& text);
std::string MemoGetText(const QPlainTextEdit* memo);
int32_t QColorToWinColor(const QColor& color);

void SetHint(QWidget* button, const std::string& text);
// Enabled controls get the window background, disabled ones the button-face colour.
void TEdit_Enable(QLineEdit* edit, bool on);
void TMemo_Enable(QPlainTextEdit* memo, bool on);
void TComboBox_Enable(QComboBox* combo, bool on);
// The container and, depth first, every control inside it.
void TWinControl_Enable(QWidget* container, bool on);
// True when the control shows the button-face background (a disabled input box).
bool ControlIsGreyed(QWidget* control);

void ClearDC(QPainter& dc, int left, int top, int32_t color, int height, int width);
void ProcessPendingMessages();
void HourglassOn();
void HourglassOff();

// ---- dialog entry points (each defined in its dialog's unit) ----
// "frmRename": true and the edited text on OK; Cancel or closing leaves text unchanged.
bool PromptText(const std::string& caption, const std::string& label, std::string& text);
// "frmOverwrite": the OverwriteChoice of the button pressed, 6 when closed without one.
int OverwriteDialog(const std::string& caption, const std::string& text);
// "frmResize": edits the ResizeMode and DefPrefix settings; true on OK.
bool ResizeModeDialog();
// "frmLoc": edits the logo file paths and the storage folder; true on OK.
bool SystemFilesDialog();
