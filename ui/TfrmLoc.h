// "System Files": where the three logo files are written and where the image store lives.
#pragma once

#include "ui/DialogBase.h"
#include "ui/VCLUtils.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;

class TfrmLoc : public TFormDialog {
    Q_OBJECT
public:
    explicit TfrmLoc(QWidget* parent = nullptr);

    void Fill();   // from the logo file paths and the storage folder
    void Apply();  // SetStorageDir, then SetLogoFileName for positions 1, 2, 4, as typed

    QLabel* labWarning;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet3;
    QLineEdit* edDest0;
    QLineEdit* edDest1;
    QLineEdit* edDest2;
    QPushButton* btnRestore95;
    QLineEdit* edSrc;
    QPushButton* btnRestoreStorage;
    QPushButton* btnOK;
    QPushButton* btnCancel;

private:
    void SetupUi_();
    void btnRestore95Click();
    void btnRestoreStorageClick();
};
