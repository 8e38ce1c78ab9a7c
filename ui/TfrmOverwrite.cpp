#include "ui/TfrmOverwrite.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

#include "base/Mon.h"

static constexpr int MEMO_WIDTH = 477;

TfrmOverwrite::TfrmOverwrite(QWidget* parent) : TFormDialog(parent)
{
    TRACE("wOverwrite.TfrmOverwrite.TfrmOverwrite");
    SetupUi_();
}

void TfrmOverwrite::SetupUi_()
{
    TRACE("wOverwrite.TfrmOverwrite.SetupUi_");
    setObjectName("frmOverwrite");
    memo1 = NewControl<QPlainTextEdit>("memo1");
    MakeStaticMemo(memo1, false);
    memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Six lines of the real font fit before the scroll bar rule takes over.
    const int sixLines = 6 * QFontMetrics(memo1->font()).lineSpacing() +
                         2 * static_cast<int>(memo1->document()->documentMargin()) + 2;
    memo1->setFixedSize(MEMO_WIDTH, std::max(87, sixLines));

    struct ButtonDef {
        QPushButton** member;
        const char* name;
        const char* caption;
        int choice;
    };
    const ButtonDef defs[] = {
        {&btnOvr, "btnOvr", "&Overwrite", 1},          {&btnOvrAll, "btnOvrAll", "Overwrite All", 4},
        {&btnSkip, "btnSkip", "&Skip", 2},             {&btnSkipAll, "btnSkipAll", "Skip All Dupl.", 5},
        {&btnRename, "btnRename", "&Rename", 3},       {&btnAbort, "btnAbort", "A&bort", 6},
    };
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    for (const ButtonDef& d : defs) {
        QPushButton* b = NewControl<QPushButton>(d.name, tr(d.caption));
        FitButton(b, 75, 25);
        b->setAutoDefault(false);
        const int choice = d.choice;
        connect(b, &QPushButton::clicked, this, [this, choice] {
            Choice = choice;
            accept();
        });
        buttons->addWidget(b);
        *d.member = b;
    }

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(12, 10, 12, 10);
    main->addWidget(memo1, 0, Qt::AlignHCenter);
    main->addStretch();
    main->addLayout(buttons);
    SetClientSize(512, 164);
}

int TfrmOverwrite::WrappedLines(const QString& text) const
{
    TRACE("wOverwrite.TfrmOverwrite.WrappedLines");
    const int width = MEMO_WIDTH - 2 * static_cast<int>(memo1->document()->documentMargin());
    QFontMetrics fm(memo1->font());
    const QRect r = fm.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text);
    return std::max(1, (r.height() + fm.lineSpacing() / 2) / fm.lineSpacing());
}

void TfrmOverwrite::Fill(const std::string& caption, const std::string& text)
{
    TRACE("wOverwrite.TfrmOverwrite.Fill");
    setWindowTitle(QString::fromStdString(caption));
    QString t = QString::fromStdString(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const int lines = WrappedLines(t);
    memo1->setVerticalScrollBarPolicy(lines > 6 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    if (lines < 3) t.prepend(QLatin1Char('\n'));
    memo1->setPlainText(t);
    Choice = 6;
}

int OverwriteDialog(const std::string& caption, const std::string& text)
{
    TRACE("wOverwrite.OverwriteDialog");
    TfrmOverwrite dlg(QApplication::activeWindow());
    dlg.Fill(caption, text);
    dlg.exec();
    return dlg.Choice;
}
