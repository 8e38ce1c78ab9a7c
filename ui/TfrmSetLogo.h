// "Select Logo Position" for Set as Logo: the positions to write the current image to now, with
// the message of each position editable for this one occasion. Only collects the choices.
#pragma once

#include <cstdint>
#include <string>

#include "ui/DialogBase.h"
#include "ui/DialogUtil.h"

class QCheckBox;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;

struct SetLogoRequest {
    int32_t positions = 0;     // check marks in, chosen positions out (1 Startup, 2 Wait, 4 Turn Off)
    std::string explanation;   // shown above the check boxes
    std::string message1;      // Startup message, in and out
    std::string message2;      // Wait message, in and out
    std::string message4;      // Turn Off message, in and out
};

class TfrmSetLogo : public TFormDialog {
    Q_OBJECT
public:
    explicit TfrmSetLogo(QWidget* parent = nullptr);

    void Fill(const SetLogoRequest& request);
    // Positions as checked and the three messages (also those of unchecked positions).
    void ReadBack(SetLogoRequest& request) const;
    // Each message box is enabled exactly when its position is checked.
    void ApplyEnableRule();

    QPlainTextEdit* memoText;
    QGroupBox* GroupBox1;
    QCheckBox* chk0;
    QCheckBox* chk1;
    QCheckBox* chk2;
    QPlainTextEdit* memo0;
    QPlainTextEdit* memo1;
    QPlainTextEdit* memo2;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

private:
    void SetupUi_();
    void chkClick();
};

// Fills the dialog from request and shows it; on OK writes the choices back and returns true,
// otherwise leaves request unchanged.
bool SetLogoDialog(SetLogoRequest& request);
