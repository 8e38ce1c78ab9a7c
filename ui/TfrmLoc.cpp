#include "ui/TfrmLoc.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "base/Mon.h"
#include "core/Settings.h"

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

void TfrmLoc::Fill()
{
    TRACE("wAdvanced.TfrmLoc.Fill");
    PageControl1->setCurrentWidget(TabSheet1);
    edDest0->setText(Path_(GetLogoFileName(POS_STARTUP)));
    edDest1->setText(Path_(GetLogoFileName(POS_WAIT)));
    edDest2->setText(Path_(GetLogoFileName(POS_TURNOFF)));
    edSrc->setText(Path_(GetStorageDir()));
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
    dlg.Apply();
    return true;
}
