// "Select Logo Position" for Choose Position: where the highlighted images may be used by
// Shuffle and the automatic change. Only collects the choice.
#pragma once

#include <cstdint>
#include <string>

#include "ui/DialogBase.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

class TfrmLogoPos : public TFormDialog {
    Q_OBJECT
public:
    explicit TfrmLogoPos(QWidget* parent = nullptr);

    void Fill(int32_t mask, const std::string& explanation);
    int32_t ReadBack() const;  // mask of the checked boxes

    QLabel* memoText;
    QGroupBox* GroupBox1;
    QCheckBox* chk0;
    QCheckBox* chk1;
    QCheckBox* chk2;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

private:
    void SetupUi_();
};

// Check boxes from mask; on OK mask = the checked positions and true, otherwise mask unchanged.
bool LogoPosDialog(int32_t& mask, const std::string& explanation);
