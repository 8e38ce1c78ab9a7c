#include "ui/TfrmSetLogo.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtMath>

#include "base/Mon.h"

TfrmSetLogo::TfrmSetLogo(QWidget* parent) : TFormDialog(parent)
{
    TRACE("wSetLogo.TfrmSetLogo.TfrmSetLogo");
    SetupUi_();
}

static QPlainTextEdit* NewMessageBox_(const char* name)
{
    auto* memo = NewControl<QPlainTextEdit>(name);
    memo->setFixedHeight(46);
    memo->setMinimumWidth(395);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setTabChangesFocus(true);
    return memo;
}

void TfrmSetLogo::SetupUi_()
{
    TRACE("wSetLogo.TfrmSetLogo.SetupUi_");
    setObjectName("frmSetLogo");
    setWindowTitle(tr("Select Logo Position"));

    memoText = NewControl<QPlainTextEdit>("memoText");
    MakeStaticMemo(memoText, true);
    memoText->setMinimumWidth(443);
    memoText->setFixedHeight(68);

    GroupBox1 = NewControl<QGroupBox>("GroupBox1");
    chk0 = NewControl<QCheckBox>("chk0", tr("&Startup (Logo.sys)"));
    chk1 = NewControl<QCheckBox>("chk1", tr("&Waiting to shut down (LogoW.sys)"));
    chk2 = NewControl<QCheckBox>("chk2", tr("Turn &Off (LogoS.sys)"));
    memo0 = NewMessageBox_("memo0");
    memo1 = NewMessageBox_("memo1");
    memo2 = NewMessageBox_("memo2");
    auto* group = new QVBoxLayout(GroupBox1);
    const std::pair<QCheckBox*, QPlainTextEdit*> rows[] = {{chk0, memo0}, {chk1, memo1}, {chk2, memo2}};
    for (const auto& [chk, memo] : rows) {
        group->addWidget(chk);
        auto* indented = new QHBoxLayout;
        indented->addSpacing(20);
        indented->addWidget(memo);
        group->addLayout(indented);
    }

    BitBtn1 = NewControl<QPushButton>("BitBtn1");
    BitBtn2 = NewControl<QPushButton>("BitBtn2");
    SetupOkCancel(this, BitBtn1, BitBtn2);
    auto* buttons = OkCancelRow(BitBtn1, BitBtn2);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(14, 10, 14, 10);
    main->addWidget(memoText);
    main->addWidget(GroupBox1, 1);
    main->addLayout(buttons);
    SetClientSize(471, 383);

    for (QCheckBox* chk : {chk0, chk1, chk2}) connect(chk, &QCheckBox::clicked, this, &TfrmSetLogo::chkClick);
}

// The explanation box has no scroll bar worth using: it grows to its whole text at its least
// width, never below the designed height.
static void FitExplanation_(QPlainTextEdit* memo, int designedHeight)
{
    const int margin = qCeil(memo->document()->documentMargin());
    const int inside = 2 * memo->frameWidth() + 2 * margin;
    const QRect text = memo->fontMetrics().boundingRect(QRect(0, 0, memo->minimumWidth() - inside, QWIDGETSIZE_MAX),
                                                        Qt::TextWordWrap, memo->toPlainText());
    // The box counts its last line as shown only with a pixel to spare below it.
    memo->setFixedHeight(qMax(designedHeight, text.height() + inside + 1));
}

void TfrmSetLogo::Fill(const SetLogoRequest& request)
{
    TRACE("wSetLogo.TfrmSetLogo.Fill");
    memoText->setPlainText(QString::fromStdString(request.explanation));
    FitExplanation_(memoText, 68);
    chk0->setChecked(request.positions & 1);
    chk1->setChecked(request.positions & 2);
    chk2->setChecked(request.positions & 4);
    MemoSetText(memo0, request.message1);
    MemoSetText(memo1, request.message2);
    MemoSetText(memo2, request.message4);
    ApplyEnableRule();
}

void TfrmSetLogo::ReadBack(SetLogoRequest& request) const
{
    TRACE("wSetLogo.TfrmSetLogo.ReadBack");
    request.positions = (chk0->isChecked() ? 1 : 0) | (chk1->isChecked() ? 2 : 0) | (chk2->isChecked() ? 4 : 0);
    request.message1 = MemoGetText(memo0);
    request.message2 = MemoGetText(memo1);
    request.message4 = MemoGetText(memo2);
}

void TfrmSetLogo::ApplyEnableRule()
{
    TRACE("wSetLogo.TfrmSetLogo.ApplyEnableRule");
    TMemo_Enable(memo0, chk0->isChecked());
    TMemo_Enable(memo1, chk1->isChecked());
    TMemo_Enable(memo2, chk2->isChecked());
}

void TfrmSetLogo::chkClick()
{
    TRACE("wSetLogo.TfrmSetLogo.chkClick");
    ApplyEnableRule();
}

bool SetLogoDialog(SetLogoRequest& request)
{
    TRACE("wSetLogo.SetLogoDialog");
    TfrmSetLogo dlg(QApplication::activeWindow());
    dlg.Fill(request);
    if (dlg.exec() != QDialog::Accepted) return false;
    dlg.ReadBack(request);
    return true;
}
