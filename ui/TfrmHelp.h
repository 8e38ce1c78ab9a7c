// The short manual in a window of the program: links inside the manual are followed there,
// links to anything else go to the desktop's handler.
#pragma once

#include <string>

#include <QDialog>

class QTextBrowser;
class QUrl;
class QPushButton;

class TfrmHelp : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHelp(QWidget* parent = nullptr);

    // Loads the manual file and scrolls to anchor (empty: the top).
    void ShowManual(const std::string& file, const std::string& anchor);

    QTextBrowser* txtManual;
    QPushButton* btnClose;

private:
    void SetupUi_();
    void txtManualAnchorClicked(const QUrl& url);
};

// Where the manual is: the program folder's copy, else the one shipped with the executable;
// empty when there is none.
std::string HelpManualFile();
// Shows the manual window of parent (made once, then brought to the front) at anchor; an error
// box when the manual cannot be found.
void HelpShowManual(QWidget* parent, const std::string& anchor);
// Opens an address with the desktop's handler; an error box when that fails.
bool HelpOpenExternal(const QUrl& url);
