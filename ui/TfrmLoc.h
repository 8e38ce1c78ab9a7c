// "System Files": the drive to manage (a folder or a disk image), where the three logo files
// are written and where the image store lives.
#pragma once

#include "app/DriveUse.h"
#include "ui/DialogBase.h"
#include "ui/DialogUtil.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;
class QWidget;

class TfrmLoc : public TFormDialog {
    Q_OBJECT
public:
    explicit TfrmLoc(QWidget* parent = nullptr);

    void Fill();   // from the logo file paths and the storage folder
    void Apply();  // SetStorageDir, then SetLogoFileName for positions 1, 2, 4, as typed
    // Whether another drive was chosen than the one open; choice gets it.
    bool DriveChanged(DriveChoice& choice) const;

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
    QWidget* TabSheet4;
    QLineEdit* edDrive;
    QSpinBox* spPartition;
    QPushButton* btnDriveFolder;
    QPushButton* btnDriveImage;
    QTreeWidget* lvDrives;  // found and recent drives, filled when the tab is first shown

private:
    void SetupUi_();
    QWidget* SetupDriveTab_();
    void btnRestore95Click();
    void btnRestoreStorageClick();
    void btnDriveFolderClick();
    void btnDriveImageClick();
    void lvDrivesChange();
    bool drivesFilled_ = false;
};
