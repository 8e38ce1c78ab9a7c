// "Options": automatic change, pick methods, message font and colours, the three message lists
// and the animated colour band. Works on a working copy; only OK makes changes take effect.
#pragma once

#include <cstdint>
#include <string>

#include <QFrame>

#include "core/Options.h"
#include "ui/DialogBase.h"
#include "ui/DialogUtil.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QWidget;

// The working copy lives for the program's run and is refilled at each opening.
extern OptionsWorkCopy OptionsWork;

// "Verdana, size 10, bold": name, size, then each style that is on.
std::string OptionsFontText(const OptionsWorkCopy& work);
// What the font dialog's OK does to the copy: the size is clamped to 6..72.
void OptionsTakeFont(OptionsWorkCopy& work, const std::string& name, bool bold, bool italic, bool underline,
                     bool strikeout, int32_t size, int32_t charSet);

// A colour swatch: a bordered panel showing a Windows colour; a click asks for another.
class TColorSwatch : public QFrame {
    Q_OBJECT
public:
    explicit TColorSwatch(QWidget* parent = nullptr);
    void SetColor(int32_t color);
    int32_t Color() const { return color_; }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int32_t color_ = 0;
};

class TfrmOptions : public TFormDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(QWidget* parent = nullptr);

    // Controls from the copy and, directly, from the pick, message and animation settings.
    void Fill(const OptionsWorkCopy& work);
    // The copy from the controls, and the directly edited settings stored.
    void ReadBack(OptionsWorkCopy& work);

    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QWidget* tabShutDown;
    QWidget* TabSheet4;
    QWidget* tabAnim;
    QCheckBox* chkAutoStart;
    QSpinBox* edAutoSets;
    QGroupBox* boxFont;
    QLineEdit* edFont;
    QPushButton* btnFontSelect;
    TColorSwatch* panTextColor1;
    TColorSwatch* panTextColor2;
    QGroupBox* radMsgPick;
    QRadioButton* radMsgPick0;
    QRadioButton* radMsgPick1;
    QRadioButton* radMsgPick2;
    QGroupBox* radLogoPick;
    QRadioButton* radLogoPick0;
    QRadioButton* radLogoPick1;
    QCheckBox* chkMsg0;
    QCheckBox* chkMsg1;
    QCheckBox* chkMsg2;
    QPlainTextEdit* memo0;
    QPlainTextEdit* memo1;
    QPlainTextEdit* memo2;
    QCheckBox* chkAnimEnabled;
    QGroupBox* boxAnimOptions;
    QComboBox* lstAnimShape;
    QComboBox* lstAnimMove;
    TColorSwatch* panAnimColor1;
    TColorSwatch* panAnimColor2;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    // The font the dialog works on (the font dialog's result lands here first).
    OptionsWorkCopy Font;

private:
    void SetupUi_();
    void ApplyMessageRule_();
    void btnFontSelectClick();
    void chkAnimEnabledClick();
    void PanColorClick_(TColorSwatch* swatch);
    void ShowFontText_(const std::string& text);
};

// The whole Options/Messages sequence; true when confirmed and saved.
bool OptionsDialog();
