// "About": the program's name, version, purpose and licence, and the folders it works in.
#pragma once

#include <string>

#include "ui/DialogBase.h"

class QLabel;
class QPushButton;

class TfrmAbout : public TFormDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    QLabel* labName;
    QLabel* labVersion;
    QLabel* labPurpose;
    QLabel* labLicence;
    QLabel* labProgramDir;
    QLabel* labWinDir;
    QLabel* labDrive;
    QLabel* labStorageDir;
    QPushButton* btnOK;

private:
    void SetupUi_();
};

// The version this build was made as (the project's version in the build files).
std::string AboutVersion();
void AboutDialog();
