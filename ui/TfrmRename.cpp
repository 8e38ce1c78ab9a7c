#include "ui/TfrmRename.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Mon.h"

TfrmRename::TfrmRename(QWidget* parent) : TFormDialog(parent)
{
    TRACE("wRename.TfrmRename.TfrmRename");
    SetupUi_();
}

void TfrmRename::SetupUi_()
{
    TRACE("wRename.TfrmRename.SetupUi_");
    setObjectName("frmRename");
    labSubTitle = NewControl<QLabel>("labSubTitle");
    edNewName = NewControl<QLineEdit>("edNewName");
    edNewName->setMinimumWidth(293);
    labSubTitle->setBuddy(edNewName);
    BitBtn1 = NewControl<QPushButton>("BitBtn1");
    BitBtn2 = NewControl<QPushButton>("BitBtn2");
    SetupOkCancel(this, BitBtn1, BitBtn2);

    auto* buttons = OkCancelRow(BitBtn1, BitBtn2);
    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(16, 12, 16, 12);
    main->addWidget(labSubTitle);
    main->addWidget(edNewName);
    main->addStretch();
    main->addLayout(buttons);
    SetClientSize(326, 123);
}

void TfrmRename::Fill(const std::string& caption, const std::string& label, const std::string& text)
{
    TRACE("wRename.TfrmRename.Fill");
    setWindowTitle(QString::fromStdString(caption));
    labSubTitle->setText(QString::fromStdString(label));
    edNewName->setText(QString::fromStdString(text));
    edNewName->selectAll();
    edNewName->setFocus();
}

std::string TfrmRename::ReadBack() const
{
    TRACE("wRename.TfrmRename.ReadBack");
    return edNewName->text().toStdString();
}

bool PromptText(const std::string& caption, const std::string& label, std::string& text)
{
    TRACE("wRename.PromptText");
    TfrmRename dlg(QApplication::activeWindow());
    dlg.Fill(caption, label, text);
    if (dlg.exec() != QDialog::Accepted) return false;
    text = dlg.ReadBack();
    return true;
}
