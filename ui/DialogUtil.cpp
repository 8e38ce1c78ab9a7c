#include "ui/DialogUtil.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "base/CharSet.h"
#include "base/FileUtil.h"
#include "base/Mon.h"
#include "platform/Prefs.h"
#include "base/StrUtil.h"
#include "core/ProgramDir.h"
#include "core/Settings.h"
#include "core/SettingsLock.h"

static QString Q_(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string GetAppTitle()
{
    TRACE("VCLUtils._GetAppTitle");
    return APP_TITLE;
}

// ---------------------------------------------------------------- message boxes and questions

static void Box_(QMessageBox::Icon icon, const std::string& text)
{
    QMessageBox box(icon, Q_(APP_TITLE), Q_(text), QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void ErrorBox(const std::string& text)
{
    Box_(QMessageBox::Critical, text);
}

void WarningBox(const std::string& text)
{
    Box_(QMessageBox::Warning, text);
}

void InfoBox(const std::string& text)
{
    Box_(QMessageBox::Information, text);
}

std::string YesNo(const std::string& text, int defaultButton)
{
    TRACE("VCLUtils.YesNo");
    QMessageBox box(QMessageBox::Question, Q_(APP_TITLE), Q_(text), QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setDefaultButton(defaultButton == 1 ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes) ? "Y" : "N";
}

std::string YesNoCancel(const std::string& text, int defaultButton)
{
    TRACE("VCLUtils.YesNoCancel");
    QMessageBox box(QMessageBox::Question, Q_(APP_TITLE), Q_(text),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QApplication::activeWindow());
    box.setDefaultButton(defaultButton == 1   ? QMessageBox::Yes
                         : defaultButton == 2 ? QMessageBox::No
                                              : QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked && clicked == box.button(QMessageBox::Yes)) return "Y";
    if (clicked && clicked == box.button(QMessageBox::No)) return "N";
    return "C";
}

// ---------------------------------------------------------------- filters and names

std::string FilterToExt(const std::string& filter, int index)
{
    TRACE("VCLUtils.FilterToExt");
    if (index < 1) return "";
    size_t pos = 0;
    for (int bars = 0; bars < 2 * index - 1; bars++) {
        size_t bar = filter.find('|', pos);
        if (bar == std::string::npos) return "";
        pos = bar + 1;
    }
    size_t end = filter.find('|', pos);
    std::string patterns = StrTrim(filter.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    size_t dot = patterns.find('.');
    if (dot == std::string::npos) return "";
    size_t stop = patterns.find_first_of("|;,", dot);
    std::string ext = patterns.substr(dot, stop == std::string::npos ? std::string::npos : stop - dot);
    if (ext.find('*') != std::string::npos) return "";
    return ext;
}

static bool HasExt_(const std::string& name)
{
    size_t slash = name.find_last_of("/\\");
    size_t dot = name.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

std::string CompleteName(const std::string& name, const std::string& filter, int index, bool force)
{
    TRACE("VCLUtils.CompleteName");
    if (force || !HasExt_(name)) return ForceFileExt(name, FilterToExt(filter, index));
    return name;
}

std::vector<std::string> FilterToNameFilters(const std::string& filter)
{
    TRACE("VCLUtils.FilterToNameFilters");
    std::vector<std::string> parts;
    size_t pos = 0;
    for (;;) {
        size_t bar = filter.find('|', pos);
        parts.push_back(filter.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
        if (bar == std::string::npos) break;
        pos = bar + 1;
    }
    std::vector<std::string> result;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string pats = parts[i + 1];
        std::replace(pats.begin(), pats.end(), ';', ' ');
        std::replace(pats.begin(), pats.end(), ',', ' ');
        // The dialog shows the description only (HideNameFilterDetails hides the pattern part).
        result.push_back(StrTrim(parts[i]) + " (" + StrTrim(pats) + ")");
    }
    return result;
}

static std::string FolderOf_(const std::string& name)
{
    TRACE("VCLUtils.FolderOf_");
    std::string folder = std::filesystem::path(name).parent_path().string();
    return AddBS(folder);
}

std::string FileDlgAccept(const std::string& chosen, const std::string& filter, int chosenIndex, std::string& folder,
                          int& filterIndex)
{
    TRACE("VCLUtils.FileDlgAccept");
    std::string name = CompleteName(chosen, filter, chosenIndex, false);
    folder = FolderOf_(name);
    filterIndex = chosenIndex;
    return name;
}

std::string FileDlgStartFolder(const std::string& folder)
{
    TRACE("VCLUtils.FileDlgStartFolder");
    const std::string f = StrTrim(folder);
    if (f.empty()) return GetProgramDir();
    // The default "\" is the root of the Windows drive; here that is "/", which is nobody's
    // pictures: the home folder stands in for it, and for a folder that has gone.
    std::error_code ec;
    if (f == "/" || f == "\\" || !std::filesystem::is_directory(f, ec)) return QDir::homePath().toStdString() + "/";
    return folder;
}

// Sets up the dialog shared by the three file dialogs; returns the name filter list.
static QStringList PrepareFileDialog_(QFileDialog& dlg, const std::string& title, const std::string& folder,
                                      const std::string& filter, int filterIndex)
{
    TRACE("VCLUtils.PrepareFileDialog_");
    dlg.setWindowTitle(Q_(title));
    dlg.setDirectory(Q_(FileDlgStartFolder(folder)));
    dlg.setOption(QFileDialog::HideNameFilterDetails, true);
    QStringList filters;
    for (const std::string& f : FilterToNameFilters(filter)) filters << Q_(f);
    if (!filters.isEmpty()) {
        dlg.setNameFilters(filters);
        if (filterIndex >= 1 && filterIndex <= filters.size()) dlg.selectNameFilter(filters[filterIndex - 1]);
    }
    return filters;
}

// With the details hidden the dialog reports the entry without its pattern part.
static int ChosenIndex_(const QFileDialog& dlg, const QStringList& filters)
{
    TRACE("VCLUtils.ChosenIndex_");
    const QString chosen = dlg.selectedNameFilter();
    for (qsizetype i = 0; i < filters.size(); i++) {
        const QString& full = filters[i];
        if (chosen == full || chosen == full.left(full.lastIndexOf(QStringLiteral(" (")))) return static_cast<int>(i) + 1;
    }
    return 1;
}

std::string FileOpenDlg(const std::string& title, std::string& folder, const std::string& filter, int& filterIndex)
{
    TRACE("VCLUtils.FileOpenDlg");
    QFileDialog dlg(QApplication::activeWindow());
    QStringList filters = PrepareFileDialog_(dlg, title, folder, filter, filterIndex);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return "";
    return FileDlgAccept(dlg.selectedFiles().first().toStdString(), filter, ChosenIndex_(dlg, filters), folder,
                         filterIndex);
}

std::vector<std::string> MultiFileOpenDlg(const std::string& title, std::string& folder, const std::string& filter,
                                          int& filterIndex)
{
    TRACE("VCLUtils.MultiFileOpenDlg");
    std::vector<std::string> names;
    QFileDialog dlg(QApplication::activeWindow());
    QStringList filters = PrepareFileDialog_(dlg, title, folder, filter, filterIndex);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFiles);
    if (dlg.exec() != QDialog::Accepted) return names;
    for (const QString& f : dlg.selectedFiles()) names.push_back(f.toStdString());
    if (names.empty()) return names;
    FileDlgOrderProperly(names);
    folder = FolderOf_(names.front());
    filterIndex = ChosenIndex_(dlg, filters);
    return names;
}

std::string FileSaveDlg(const std::string& title, std::string& folder, const std::string& proposedName,
                        int& filterIndex, const std::string& filter)
{
    TRACE("VCLUtils.FileSaveDlg");
    QFileDialog dlg(QApplication::activeWindow());
    QStringList filters = PrepareFileDialog_(dlg, title, folder, filter, filterIndex);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!proposedName.empty()) dlg.selectFile(Q_(proposedName));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return "";
    return FileDlgAccept(dlg.selectedFiles().first().toStdString(), filter, ChosenIndex_(dlg, filters), folder,
                         filterIndex);
}

void FileDlgOrderProperly(std::vector<std::string>& names)
{
    TRACE("VCLUtils._OrderProperly");
    const size_t n = names.size();
    if (n < 2) return;
    auto le = [](const std::string& a, const std::string& b) { return StrLower(a) <= StrLower(b); };
    if (n <= 3) {
        if (!le(names.front(), names.back())) std::swap(names.front(), names.back());
        return;
    }
    const bool descending = !le(names[1], names[2]);
    // "in order" for the run's direction; equal neighbours count as ordered either way
    auto ordered = [&](const std::string& a, const std::string& b) { return descending ? le(b, a) : le(a, b); };
    for (size_t i = 1; i + 2 < n; i++)
        if (!ordered(names[i], names[i + 1])) return;
    if (ordered(names[n - 1], names[1]) && ordered(names[n - 2], names[0])) std::swap(names.front(), names.back());
}

// ---------------------------------------------------------------- colours

QColor WinColorToQColor(int32_t color)
{
    uint32_t c = static_cast<uint32_t>(color);
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

int32_t QColorToWinColor(const QColor& color)
{
    return static_cast<int32_t>(static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
                                (static_cast<uint32_t>(color.blue()) << 16));
}

QString WinToQ(const std::string& text)
{
    QString r;
    r.reserve(static_cast<qsizetype>(text.size()));
    for (unsigned char c : text) r.append(QChar(static_cast<char16_t>(CharWinToUnicode(c))));
    return r;
}

std::string QToWin(const QString& text)
{
    std::string r;
    r.reserve(static_cast<size_t>(text.size()));
    for (QChar ch : text) r += CharUnicodeToWin(ch.unicode());
    return r;
}

void MemoSetText(QPlainTextEdit* memo, const std::string& text)
{
    TRACE("VCLUtils.MemoSetText");
    memo->setPlainText(WinToQ(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

std::string MemoGetText(const QPlainTextEdit* memo)
{
    TRACE("VCLUtils.MemoGetText");
    return QToWin(memo->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n")));
}

static std::string Hex6_(uint32_t value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06X", value & 0xFFFFFFu);
    return buf;
}

std::array<std::string, 16> ColorPickLoadCustom(const std::string& settingsFile, const std::string& section)
{
    TRACE("VCLUtils.ColorPickLoadCustom");
    std::array<std::string, 16> colors;
    PrefsPrepare(settingsFile, section);
    for (int i = 0; i < 16; i++) {
        std::string key = std::string("Color") + static_cast<char>('A' + i);
        int32_t v = HexToInt(PrefsReadStr(key, "FFFFFF"), 16777215);
        colors[i] = Hex6_(static_cast<uint32_t>(v));
    }
    return colors;
}

void ColorPickSaveCustom(const std::string& settingsFile, const std::string& section,
                         const std::array<std::string, 16>& colors)
{
    TRACE("VCLUtils.ColorPickSaveCustom");
    // Other programs save their settings into the same file; the colours merge onto it as it is.
    const SettingsLockScope lock;
    if (!lock.Held) return;
    PrefsPrepare(settingsFile, section);
    PrefsReread();
    for (int i = 0; i < 16; i++) PrefsWriteStr(std::string("Color") + static_cast<char>('A' + i), colors[i]);
    PrefsFlushCache();
}

int32_t ColorPickDlg(int32_t color, const std::string& settingsFile, const std::string& section)
{
    TRACE("VCLUtils.ColorPickDlg");
    const bool store = !settingsFile.empty();
    if (store) {
        std::array<std::string, 16> custom = ColorPickLoadCustom(settingsFile, section);
        for (int i = 0; i < 16; i++) QColorDialog::setCustomColor(i, WinColorToQColor(HexToInt(custom[i], 16777215)));
    }
    QColorDialog dlg(WinColorToQColor(color), QApplication::activeWindow());
    dlg.setWindowTitle(QObject::tr("Color"));
    if (dlg.exec() != QDialog::Accepted) return color;
    int32_t result = QColorToWinColor(dlg.selectedColor());
    if (store) {
        std::array<std::string, 16> custom;
        for (int i = 0; i < 16; i++)
            custom[i] = Hex6_(static_cast<uint32_t>(QColorToWinColor(QColorDialog::customColor(i))));
        ColorPickSaveCustom(settingsFile, section, custom);
    }
    return result;
}

// ---------------------------------------------------------------- controls

void SetHint(QWidget* button, const std::string& text)
{
    TRACE("VCLUtils.SetHint");
    if (!button) return;
    button->setToolTip(Q_(text));
    button->setToolTipDuration(-1);
}

static void SetBackground_(QWidget* control, bool on)
{
    TRACE("VCLUtils.SetBackground_");
    const QPalette app = QApplication::palette(control);
    const QColor bg = on ? app.color(QPalette::Active, QPalette::Base) : app.color(QPalette::Active, QPalette::Button);
    QPalette p = control->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) p.setColor(g, QPalette::Base, bg);
    control->setPalette(p);
}

void TEdit_Enable(QLineEdit* edit, bool on)
{
    TRACE("VCLUtils.TEdit_Enable");
    if (!edit) return;
    edit->setEnabled(on);
    SetBackground_(edit, on);
}

void TMemo_Enable(QPlainTextEdit* memo, bool on)
{
    TRACE("VCLUtils.TMemo_Enable");
    if (!memo) return;
    memo->setEnabled(on);
    SetBackground_(memo, on);
}

void TComboBox_Enable(QComboBox* combo, bool on)
{
    TRACE("VCLUtils.TComboBox_Enable");
    if (!combo) return;
    combo->setEnabled(on);
    SetBackground_(combo, on);
}

static void ControlEnable_(QWidget* control, bool on)
{
    TRACE("VCLUtils._TControl_Enable");
    if (!control) return;
    if (auto* e = qobject_cast<QLineEdit*>(control)) TEdit_Enable(e, on);
    else if (auto* m = qobject_cast<QPlainTextEdit*>(control)) TMemo_Enable(m, on);
    else if (auto* c = qobject_cast<QComboBox*>(control)) TComboBox_Enable(c, on);
    else control->setEnabled(on);
}

// Input boxes and lists are single controls: their inner widgets (viewport, scroll bars, popup)
// follow them and are not walked.
static bool IsContainer_(QWidget* w)
{
    return !qobject_cast<QLineEdit*>(w) && !qobject_cast<QPlainTextEdit*>(w) && !qobject_cast<QComboBox*>(w);
}

void TWinControl_Enable(QWidget* container, bool on)
{
    TRACE("VCLUtils.TWinControl_Enable");
    if (!container) return;
    ControlEnable_(container, on);
    if (!IsContainer_(container)) return;
    for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow()) TWinControl_Enable(child, on);
}

bool ControlIsGreyed(QWidget* control)
{
    if (!control) return false;
    const QPalette app = QApplication::palette(control);
    return control->palette().color(QPalette::Active, QPalette::Base) == app.color(QPalette::Active, QPalette::Button);
}

void ClearDC(QPainter& dc, int left, int top, int32_t color, int height, int width)
{
    TRACE("VCLUtils.ClearDC");
    dc.fillRect(left, top, width, height, WinColorToQColor(color));
}

void ProcessPendingMessages()
{
    QCoreApplication::processEvents();
}

void HourglassOn()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void HourglassOff()
{
    if (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}
