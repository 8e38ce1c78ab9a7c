// The drive chooser: the Windows 95/98 drives found on this computer and the last ones used,
// each with its kind, Windows version and free space, and the demo drive one click away. The
// same list stands on the Drive tab of System Files.
#pragma once

#include "app/DriveUse.h"
#include "ui/DialogBase.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TfrmDrives : public TFormDialog {
    Q_OBJECT
public:
    // firstStart: the offer of the first start, which says why it shows.
    explicit TfrmDrives(bool firstStart, QWidget* parent = nullptr);

    // Fills the list, searching again unless the search of this run is to be shown.
    void Fill(bool again);
    // The chosen drive; the demo drive has an empty path.
    DriveChoice Choice() const { return choice_; }

    QLabel* labIntro;
    QTreeWidget* lvDrives;
    QPushButton* btnDemo;
    QPushButton* btnAddFolder;
    QPushButton* btnOK;
    QPushButton* btnCancel;

private:
    void SetupUi_(bool firstStart);
    void btnOKClick();
    void btnDemoClick();
    void btnAddFolderClick();
    void lvDrivesChange();

    DriveChoice choice_;
};

// A tree with the columns of the chooser.
QTreeWidget* DrivesNewList(const char* name);
// Fills tree with the found drives (searching again when again is set) and the recent ones not among them; the
// drive open now is bold and selected. A refused image is shown greyed with its reason.
void DrivesFillList(QTreeWidget* tree, bool again);
// The drive of item; false for a heading or a refused image.
bool DrivesItemChoice(const QTreeWidgetItem* item, DriveChoice& choice);
// Shows the chooser; true with choice set when the user picked a drive (the demo drive: an
// empty path), false when cancelled.
bool DriveChooserDialog(QWidget* parent, bool firstStart, DriveChoice& choice);
