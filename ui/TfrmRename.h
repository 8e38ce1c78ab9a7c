// The one-line prompt: renaming, changing prefixes, gallery prefixes.
#pragma once

#include <string>

#include "ui/DialogBase.h"
#include "ui/DialogUtil.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TfrmRename : public TFormDialog {
    Q_OBJECT
public:
    explicit TfrmRename(QWidget* parent = nullptr);

    void Fill(const std::string& caption, const std::string& label, const std::string& text);
    std::string ReadBack() const;

    QLabel* labSubTitle;
    QLineEdit* edNewName;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

private:
    void SetupUi_();
};
