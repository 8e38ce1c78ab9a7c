#include "ui/DialogBase.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QScreen>
#include <QShowEvent>

#include "base/Mon.h"
#include "ui/DialogUtil.h"

TFormBasic::TFormBasic(QWidget* parent) : QDialog(parent)
{
    TRACE("wFormBasic.TFormBasic.TFormBasic");
    // The system's dialog font stands in for "MS Sans Serif" 8 points.
}

void TFormBasic::SetClientSize(int width, int height)
{
    TRACE("wFormBasic.TFormBasic.SetClientSize");
    resize(width, height);
    setSizeGripEnabled(false);
}

TFormDialog::TFormDialog(QWidget* parent) : TFormBasic(parent)
{
    TRACE("wFormDialog.TFormDialog.TFormDialog");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
}

void TFormDialog::showEvent(QShowEvent* event)
{
    TRACE("wFormDialog.TFormDialog.showEvent");
    TFormBasic::showEvent(event);
    if (event->spontaneous()) return;
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void MakeStaticMemo(QPlainTextEdit* memo, bool border)
{
    TRACE("wFormBasic.MakeStaticMemo");
    memo->setReadOnly(true);
    memo->setFocusPolicy(Qt::NoFocus);
    memo->setTabChangesFocus(true);
    if (!border) memo->setFrameShape(QFrame::NoFrame);
    QPalette p = memo->palette();
    const QColor face = QApplication::palette(memo).color(QPalette::Active, QPalette::Button);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) p.setColor(g, QPalette::Base, face);
    memo->setPalette(p);
}

QLabel* NewStaticText(const char* name, bool border, int width, int height)
{
    TRACE("wFormBasic.NewStaticText");
    auto* label = NewControl<QLabel>(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    label->setMargin(4);
    if (border) label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setAutoFillBackground(true);
    label->setBackgroundRole(QPalette::Button);
    label->setMinimumSize(width, height);
    label->setProperty("designedHeight", height);
    return label;
}

void StaticTextSet(QLabel* label, const std::string& text)
{
    TRACE("wFormBasic.StaticTextSet");
    label->setText(WinToQ(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    FitWrappedLabel(label);
}

void FitWrappedLabel(QLabel* label)
{
    TRACE("wFormBasic.FitWrappedLabel");
    // The label is never narrower than its minimum width, so this height always holds the text.
    const int designed = label->property("designedHeight").toInt();
    label->setMinimumHeight(qMax(designed, label->heightForWidth(label->minimumWidth())));
}

void FitButton(QPushButton* button, int width, int height)
{
    TRACE("wFormBasic.FitButton");
    const QFontMetrics fm(button->font());
    const QString caption = QString(button->text()).remove(QLatin1Char('&'));
    const int padded = fm.horizontalAdvance(caption) + 2 * fm.height() + (button->icon().isNull() ? 0 : 20);
    button->setMinimumSize(button->sizeHint().expandedTo(QSize(qMax(width, padded), height)));
}

void SetupOkCancel(QDialog* dialog, QPushButton* ok, QPushButton* cancel)
{
    TRACE("wFormBasic.SetupOkCancel");
    ok->setText(QObject::tr("OK"));
    ok->setIcon(dialog->style()->standardIcon(QStyle::SP_DialogOkButton));
    ok->setDefault(true);
    FitButton(ok, 84, 28);
    cancel->setText(QObject::tr("Cancel"));
    cancel->setIcon(dialog->style()->standardIcon(QStyle::SP_DialogCancelButton));
    FitButton(cancel, 84, 28);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

QHBoxLayout* OkCancelRow(QPushButton* ok, QPushButton* cancel)
{
    TRACE("wFormBasic.OkCancelRow");
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}
