// Window base classes. Every dialog is created for one use, shown modally and centred on the
// screen, then destroyed; OK buttons are default buttons, Cancel buttons answer Escape.
#pragma once

#include <QDialog>
#include <QHBoxLayout>

#include <utility>

class QShowEvent;
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
// "OK" (default button, accepts) and "Cancel" (Escape, rejects) with their glyphs.
void SetupOkCancel(QDialog* dialog, QPushButton* ok, QPushButton* cancel);
// The two buttons right-aligned in a row, for the bottom of a dialog.
QHBoxLayout* OkCancelRow(QPushButton* ok, QPushButton* cancel);
