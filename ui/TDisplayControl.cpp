#include "ui/TDisplayControl.h"

#include <cstring>

#include <QPainter>

#include "base/Mon.h"
#include "ui/ImgDisplay.h"

TDisplayControl::TDisplayControl(QWidget* parent) : QWidget(parent)
{
    TRACE("ctldisplay.TDisplayControl");
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TDisplayControl::~TDisplayControl()
{
    ImgFree(image);
}

static void DisplayReleaseImage_(TDisplayControl* control)
{
    TRACE("ctldisplay._Display_ReleaseImage");
    ImgFree(control->image);
}

void TDisplayControl::paintEvent(QPaintEvent*)
{
    TRACE("ctldisplay.TDisplayControl.Paint");
    QPainter dc(this);
    if (IsImgValid(image)) {
        ImgPut(image, dc, 0, 0);
        // Opaque: whatever the picture leaves uncovered gets the background.
        if (image.Width < width()) dc.fillRect(image.Width, 0, width() - image.Width, height(), backgroundColor);
        if (image.Height < height())
            dc.fillRect(0, image.Height, qMin(image.Width, width()), height() - image.Height, backgroundColor);
    } else {
        dc.fillRect(0, 0, width(), height(), backgroundColor);
    }
}

bool IsImgValid(const Image& img)
{
    TRACE("ctldisplay.IsImgValid");
    return img.Data != nullptr && img.Width > 0 && img.Height > 0;
}

TDisplayControl* Display_Create_VCL(QWidget* parent, int left, int top, int width, int height)
{
    TRACE("ctldisplay.Display_Create_VCL");
    auto* c = new TDisplayControl(parent);
    c->setObjectName(QStringLiteral("display"));
    c->setGeometry(left, top, width, height);
    c->show();
    c->update();
    return c;
}

void Display_SetBounds(TDisplayControl* control, int left, int top, int width, int height)
{
    TRACE("ctldisplay.Display_SetBounds");
    if (control) control->setGeometry(left, top, width, height);
}

void Display_SetColor(TDisplayControl* control, const QColor& color)
{
    TRACE("ctldisplay.Display_SetColor");
    if (!control) return;
    control->backgroundColor = color;
    control->update();
}

void Display_ShowImg(TDisplayControl* control, const Image& img)
{
    TRACE("ctldisplay.Display_ShowImg");
    if (!control) return;
    if (&img != &control->image) {
        DisplayReleaseImage_(control);
        ImgCopy(img, control->image);
    }
    control->setVisible(true);
    control->repaint();
}

void Display_Hide(TDisplayControl* control)
{
    TRACE("ctldisplay.Display_Hide");
    if (control) control->setVisible(false);
}

void Display_Free(TDisplayControl*& control)
{
    TRACE("ctldisplay.Display_Free");
    if (!control) return;
    DisplayReleaseImage_(control);
    delete control;
    control = nullptr;
}

bool Display_CyclePalette(TDisplayControl* control, int first)
{
    TRACE("ctldisplay.Display_CyclePalette");
    if (!control || !IsImgValid(control->image) || control->image.Bpp != 8) return false;
    if (first < 1 || first > 254) return false;
    uint8_t (*pal)[3] = control->image.Pal;
    uint8_t keep[3];
    std::memcpy(keep, pal[first], 3);
    std::memmove(pal[first], pal[first + 1], static_cast<size_t>(255 - first) * 3);
    std::memcpy(pal[255], keep, 3);
    control->update();
    return true;
}
