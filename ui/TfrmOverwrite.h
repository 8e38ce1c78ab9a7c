// The name clash of a batch: overwrite, skip or rename this image, the same for all further
// clashes, or abort the batch. Answers with an OverwriteChoice value.
#pragma once

#include <string>

#include "ui/DialogBase.h"
#include "ui/DialogUtil.h"

class QPlainTextEdit;
class QPushButton;

class TfrmOverwrite : public TFormDialog {
    Q_OBJECT
public:
    explicit TfrmOverwrite(QWidget* parent = nullptr);

    // Caption and text; long texts get a scroll bar, short ones an empty line above them.
    void Fill(const std::string& caption, const std::string& text);
    // Lines the text takes when wrapped to the box's width.
    int WrappedLines(const QString& text) const;

    // 1 Overwrite, 2 Skip, 3 Rename, 4 Overwrite All, 5 Skip All, 6 Abort (also when closed).
    int Choice = 6;

    QPlainTextEdit* memo1;
    QPushButton* btnOvr;
    QPushButton* btnOvrAll;
    QPushButton* btnSkip;
    QPushButton* btnSkipAll;
    QPushButton* btnRename;
    QPushButton* btnAbort;

private:
    void SetupUi_();
};
