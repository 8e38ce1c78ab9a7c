// The display control, the preview's fitting and the drawing of images on a Qt surface.
#include <gtest/gtest.h>

#include <cstring>

#include <QFrame>
#include <QImage>
#include <QPainter>

#include "image/ImgBasic.h"
#include "ui/ImgDisplay.h"
#include "ui/Preview.h"
#include "ui/TDisplayControl.h"

namespace {

// 24-bit image whose pixel (x, y) has red x*40, green y*50, blue 200.
void MakeRgb(Image& img, int w, int h)
{
    ImgAlloc(img, w, h, 24);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t* p = img.Data + (y * w + x) * 3;
            p[0] = 200;
            p[1] = static_cast<uint8_t>(y * 50);
            p[2] = static_cast<uint8_t>(x * 40);
        }
}

QImage Render(const Image& img, int left, int top, int width, int height, int x, int y, int cw = 12, int ch = 10)
{
    QImage canvas(cw, ch, QImage::Format_RGB32);
    canvas.fill(QColor(1, 2, 3));
    QPainter p(&canvas);
    ImgPutEx(img, left, top, width, height, p, 0, x, y);
    p.end();
    return canvas;
}

TEST(ImgDisplay, DepthsGiveTheImageColours)
{
    Image rgb;
    MakeRgb(rgb, 3, 2);  // 9-byte rows: not a multiple of 4
    QImage q = Render(rgb, 0, 0, 0, 0, 0, 0);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) EXPECT_EQ(q.pixel(x, y), qRgb(x * 40, y * 50, 200)) << x << "," << y;
    EXPECT_EQ(q.pixel(3, 0), qRgb(1, 2, 3));  // nothing drawn beside it

    Image rgb4;
    MakeRgb(rgb4, 4, 2);  // aligned rows give the same picture
    QImage q4 = Render(rgb4, 0, 0, 3, 0, 0, 0);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) EXPECT_EQ(q4.pixel(x, y), q.pixel(x, y));

    Image c32;
    ImgConvBpp(rgb, c32, 32);
    c32.Data[3] = 0;  // the fourth byte is ignored, not alpha
    EXPECT_EQ(Render(c32, 0, 0, 0, 0, 0, 0).pixel(0, 0), qRgb(0, 0, 200));

    Image pal8;
    ImgAlloc(pal8, 2, 1, 8);
    pal8.Data[0] = 5;
    pal8.Data[1] = 250;
    pal8.Pal[5][0] = 10, pal8.Pal[5][1] = 20, pal8.Pal[5][2] = 30;   // blue, green, red
    pal8.Pal[250][2] = 255;
    QImage q8 = Render(pal8, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(q8.pixel(0, 0), qRgb(30, 20, 10));
    EXPECT_EQ(q8.pixel(1, 0), qRgb(255, 0, 0));

    Image w15, w16;
    ImgAlloc(w15, 1, 1, 15);
    ImgAlloc(w16, 1, 1, 16);
    const uint16_t white15 = 0x7FFF, red16 = 0xF800;
    std::memcpy(w15.Data, &white15, 2);
    std::memcpy(w16.Data, &red16, 2);
    const QColor c15(Render(w15, 0, 0, 0, 0, 0, 0).pixel(0, 0));
    const QColor c16(Render(w16, 0, 0, 0, 0, 0, 0).pixel(0, 0));
    EXPECT_GE(c15.red(), 248);
    EXPECT_GE(c15.blue(), 248);
    EXPECT_GE(c16.red(), 248);
    EXPECT_EQ(c16.green(), 0);
    EXPECT_EQ(c16.blue(), 0);

    for (Image* i : {&rgb, &rgb4, &c32, &pal8, &w15, &w16}) ImgFree(*i);
}

TEST(ImgDisplay, RectangleRulesAndPartialDrawing)
{
    Image img;
    ImgAlloc(img, 10, 8, 24);
    EXPECT_EQ(ImgPutRect(img, 0, 0, 0, 0), QRect(0, 0, 10, 8));
    EXPECT_EQ(ImgPutRect(img, 10, 8, 4, 4), QRect(0, 0, 4, 4));     // past the image: from 0
    EXPECT_EQ(ImgPutRect(img, 7, 6, 5, 5), QRect(7, 6, 3, 2));      // cut to the image
    EXPECT_EQ(ImgPutRect(img, 2, 3, -1, 0), QRect(2, 3, 8, 5));     // no size: the rest
    ImgFree(img);

    Image rgb;
    MakeRgb(rgb, 3, 2);
    // Only pixel (1, 1) of the image, drawn at (5, 4).
    QImage q = Render(rgb, 1, 1, 1, 1, 5, 4);
    EXPECT_EQ(q.pixel(5, 4), qRgb(40, 50, 200));
    EXPECT_EQ(q.pixel(6, 4), qRgb(1, 2, 3));
    EXPECT_EQ(q.pixel(5, 5), qRgb(1, 2, 3));
    ImgFree(rgb);

    Image empty;
    EXPECT_TRUE(ImgToQImage(empty).isNull());
    EXPECT_EQ(Render(empty, 0, 0, 0, 0, 0, 0).pixel(0, 0), qRgb(1, 2, 3));
}

class PreviewTest : public ::testing::Test {
protected:
    QFrame host;
    Preview preview;
    void SetUp() override
    {
        host.resize(293, 298);
        Preview_Init(preview, &host, 2);
    }
    void TearDown() override { Preview_Done(preview); }
};

TEST_F(PreviewTest, LargeImageShrinksKeepingItsShape)
{
    Image img;
    MakeRgb(img, 533, 400);
    Preview_Show(preview, img);
    ASSERT_NE(preview.display, nullptr);
    EXPECT_EQ(preview.display->geometry(), QRect(2, 41, 289, 216));
    EXPECT_EQ(preview.display->image.Width, 289);
    EXPECT_EQ(preview.display->image.Height, 216);
    EXPECT_NEAR(preview.scale, 289.0 / 533.0, 1e-9);
    EXPECT_EQ(img.Width, 533);  // the caller's image is left alone
    // Inside a border the margins stay equal on both sides.
    host.setFrameStyle(QFrame::Box | QFrame::Plain);
    Preview_Show(preview, img);
    const QRect g = preview.display->geometry();
    EXPECT_EQ(g.left() - 1, host.width() - 1 - (g.right() + 1));
    EXPECT_EQ(g.left() - 1, 2);
    host.setFrameStyle(QFrame::NoFrame);
    ImgFree(img);

    // Averaging shrinks a two-colour column pattern to its mean; without smoothing an 8-bit
    // picture stays 8-bit with its palette.
    Image pal8;
    ImgAlloc(pal8, 533, 400, 8);
    for (int i = 0; i < pal8.Size; i++) pal8.Data[i] = static_cast<uint8_t>((i % 533) & 1);
    pal8.Pal[1][0] = pal8.Pal[1][1] = pal8.Pal[1][2] = 200;
    Preview_Show(preview, pal8);
    EXPECT_EQ(preview.display->image.Bpp, 24);
    const uint8_t* mid = preview.display->image.Data + (100 * 289 + 100) * 3;
    EXPECT_NEAR(mid[1], 100, 30);
    preview.smooth = false;
    Preview_Show(preview, pal8);
    EXPECT_EQ(preview.display->image.Bpp, 8);
    EXPECT_EQ(preview.display->image.Pal[1][1], 200);
    EXPECT_EQ(preview.display->geometry(), QRect(2, 41, 289, 216));
    ImgFree(pal8);
}

TEST_F(PreviewTest, SmallImageKeepsItsSizeCentred)
{
    Image img;
    MakeRgb(img, 100, 80);
    Preview_Show(preview, img);
    EXPECT_EQ(preview.display->geometry(), QRect(96, 109, 100, 80));
    EXPECT_DOUBLE_EQ(preview.scale, 1.0);
    // The control paints the picture from its top-left pixel.
    const QImage shot = preview.display->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(2, 1)).rgb(), qRgb(80, 50, 200));
    ImgFree(img);
}

TEST_F(PreviewTest, ClearHidesAndShowBringsItBack)
{
    host.show();
    Image img;
    MakeRgb(img, 20, 20);
    Preview_Show(preview, img);
    EXPECT_TRUE(preview.display->isVisible());
    Preview_Clear(preview);
    EXPECT_FALSE(preview.display->isVisible());
    Preview_Show(preview, img);
    EXPECT_TRUE(preview.display->isVisible());
    // A zero-sized image changes nothing.
    Image none;
    Preview_Show(preview, none);
    EXPECT_EQ(preview.display->image.Width, 20);
    ImgFree(img);
}

TEST(DisplayControl, WithoutImageShowsItsBackground)
{
    QWidget parent;
    TDisplayControl* c = Display_Create_VCL(&parent, 3, 4, 30, 20);
    EXPECT_EQ(c->geometry(), QRect(3, 4, 30, 20));
    EXPECT_FALSE(IsImgValid(c->image));
    Display_SetColor(c, QColor(10, 120, 30));
    EXPECT_EQ(c->grab().toImage().pixel(15, 10), qRgb(10, 120, 30));
    Display_SetBounds(nullptr, 0, 0, 1, 1);  // no control: ignored
    Display_SetColor(nullptr, Qt::red);
    Display_Free(c);
    EXPECT_EQ(c, nullptr);
    Display_Free(c);
}

TEST(DisplayControl, PaletteCycleMovesTheBandEntries)
{
    QWidget parent;
    TDisplayControl* c = Display_Create_VCL(&parent, 0, 0, 4, 4);
    Image img;
    ImgAlloc(img, 4, 4, 8);
    for (int i = 0; i < 256; i++) img.Pal[i][0] = static_cast<uint8_t>(i);
    Display_ShowImg(c, img);
    ImgFree(img);
    ASSERT_TRUE(Display_CyclePalette(c, 236));
    EXPECT_EQ(c->image.Pal[236][0], 237);
    EXPECT_EQ(c->image.Pal[254][0], 255);
    EXPECT_EQ(c->image.Pal[255][0], 236);
    EXPECT_EQ(c->image.Pal[235][0], 235);  // the picture's own colours stay
    EXPECT_FALSE(Display_CyclePalette(c, 0));
    EXPECT_FALSE(Display_CyclePalette(nullptr, 236));
    Display_Free(c);
}

}  // namespace
