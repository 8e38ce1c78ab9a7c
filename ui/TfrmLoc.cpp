#include "ui/TfrmLoc.h"

#include <QApplication>
#include <QFileDialog>
#include <QSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/Mon.h"
#include "core/AutoChange.h"
#include "core/Settings.h"
#include "platform/SysInfo.h"
#include "ui/TfrmDrives.h"

TfrmLoc::TfrmLoc(QWidget* parent) : TFormDialog(parent)
{
    TRACE("wAdvanced.TfrmLoc.TfrmLoc");
    SetupUi_();
}

static QString Path_(const std::string& s)
{
    return QString::fromStdString(s);
}

void TfrmLoc::SetupUi_()
{
    TRACE("wAdvanced.TfrmLoc.SetupUi_");
    setObjectName("frmLoc");
    setWindowTitle(tr("System Files"));

    labWarning = NewControl<QLabel>("labWarning", tr("Warning: Read the manual before changing anything in this dialog!"));
    QFont bold = labWarning->font();
    bold.setBold(true);
    labWarning->setFont(bold);
    QPalette p = labWarning->palette();
    p.setColor(QPalette::WindowText, QColor(128, 0, 0));
    labWarning->setPalette(p);
    labWarning->setWordWrap(true);
    labWarning->setMinimumWidth(413);
    FitWrappedLabel(labWarning);

    TabSheet1 = NewControl<QWidget>("TabSheet1");
    edDest0 = NewControl<QLineEdit>("edDest0");
    edDest1 = NewControl<QLineEdit>("edDest1");
    edDest2 = NewControl<QLineEdit>("edDest2");
    btnRestore95 = NewControl<QPushButton>("btnRestore95", tr("Restore Defaults"));
    auto* files = new QVBoxLayout(TabSheet1);
    const std::pair<QString, QLineEdit*> rows[] = {
        {tr("Startup logo"), edDest0}, {tr("Wait to shut down logo"), edDest1}, {tr("Turn off logo"), edDest2}};
    for (const auto& [caption, edit] : rows) {
        auto* label = new QLabel(caption);
        label->setBuddy(edit);
        files->addWidget(label);
        files->addWidget(edit);
    }
    auto* restore = new QHBoxLayout;
    restore->addStretch();
    restore->addWidget(btnRestore95);
    files->addLayout(restore);
    files->addStretch();

    TabSheet3 = NewControl<QWidget>("TabSheet3");
    edSrc = NewControl<QLineEdit>("edSrc");
    btnRestoreStorage = NewControl<QPushButton>("btnRestoreStorage", tr("Restore Default"));
    auto* storage = new QVBoxLayout(TabSheet3);
    auto* srcLabel = new QLabel(tr("Folder where the logo candidates are stored"));
    srcLabel->setBuddy(edSrc);
    storage->addWidget(srcLabel);
    storage->addWidget(edSrc);
    auto* restoreSrc = new QHBoxLayout;
    restoreSrc->addStretch();
    restoreSrc->addWidget(btnRestoreStorage);
    storage->addLayout(restoreSrc);
    storage->addStretch();

    PageControl1 = NewControl<QTabWidget>("PageControl1");
    PageControl1->addTab(TabSheet1, tr("Windows Files"));
    PageControl1->addTab(TabSheet3, tr("Storage Folder"));
    PageControl1->addTab(SetupDriveTab_(), tr("Drive"));

    for (QPushButton* b : {btnRestore95, btnRestoreStorage, btnDriveFolder, btnDriveImage}) FitButton(b, 75, 25);

    btnOK = NewControl<QPushButton>("btnOK");
    btnCancel = NewControl<QPushButton>("btnCancel");
    SetupOkCancel(this, btnOK, btnCancel);
    auto* buttons = OkCancelRow(btnOK, btnCancel);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(10, 8, 10, 8);
    main->addWidget(labWarning);
    main->addWidget(PageControl1, 1);
    main->addLayout(buttons);
    SetClientSize(433, 307);

    connect(btnRestore95, &QPushButton::clicked, this, &TfrmLoc::btnRestore95Click);
    connect(btnRestoreStorage, &QPushButton::clicked, this, &TfrmLoc::btnRestoreStorageClick);
}

QWidget* TfrmLoc::SetupDriveTab_()
{
    TRACE("wAdvanced.TfrmLoc.SetupDriveTab_");
    TabSheet4 = NewControl<QWidget>("TabSheet4");
    edDrive = NewControl<QLineEdit>("edDrive");
    spPartition = NewControl<QSpinBox>("spPartition");
    spPartition->setRange(0, 4);
    spPartition->setSpecialValueText(tr("the one holding WINDOWS"));
    btnDriveFolder = NewControl<QPushButton>("btnDriveFolder", tr("Folder..."));
    btnDriveImage = NewControl<QPushButton>("btnDriveImage", tr("Disk Image..."));
    lvDrives = DrivesNewList("lvDrives");
    auto* box = new QVBoxLayout(TabSheet4);
    box->addWidget(lvDrives, 1);
    auto* label = new QLabel(tr("Drive root folder or disk image (raw or fixed VHD)"));
    label->setBuddy(edDrive);
    box->addWidget(label);
    box->addWidget(edDrive);
    auto* row = new QHBoxLayout;
    auto* partLabel = new QLabel(tr("Partition"));
    partLabel->setBuddy(spPartition);
    row->addWidget(partLabel);
    row->addWidget(spPartition);
    row->addStretch();
    row->addWidget(btnDriveFolder);
    row->addWidget(btnDriveImage);
    box->addLayout(row);
    connect(btnDriveFolder, &QPushButton::clicked, this, &TfrmLoc::btnDriveFolderClick);
    connect(lvDrives, &QTreeWidget::currentItemChanged, this, &TfrmLoc::lvDrivesChange);
    // The search takes a moment: only when the tab is looked at.
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (PageControl1->currentWidget() != TabSheet4 || drivesFilled_) return;
        drivesFilled_ = true;
        const QSignalBlocker quiet(lvDrives);  // the drive typed stays until one is clicked
        DrivesFillList(lvDrives, true);
    });
    connect(btnDriveImage, &QPushButton::clicked, this, &TfrmLoc::btnDriveImageClick);
    return TabSheet4;
}

void TfrmLoc::Fill()
{
    TRACE("wAdvanced.TfrmLoc.Fill");
    PageControl1->setCurrentWidget(TabSheet1);
    edDest0->setText(Path_(GetLogoFileName(POS_STARTUP)));
    edDest1->setText(Path_(GetLogoFileName(POS_WAIT)));
    edDest2->setText(Path_(GetLogoFileName(POS_TURNOFF)));
    edSrc->setText(Path_(GetStorageDir()));
    const DriveChoice& drive = DriveUseCurrent();
    edDrive->setText(Path_(drive.path.empty() ? SysDriveRoot() : drive.path));
    spPartition->setValue(drive.partition);
}

bool TfrmLoc::DriveChanged(DriveChoice& choice) const
{
    TRACE("wAdvanced.TfrmLoc.DriveChanged");
    const DriveChoice& now = DriveUseCurrent();
    const std::string typed = edDrive->text().trimmed().toStdString();
    const std::string shown = now.path.empty() ? SysDriveRoot() : now.path;
    if (typed.empty() || (typed == shown && spPartition->value() == now.partition)) return false;
    choice = DriveChoice{typed, spPartition->value(), "window"};
    return true;
}

void TfrmLoc::lvDrivesChange()
{
    TRACE("wAdvanced.TfrmLoc.lvDrivesChange");
    DriveChoice c;
    if (!DrivesItemChoice(lvDrives->currentItem(), c)) return;
    edDrive->setText(Path_(c.path));
    spPartition->setValue(c.partition);
}

void TfrmLoc::btnDriveFolderClick()
{
    TRACE("wAdvanced.TfrmLoc.btnDriveFolderClick");
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Drive Root Folder"), edDrive->text());
    if (!dir.isEmpty()) edDrive->setText(dir);
}

void TfrmLoc::btnDriveImageClick()
{
    TRACE("wAdvanced.TfrmLoc.btnDriveImageClick");
    const QString file = QFileDialog::getOpenFileName(this, tr("Disk Image"), edDrive->text(),
                                                      tr("Disk images (*.img *.ima *.raw *.vhd *.hdd *.bin);;All files (*)"));
    if (!file.isEmpty()) edDrive->setText(file);
}

void TfrmLoc::Apply()
{
    TRACE("wAdvanced.TfrmLoc.Apply");
    SetStorageDir(edSrc->text().toStdString());
    SetLogoFileName(POS_STARTUP, edDest0->text().toStdString());
    SetLogoFileName(POS_WAIT, edDest1->text().toStdString());
    SetLogoFileName(POS_TURNOFF, edDest2->text().toStdString());
}

void TfrmLoc::btnRestore95Click()
{
    TRACE("wAdvanced.TfrmLoc.btnRestore95Click");
    edDest0->setText(Path_(GetDefaultLogoFileName(POS_STARTUP)));
    edDest1->setText(Path_(GetDefaultLogoFileName(POS_WAIT)));
    edDest2->setText(Path_(GetDefaultLogoFileName(POS_TURNOFF)));
}

void TfrmLoc::btnRestoreStorageClick()
{
    TRACE("wAdvanced.TfrmLoc.btnRestoreStorageClick");
    edSrc->setText(Path_(GetDefaultStorageDir()));
}

bool SystemFilesDialog()
{
    TRACE("wAdvanced.SystemFilesDialog");
    TfrmLoc dlg(QApplication::activeWindow());
    dlg.Fill();
    if (dlg.exec() != QDialog::Accepted) return false;
    // The other pages belong to the drive open before; a new drive brings its own.
    DriveChoice drive;
    if (dlg.DriveChanged(drive)) {
        DriveUseSwitch(drive);
        // Windows may have used prepared logo sets since that drive was last opened.
        OutcomeShow(AutoChangeCatchUp());
    } else {
        dlg.Apply();
    }
    return true;
}
