#include "ui/TfrmOptions.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

#include "base/Mon.h"
#include "base/UiServices.h"
#include "core/LogoBuilder.h"
#include "core/Options.h"
#include "core/ProgramDir.h"
#include "core/Settings.h"

OptionsWorkCopy OptionsWork;

std::string OptionsFontText(const OptionsWorkCopy& work)
{
    TRACE("wOptions.OptionsFontText");
    std::string text = work.font.Name + ", size " + std::to_string(work.font.Size);
    if (work.font.Bold) text += ", bold";
    if (work.font.Italic) text += ", italic";
    if (work.font.Underline) text += ", underline";
    if (work.font.Strikeout) text += ", strikeout";
    return text;
}

void OptionsTakeFont(OptionsWorkCopy& work, const std::string& name, bool bold, bool italic, bool underline,
                     bool strikeout, int32_t size, int32_t charSet)
{
    TRACE("wOptions.OptionsTakeFont");
    work.font.Name = name;
    work.font.Bold = bold;
    work.font.Italic = italic;
    work.font.Underline = underline;
    work.font.Strikeout = strikeout;
    work.font.Size = std::clamp<int32_t>(size, 6, 72);
    work.font.CharSet = charSet;
}

// ---------------------------------------------------------------- colour swatch

TColorSwatch::TColorSwatch(QWidget* parent) : QFrame(parent)
{
    TRACE("wOptions.TColorSwatch.TColorSwatch");
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setFixedSize(64, 24);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
    SetColor(0);
}

void TColorSwatch::SetColor(int32_t color)
{
    TRACE("wOptions.TColorSwatch.SetColor");
    color_ = color;
    QPalette p = palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(g, QPalette::Window, WinColorToQColor(color));
    setPalette(p);
}

void TColorSwatch::mouseReleaseEvent(QMouseEvent* event)
{
    TRACE("wOptions.TColorSwatch.mouseReleaseEvent");
    QFrame::mouseReleaseEvent(event);
    if (isEnabled() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

// ---------------------------------------------------------------- the dialog

TfrmOptions::TfrmOptions(QWidget* parent) : TFormDialog(parent)
{
    TRACE("wOptions.TfrmOptions.TfrmOptions");
    SetupUi_();
}

static QPlainTextEdit* NewMessageList_(const char* name)
{
    auto* memo = NewControl<QPlainTextEdit>(name);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setMinimumSize(403, 265);
    // A fixed-pitch face of character height 12 stands in for "Fixedsys".
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPixelSize(12);
    memo->setFont(f);
    return memo;
}

static QWidget* MessageTab_(const char* name, QCheckBox* chk, QPlainTextEdit* memo)
{
    auto* tab = NewControl<QWidget>(name);
    auto* v = new QVBoxLayout(tab);
    v->addWidget(chk);
    v->addWidget(memo, 1);
    return tab;
}

// A line that runs off the logo's right edge is cut there: the warning under its list says which.
static void ShowFitWarning_(QPlainTextEdit* memo, const OptionsWorkCopy& work)
{
    auto* warn = memo->parentWidget()->findChild<QLabel*>(memo->objectName() + QStringLiteral("Fit"));
    if (!warn) return;
    const std::vector<std::string> past = LogoMessageLinesPastEdge(MemoGetText(memo), work.font);
    warn->setVisible(!past.empty());
    if (past.empty()) return;
    std::string text = "Runs off the logo's right edge: \"" + past.front() + "\"";
    if (past.size() > 1) text += " and " + std::to_string(past.size() - 1) + " more";
    warn->setText(WinToQ(text));
}

static QHBoxLayout* SwatchRow_(TColorSwatch* swatch, const QString& label)
{
    auto* row = new QHBoxLayout;
    row->addWidget(swatch);
    row->addWidget(new QLabel(label));
    row->addStretch();
    return row;
}

void TfrmOptions::SetupUi_()
{
    TRACE("wOptions.TfrmOptions.SetupUi_");
    setObjectName("frmOptions");
    setWindowTitle(tr("Options"));

    // General
    TabSheet1 = NewControl<QWidget>("TabSheet1");
    chkAutoStart = NewControl<QCheckBox>("chkAutoStart", tr("Change logos each time your system starts up"));
    QFont bold = chkAutoStart->font();
    bold.setBold(true);
    chkAutoStart->setFont(bold);
    // What happens where, as the checkbox's tooltip: the tab has no room for a paragraph.
    chkAutoStart->setToolTip(
        tr("On the drive of a real Windows 95 or 98 the change happens in DOS, before Windows loads: a "
           "line at the end of AUTOEXEC.BAT puts the next of the logo sets prepared in the Windows "
           "folder (KVSROT) in place. The Startup logo you see is the one put in place at the start "
           "before; the Wait and Turn Off logos change within the same start. The program counts the "
           "sets Windows used and prepares new ones whenever it changes the drive. Turning this off "
           "takes the line and the sets away again."));
    edAutoSets = NewControl<QSpinBox>("edAutoSets");
    edAutoSets->setRange(AUTOCHANGE_SETS_MIN, AUTOCHANGE_SETS_MAX);
    edAutoSets->setToolTip(tr("How many starts the prepared logo sets last (fewer when the drive lacks room)"));
    auto* autoSets = new QHBoxLayout;
    auto* lblAutoSets = new QLabel(tr("Logo sets prepared ahead (one for each start):"));
    lblAutoSets->setToolTip(chkAutoStart->toolTip());
    autoSets->addWidget(lblAutoSets);
    autoSets->addWidget(edAutoSets);
    autoSets->addStretch();

    boxFont = NewControl<QGroupBox>("boxFont", tr("Message Font"));
    edFont = NewControl<QLineEdit>("edFont");
    edFont->setReadOnly(true);
    edFont->setFocusPolicy(Qt::NoFocus);
    {
        QPalette p = edFont->palette();
        p.setColor(QPalette::Base, QApplication::palette(edFont).color(QPalette::Active, QPalette::Button));
        edFont->setPalette(p);
    }
    btnFontSelect = NewControl<QPushButton>("btnFontSelect", tr("Choose..."));
    FitButton(btnFontSelect, 75, 25);
    panTextColor1 = NewControl<TColorSwatch>("panTextColor1");
    panTextColor2 = NewControl<TColorSwatch>("panTextColor2");
    auto* fontGrid = new QGridLayout(boxFont);
    fontGrid->addWidget(edFont, 0, 0);
    fontGrid->addWidget(btnFontSelect, 0, 1);
    auto* swatches = new QHBoxLayout;
    swatches->addLayout(SwatchRow_(panTextColor1, tr("Text Color")));
    swatches->addLayout(SwatchRow_(panTextColor2, tr("Shadow Color")));
    fontGrid->addLayout(swatches, 1, 0, 1, 2);

    radMsgPick = NewControl<QGroupBox>("radMsgPick", tr("Message Pick Method"));
    radMsgPick0 = NewControl<QRadioButton>("radMsgPick0", tr("Sequential"));
    radMsgPick1 = NewControl<QRadioButton>("radMsgPick1", tr("Random"));
    radMsgPick2 = NewControl<QRadioButton>("radMsgPick2", tr("First Message Only"));
    auto* msgPick = new QVBoxLayout(radMsgPick);
    for (QRadioButton* r : {radMsgPick0, radMsgPick1, radMsgPick2}) msgPick->addWidget(r);
    msgPick->addStretch();

    radLogoPick = NewControl<QGroupBox>("radLogoPick", tr("Logo Pick Method"));
    radLogoPick0 = NewControl<QRadioButton>("radLogoPick0", tr("Sequential"));
    radLogoPick1 = NewControl<QRadioButton>("radLogoPick1", tr("Random"));
    auto* logoPick = new QVBoxLayout(radLogoPick);
    logoPick->addWidget(radLogoPick0);
    logoPick->addWidget(radLogoPick1);
    logoPick->addStretch();

    auto* general = new QVBoxLayout(TabSheet1);
    general->addWidget(chkAutoStart);
    general->addLayout(autoSets);
    general->addWidget(boxFont);
    auto* picks = new QHBoxLayout;
    picks->addWidget(radMsgPick);
    picks->addWidget(radLogoPick);
    general->addLayout(picks);
    general->addStretch();

    // The three message tabs
    chkMsg0 = NewControl<QCheckBox>("chkMsg0", tr("Display \"Startup\" Message"));
    chkMsg1 = NewControl<QCheckBox>("chkMsg1", tr("Display \"Wait To Shut Down\" Message"));
    chkMsg2 = NewControl<QCheckBox>("chkMsg2", tr("Display \"Turn Off\" Message"));
    memo0 = NewMessageList_("memo0");
    memo1 = NewMessageList_("memo1");
    memo2 = NewMessageList_("memo2");
    TabSheet2 = MessageTab_("TabSheet2", chkMsg0, memo0);
    tabShutDown = MessageTab_("tabShutDown", chkMsg1, memo1);
    TabSheet4 = MessageTab_("TabSheet4", chkMsg2, memo2);
    for (QPlainTextEdit* memo : {memo0, memo1, memo2}) {
        auto* warn = new QLabel(memo->parentWidget());
        warn->setObjectName(memo->objectName() + QStringLiteral("Fit"));
        warn->setTextFormat(Qt::PlainText);
        warn->setWordWrap(true);
        warn->setVisible(false);
        memo->parentWidget()->layout()->addWidget(warn);
        connect(memo, &QPlainTextEdit::textChanged, this, [this, memo] { ShowFitWarning_(memo, Font); });
    }

    // Animation
    tabAnim = NewControl<QWidget>("tabAnim");
    chkAnimEnabled = NewControl<QCheckBox>("chkAnimEnabled", tr("Enable Startup Animation"));
    boxAnimOptions = NewControl<QGroupBox>("boxAnimOptions", tr("Animation Options"));
    lstAnimShape = NewControl<QComboBox>("lstAnimShape");
    lstAnimMove = NewControl<QComboBox>("lstAnimMove");
    lstAnimShape->setEditable(false);
    lstAnimMove->setEditable(false);
    panAnimColor1 = NewControl<TColorSwatch>("panAnimColor1");
    panAnimColor2 = NewControl<TColorSwatch>("panAnimColor2");
    auto* anim = new QGridLayout(boxAnimOptions);
    anim->addWidget(new QLabel(tr("Shape")), 0, 0);
    anim->addWidget(lstAnimShape, 0, 1);
    anim->addWidget(new QLabel(tr("Color Mix")), 1, 0);
    anim->addWidget(lstAnimMove, 1, 1);
    auto* animColors = new QHBoxLayout;
    animColors->addLayout(SwatchRow_(panAnimColor1, tr("Color 1")));
    animColors->addLayout(SwatchRow_(panAnimColor2, tr("Color 2")));
    anim->addLayout(animColors, 2, 0, 1, 2);
    anim->setColumnStretch(1, 1);
    auto* animTab = new QVBoxLayout(tabAnim);
    animTab->addWidget(chkAnimEnabled);
    animTab->addWidget(boxAnimOptions);
    animTab->addStretch();

    PageControl1 = NewControl<QTabWidget>("PageControl1");
    PageControl1->addTab(TabSheet1, tr("General"));
    PageControl1->addTab(TabSheet2, tr("Startup"));
    PageControl1->addTab(tabShutDown, tr("Shut Down"));
    PageControl1->addTab(TabSheet4, tr("Turn Off"));
    PageControl1->addTab(tabAnim, tr("Animation"));

    btnOK = NewControl<QPushButton>("btnOK");
    btnCancel = NewControl<QPushButton>("btnCancel");
    SetupOkCancel(this, btnOK, btnCancel);
    auto* buttons = OkCancelRow(btnOK, btnCancel);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(0, 0, 8, 8);
    main->addWidget(PageControl1, 1);
    main->addLayout(buttons);
    SetClientSize(426, 397);

    // Signals
    connect(btnFontSelect, &QPushButton::clicked, this, &TfrmOptions::btnFontSelectClick);
    connect(chkAnimEnabled, &QCheckBox::clicked, this, &TfrmOptions::chkAnimEnabledClick);
    for (QCheckBox* chk : {chkMsg0, chkMsg1, chkMsg2}) connect(chk, &QCheckBox::clicked, this, &TfrmOptions::ApplyMessageRule_);
    for (TColorSwatch* s : {panTextColor1, panTextColor2, panAnimColor1, panAnimColor2})
        connect(s, &TColorSwatch::clicked, this, [this, s] { PanColorClick_(s); });
}

void TfrmOptions::Fill(const OptionsWorkCopy& work)
{
    TRACE("wOptions.TfrmOptions.Fill");
    Font = work;
    PageControl1->setCurrentWidget(TabSheet1);
    chkAutoStart->setChecked(work.autoChange);
    edAutoSets->setValue(std::clamp<int32_t>(AutoChangeSets, AUTOCHANGE_SETS_MIN, AUTOCHANGE_SETS_MAX));
    (LogoPickMethod == 1 ? radLogoPick1 : radLogoPick0)->setChecked(true);
    (MsgPickMethod == 1 ? radMsgPick1 : MsgPickMethod == 2 ? radMsgPick2 : radMsgPick0)->setChecked(true);

    chkAnimEnabled->setChecked(AnimEnabled);
    lstAnimShape->clear();
    for (const SettingsItem& item : AnimShapeItems) lstAnimShape->addItem(QString::fromLatin1(item.caption), item.value);
    lstAnimMove->clear();
    for (const SettingsItem& item : AnimMoveItems) lstAnimMove->addItem(QString::fromLatin1(item.caption), item.value);
    lstAnimShape->setCurrentIndex(NearestItem(AnimShapeItems, 3, AnimShape));
    lstAnimMove->setCurrentIndex(NearestItem(AnimMoveItems, 2, AnimMove));
    panAnimColor1->SetColor(AnimColor1);
    panAnimColor2->SetColor(AnimColor2);
    TWinControl_Enable(boxAnimOptions, AnimEnabled);

    ShowFontText_(OptionsFontText(work));
    panTextColor1->SetColor(work.textColor);
    panTextColor2->SetColor(work.textBorderColor);

    MemoSetText(memo0, work.messages1);
    MemoSetText(memo1, work.messages2);
    MemoSetText(memo2, work.messages4);
    chkMsg0->setChecked(Msg0Enabled);
    chkMsg1->setChecked(Msg1Enabled);
    chkMsg2->setChecked(Msg2Enabled);
    ApplyMessageRule_();
}

void TfrmOptions::ReadBack(OptionsWorkCopy& work)
{
    TRACE("wOptions.TfrmOptions.ReadBack");
    // The font fields come from the font dialog's results, the rest from the controls.
    work.font = Font.font;
    work.autoChange = chkAutoStart->isChecked();
    work.textColor = panTextColor1->Color();
    work.textBorderColor = panTextColor2->Color();
    work.messages1 = MemoGetText(memo0);
    work.messages2 = MemoGetText(memo1);
    work.messages4 = MemoGetText(memo2);

    AutoChangeSets = edAutoSets->value();
    LogoPickMethod = radLogoPick1->isChecked() ? 1 : 0;
    MsgPickMethod = radMsgPick1->isChecked() ? 1 : radMsgPick2->isChecked() ? 2 : 0;
    AnimEnabled = chkAnimEnabled->isChecked();
    const int shape = lstAnimShape->currentIndex();
    if (shape >= 0) AnimShape = AnimShapeItems[shape].value;
    const int move = lstAnimMove->currentIndex();
    if (move >= 0) AnimMove = AnimMoveItems[move].value;
    AnimColor1 = panAnimColor1->Color();
    AnimColor2 = panAnimColor2->Color();
    Msg0Enabled = chkMsg0->isChecked();
    Msg1Enabled = chkMsg1->isChecked();
    Msg2Enabled = chkMsg2->isChecked();
}

void TfrmOptions::ApplyMessageRule_()
{
    TRACE("wOptions.TfrmOptions.ApplyMessageRule_");
    TMemo_Enable(memo0, chkMsg0->isChecked());
    TMemo_Enable(memo1, chkMsg1->isChecked());
    TMemo_Enable(memo2, chkMsg2->isChecked());
}

void TfrmOptions::chkAnimEnabledClick()
{
    TRACE("wOptions.TfrmOptions.chkAnimEnabledClick");
    TWinControl_Enable(boxAnimOptions, chkAnimEnabled->isChecked());
}

void TfrmOptions::btnFontSelectClick()
{
    TRACE("wOptions.TfrmOptions.btnFontSelectClick");
    QFont f(WinToQ(Font.font.Name));
    if (Font.font.Size > 0) f.setPointSize(Font.font.Size);
    f.setBold(Font.font.Bold);
    f.setItalic(Font.font.Italic);
    f.setUnderline(Font.font.Underline);
    f.setStrikeOut(Font.font.Strikeout);
    // A font that is not installed is preset as the face fontconfig draws it with: the dialog
    // lists that face with its styles, so bold and italic survive an OK.
    const QString substitute = QFontInfo(f).family();
    f.setFamily(substitute);
    bool ok = false;
    QFont chosen = QFontDialog::getFont(&ok, f, this, tr("Font"));
    if (!ok) return;
    int size = chosen.pointSize();
    if (size <= 0 && chosen.pixelSize() > 0) size = chosen.pixelSize() * 72 / 96;
    // The substitute kept means the font asked for is kept: the messages are drawn with it anyway.
    const std::string name =
        chosen.family() == substitute ? Font.font.Name : QToWin(chosen.family());
    // The toolkit's fonts carry no Windows character set: the old one stays.
    OptionsTakeFont(Font, name, chosen.bold(), chosen.italic(), chosen.underline(), chosen.strikeOut(), size,
                    Font.font.CharSet);
    ShowFontText_(OptionsFontText(Font));
}

// The line cannot be scrolled (it takes no focus): a description too long for it shows whole
// in the tooltip.
void TfrmOptions::ShowFontText_(const std::string& text)
{
    edFont->setText(WinToQ(text));
    edFont->setCursorPosition(0);
    edFont->setToolTip(WinToQ(text));
    for (QPlainTextEdit* memo : {memo0, memo1, memo2}) ShowFitWarning_(memo, Font);
}

void TfrmOptions::PanColorClick_(TColorSwatch* swatch)
{
    TRACE("wOptions.TfrmOptions.PanColorClick_");
    // an error must not leave a slot: it is shown here and the old colour stays
    try {
        swatch->SetColor(ColorPickDlg(swatch->Color(), GetProgramDir() + SETTINGS_FILE, SETTINGS_SECTION));
    } catch (const std::exception& e) {
        ErrorBox(e.what());
    }
}

bool OptionsDialog()
{
    TRACE("wOptions.OptionsDialog");
    OptionsFillWorkCopy(OptionsWork);
    {
        TfrmOptions dlg(QApplication::activeWindow());
        dlg.Fill(OptionsWork);
        if (dlg.exec() != QDialog::Accepted) return false;
        dlg.ReadBack(OptionsWork);
    }
    const Outcome o = OptionsApplyWorkCopy(OptionsWork);
    OutcomeShow(o);
    return OutcomeOk(o);
}
