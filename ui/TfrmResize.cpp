#include "ui/TfrmResize.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <tuple>

#include "base/Mon.h"
#include "core/Names.h"
#include "core/Settings.h"

static const char* const MODE_TEXT_[3] = {
    "SHOW ENTIRE IMAGE, proportional resizing\r\n(good for pictures of people, cars, houses, etc).\r\n\r\n"
    "This mode is useful if you want to keep original proportions, but don't want to lose any part of the "
    "image. Original proportions are kept by adding vertical or horizontal borders.",
    "FILL THE SCREEN, proportional resizing\r\n(good for landscapes).\r\n\r\n"
    "The image is resized to cover the entire screen and proportions are kept by cutting off margins either "
    "vertically or horizontally. In most cases that means only the central part of the picture remains visible.",
    "SIMPLE STRETCH\r\n(good for abstract textures).\r\n\r\n"
    "The image is stretched (or shrunk) to fill the screen. Original proportions are NOT preserved meaning "
    "that objects on the picture may look distorted, but for abstract images that's not so important.",
};

// The example photo: upright, 3:4, in a 90 x 120 frame of its own; the painter's transform places
// it. A 4:3 photo would come out the same in every mode, so it could not show them apart.
static void DrawPhoto_(QPainter& p)
{
    TRACE("wResize.DrawPhoto_");
    QLinearGradient sky(0, 0, 0, 80);
    sky.setColorAt(0, QColor(40, 90, 200));
    sky.setColorAt(1, QColor(170, 210, 250));
    p.save();
    p.setClipRect(QRectF(0, 0, 90, 120), Qt::IntersectClip);
    p.fillRect(QRectF(0, 0, 90, 120), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 210, 40));
    p.drawEllipse(QPointF(68, 22), 11, 11);
    p.setBrush(QColor(60, 150, 60));
    p.drawEllipse(QRectF(-30, 88, 150, 70));
    p.setBrush(QColor(110, 70, 40));
    p.drawRect(QRectF(38, 58, 12, 40));
    p.setBrush(QColor(30, 110, 40));
    p.drawEllipse(QPointF(44, 50), 22, 24);
    p.restore();
}

// Draws the photo into target, the painter's transform set to map its 90 x 120 frame there.
static void PhotoInto_(QPainter& p, const QRectF& target)
{
    p.save();
    p.translate(target.topLeft());
    p.scale(target.width() / 90, target.height() / 120);
    DrawPhoto_(p);
    p.restore();
}

QImage ResizeModePicture(int mode)
{
    TRACE("wResize.ResizeModePicture");
    QImage img(RESIZE_PICTURE_WIDTH, RESIZE_PICTURE_HEIGHT, QImage::Format_RGB32);
    img.fill(QColor(212, 208, 200));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Left the photo as taken, right the screen as Windows shows the logo: 4:3.
    const QRectF source(2, 24, 24, 32);
    PhotoInto_(p, source);
    p.setPen(QPen(QColor(64, 64, 64), 1.5));
    p.drawLine(QPointF(28, 40), QPointF(33, 40));
    p.drawLine(QPointF(31, 37.5), QPointF(33.5, 40));
    p.drawLine(QPointF(31, 42.5), QPointF(33.5, 40));
    const QRectF screen(35, 17.5, 60, 45);
    p.fillRect(screen, Qt::black);
    if (mode == 0) {
        const double w = screen.height() * 90 / 120;
        PhotoInto_(p, QRectF(screen.center().x() - w / 2, screen.top(), w, screen.height()));
    } else if (mode == 1) {
        const double h = screen.width() * 120 / 90;
        const QRectF whole(screen.left(), screen.center().y() - h / 2, screen.width(), h);
        // the cut-off margins faintly, the visible part in full
        p.setOpacity(0.3);
        PhotoInto_(p, whole);
        p.setOpacity(1.0);
        p.setClipRect(screen);
        PhotoInto_(p, whole);
        p.setClipping(false);
    } else {
        PhotoInto_(p, screen);
    }
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(screen.adjusted(-0.5, -0.5, 0.5, 0.5));
    return img;
}

TfrmResize::TfrmResize(QWidget* parent) : TFormBasic(parent)
{
    TRACE("wResize.TfrmResize.TfrmResize");
    SetupUi_();
}

static QLabel* NewModeText_(const char* name, int mode)
{
    QLabel* memo = NewStaticText(name, false, 306, 80);
    StaticTextSet(memo, MODE_TEXT_[mode]);
    return memo;
}

static QLabel* NewModePicture_(const char* name, int mode)
{
    auto* pic = NewControl<QLabel>(name);
    pic->setPixmap(QPixmap::fromImage(ResizeModePicture(mode)));
    pic->setFixedSize(RESIZE_PICTURE_WIDTH, RESIZE_PICTURE_HEIGHT);
    return pic;
}

static QFrame* NewLine_()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

void TfrmResize::SetupUi_()
{
    TRACE("wResize.TfrmResize.SetupUi_");
    setObjectName("frmResize");
    setWindowTitle(tr("Choose Resize Mode"));
    labTitle = NewControl<QLabel>("labTitle", tr("How do you want the picture to be resized:"));
    radBorder = NewControl<QRadioButton>("radBorder");
    radCrop = NewControl<QRadioButton>("radCrop");
    radStretch = NewControl<QRadioButton>("radStretch");
    imgBorder = NewModePicture_("imgBorder", 0);
    imgCrop = NewModePicture_("imgCrop", 1);
    imgStretch = NewModePicture_("imgStretch", 2);
    memoBorder = NewModeText_("memoBorder", 0);
    memoCrop = NewModeText_("memoCrop", 1);
    memoStretch = NewModeText_("memoStretch", 2);
    grpModes_ = new QButtonGroup(this);

    auto* rows = new QGridLayout;
    rows->setColumnStretch(2, 1);
    const std::tuple<QRadioButton*, QLabel*, QLabel*> table[] = {
        {radBorder, imgBorder, memoBorder}, {radCrop, imgCrop, memoCrop}, {radStretch, imgStretch, memoStretch}};
    int r = 0;
    for (const auto& [rad, img, memo] : table) {
        if (r > 0) rows->addWidget(NewLine_(), r++, 0, 1, 3);
        grpModes_->addButton(rad);
        rad->setAccessibleName(memo->text().section('\n', 0, 0));
        rows->addWidget(rad, r, 0);
        rows->addWidget(img, r, 1);
        rows->addWidget(memo, r, 2);
        r++;
    }

    boxPrefix = NewControl<QGroupBox>("boxPrefix", tr("Filename Prefix"));
    edPrefix = NewControl<QLineEdit>("edPrefix");
    auto* prefix = new QHBoxLayout(boxPrefix);
    prefix->addWidget(edPrefix);

    btnOK = NewControl<QPushButton>("btnOK");
    btnCancel = NewControl<QPushButton>("btnCancel");
    SetupOkCancel(this, btnOK, btnCancel);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(boxPrefix, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    bottom->addLayout(buttons);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(12, 10, 12, 10);
    main->addWidget(labTitle);
    main->addLayout(rows);
    main->addStretch();
    main->addLayout(bottom);
    SetClientSize(485, 393);
}

void TfrmResize::Fill()
{
    TRACE("wResize.TfrmResize.Fill");
    QRadioButton* const rad[3] = {radBorder, radCrop, radStretch};
    // an exclusive group keeps one button checked; none is checked for an unknown mode
    grpModes_->setExclusive(false);
    for (QRadioButton* b : rad) b->setChecked(false);
    grpModes_->setExclusive(true);
    if (ResizeMode >= 0 && ResizeMode <= 2) rad[ResizeMode]->setChecked(true);
    edPrefix->setText(QString::fromStdString(SanitizeName(DefPrefix, false)));
}

void TfrmResize::ReadBack()
{
    TRACE("wResize.TfrmResize.ReadBack");
    ResizeMode = radCrop->isChecked() ? 1 : radStretch->isChecked() ? 2 : 0;
    DefPrefix = SanitizeName(edPrefix->text().toStdString(), false);
}

bool ResizeModeDialog()
{
    TRACE("wResize.ResizeModeDialog");
    TfrmResize dlg(QApplication::activeWindow());
    dlg.Fill();
    if (dlg.exec() != QDialog::Accepted) return false;
    dlg.ReadBack();
    return true;
}
