// The child control that owns one image and paints it top-left aligned; where it has no image
// it shows its background colour.
#pragma once

#include <QColor>
#include <QWidget>

#include "image/ImgBasic.h"

class TDisplayControl : public QWidget {
    Q_OBJECT
public:
    explicit TDisplayControl(QWidget* parent = nullptr);
    ~TDisplayControl() override;

    Image image;                       // owned; empty at creation
    QColor backgroundColor = Qt::black;

protected:
    void paintEvent(QPaintEvent* event) override;
};

bool IsImgValid(const Image& img);
TDisplayControl* Display_Create_VCL(QWidget* parent, int left, int top, int width, int height);
void Display_SetBounds(TDisplayControl* control, int left, int top, int width, int height);
void Display_SetColor(TDisplayControl* control, const QColor& color);
// Shows a copy of img and repaints at once.
void Display_ShowImg(TDisplayControl* control, const Image& img);
void Display_Hide(TDisplayControl* control);
// Releases the image, destroys the control and clears the reference.
void Display_Free(TDisplayControl*& control);
// Moves the colours of palette entries first..255 of an 8-bit image one place down (the entry
// after each takes its place, the first goes to the end), as the start-up screen does with its
// band, and repaints. False when there is nothing to cycle.
bool Display_CyclePalette(TDisplayControl* control, int first);
