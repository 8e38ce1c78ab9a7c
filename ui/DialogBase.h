// Window base classes. Every dialog is created for one use, shown modally and centred on the
// screen, then destroyed; OK buttons are default buttons, Cancel buttons answer Escape.
#pragma once

#include <QDialog>
#include <QHBoxLayout>

#include <utility>

class QShowEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The toolkit's form with the program's look.
class TFormBasic : public QDialog {
    Q_OBJECT
public:
    explicit TFormBasic(QWidget* parent = nullptr);

protected:
    // Starts with the designed client size; layouts may grow it where the system font needs room.
    void SetClientSize(int width, int height);
};

// Dialog border with system menu and minimise box, centred on the screen when shown.
class TFormDialog : public TFormBasic {
    Q_OBJECT
public:
    explicit TFormDialog(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

// A control of type W named name (member name and object name agree, so tests find it).
template <class W, class... A> W* NewControl(const char* name, A&&... args)
{
    W* w = new W(std::forward<A>(args)...);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// A read-only text box in the button-face colour that Tab skips: the explanation boxes.
void MakeStaticMemo(QPlainTextEdit* memo, bool border);
// The same look for a text that is never edited: a word-wrapped label, at least width x height
// (the designed size), that grows to hold its whole text in the real font (StaticTextSet).
QLabel* NewStaticText(const char* name, bool border, int width, int height);
// Sets the text (CR LF line ends allowed) and the height it needs at the label's minimum width.
void StaticTextSet(QLabel* label, const std::string& text);
// A word-wrapped label at least as tall as its text needs at its minimum width (and as its
// designed height): a window's layout cannot ask a label for the height its width gives.
void FitWrappedLabel(QLabel* label);
// At least the designed size, and as large as the caption needs with room to spare, so no
// caption touches its button's edges. An explicit minimum would otherwise let layouts shrink a
// button below its size hint.
void FitButton(QPushButton* button, int width, int height);
// "OK" (default button, accepts) and "Cancel" (Escape, rejects) with their glyphs.
void SetupOkCancel(QDialog* dialog, QPushButton* ok, QPushButton* cancel);
// The two buttons right-aligned in a row, for the bottom of a dialog.
QHBoxLayout* OkCancelRow(QPushButton* ok, QPushButton* cancel);
