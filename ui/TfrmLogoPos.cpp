#include "ui/TfrmLogoPos.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Mon.h"

TfrmLogoPos::TfrmLogoPos(QWidget* parent) : TFormDialog(parent)
{
    TRACE("wLogoPos.TfrmLogoPos.TfrmLogoPos");
    SetupUi_();
}

void TfrmLogoPos::SetupUi_()
{
    TRACE("wLogoPos.TfrmLogoPos.SetupUi_");
    setObjectName("frmLogoPos");
    setWindowTitle(tr("Select Logo Position"));

    memoText = NewStaticText("memoText", true, 382, 78);

    GroupBox1 = NewControl<QGroupBox>("GroupBox1");
    chk0 = NewControl<QCheckBox>("chk0", tr("&Startup (Logo.sys)"));
    chk1 = NewControl<QCheckBox>("chk1", tr("&Waiting to shut down (LogoW.sys)"));
    chk2 = NewControl<QCheckBox>("chk2", tr("Turn &Off (LogoS.sys)"));
    auto* group = new QVBoxLayout(GroupBox1);
    group->addWidget(chk0);
    group->addWidget(chk1);
    group->addWidget(chk2);

    BitBtn1 = NewControl<QPushButton>("BitBtn1");
    BitBtn2 = NewControl<QPushButton>("BitBtn2");
    SetupOkCancel(this, BitBtn1, BitBtn2);
    auto* buttons = new QVBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto* lower = new QHBoxLayout;
    lower->addWidget(GroupBox1, 1);
    lower->addLayout(buttons);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(14, 10, 14, 10);
    main->addWidget(memoText);
    main->addLayout(lower, 1);
    SetClientSize(410, 207);
}

void TfrmLogoPos::Fill(int32_t mask, const std::string& explanation)
{
    TRACE("wLogoPos.TfrmLogoPos.Fill");
    StaticTextSet(memoText, explanation);
    chk0->setChecked(mask & 1);
    chk1->setChecked(mask & 2);
    chk2->setChecked(mask & 4);
}

int32_t TfrmLogoPos::ReadBack() const
{
    TRACE("wLogoPos.TfrmLogoPos.ReadBack");
    return (chk0->isChecked() ? 1 : 0) | (chk1->isChecked() ? 2 : 0) | (chk2->isChecked() ? 4 : 0);
}

bool LogoPosDialog(int32_t& mask, const std::string& explanation)
{
    TRACE("wLogoPos.LogoPosDialog");
    TfrmLogoPos dlg(QApplication::activeWindow());
    dlg.Fill(mask, explanation);
    if (dlg.exec() != QDialog::Accepted) return false;
    mask = dlg.ReadBack();
    return true;
}
