// Draws every image of the client's resource bundle. Run it with the bundle's image folder as argument:
//   ambrel-artwork resources/Resources
// PNG and BMP files are written by Qt; the animated GIF and the multi-size Windows icons are assembled from frames
// by ImageMagick's `convert`, which Qt cannot do.

#include <cmath>
#include <functional>
#include <vector>

#include <QCommandLineParser>
#include <QDir>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTransform>

#include "Glyphs.h"

using namespace Glyphs;

namespace {

const QColor kTitleGlyph(228, 230, 235);
const QColor kSoftWhite(238, 239, 242);

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

void strokePath(QPainter& painter, const QPainterPath& path, const QColor& color, qreal width)
{
    painter.setPen(roundPen(color, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

void fillPath(QPainter& painter, const QPainterPath& path, const QBrush& brush)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(brush);
    painter.drawPath(path);
}

QRectF centred(qreal width, qreal height, const QRectF& within)
{
    return QRectF(within.center().x() - width / 2, within.center().y() - height / 2, width, height);
}

// Title bar glyphs are drawn at the exact 27 x 24 the title bar scales its pixmaps to, with 1 px lines on the pixel
// grid, so that its fast scaling changes nothing.
QImage minimiseGlyph()
{
    QImage image = canvas(27, 24);
    QPainter painter(&image);
    painter.setPen(QPen(kTitleGlyph, 1.0, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(8, 12.5), QPointF(19, 12.5));
    return image;
}

QImage restoreGlyph()
{
    QImage image = canvas(27, 24);
    QPainter painter(&image);
    painter.setPen(QPen(kTitleGlyph, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawRect(QRectF(8.5, 9.5, 7, 7));
    QPainterPath back;
    back.moveTo(10.5, 9.5);
    back.lineTo(10.5, 7.5);
    back.lineTo(17.5, 7.5);
    back.lineTo(17.5, 14.5);
    back.lineTo(15.5, 14.5);
    painter.drawPath(back);
    return image;
}

QImage closeGlyph()
{
    QImage image = canvas(27, 24);
    QPainter painter(&image);
    prepare(painter);
    // A little larger and bolder than the other title bar glyphs: the viewer also shows this image at 12 x 12.
    painter.setPen(QPen(kTitleGlyph, 1.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(8, 6.5), QPointF(19, 17.5));
    painter.drawLine(QPointF(19, 6.5), QPointF(8, 17.5));
    return image;
}

// The title bar's "maximise" glyph (shown while the window is at its normal size).
QImage maximiseGlyph(int size)
{
    QImage image = canvas(size, size);
    QPainter painter(&image);
    const qreal scale = size / 24.0;
    const qreal pen = std::max(1.0, scale);
    const qreal origin = std::floor(size * 0.3125) + (pen <= 1.0 ? 0.5 : pen / 2);
    const qreal side = std::round(size * 0.375);
    painter.setPen(QPen(kTitleGlyph, pen, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawRect(QRectF(origin, origin, side, side));
    return image;
}

QImage backArrow()
{
    QImage image = canvas(22, 19);
    QPainter painter(&image);
    prepare(painter);
    QPainterPath path;
    path.moveTo(18, 9.5);
    path.lineTo(5, 9.5);
    path.addPath(chevron(QRectF(4.5, 3.5, 6, 12), true));
    strokePath(painter, path, kSoftWhite, 2.0);
    return image;
}

QImage refreshGlyph()
{
    QImage image = canvas(22, 19);
    QPainter painter(&image);
    prepare(painter);
    circularArrow(painter, QPointF(11, 9.5), 6.4, 345, -300, kSoftWhite, 1.8);
    return image;
}

QImage doneBadge(int size, const QColor& background)
{
    QImage image = canvas(size, size, background);
    QPainter painter(&image);
    prepare(painter);
    const QRectF disc(size * 0.04, size * 0.04, size * 0.92, size * 0.92);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accentGradient(disc));
    painter.drawEllipse(disc);
    strokePath(painter, tick(QRectF(size * 0.29, size * 0.34, size * 0.43, size * 0.3)), kPage, size * 0.095);
    return image;
}

QImage chevronImage(bool pointsLeft)
{
    QImage image = canvas(20, 36);
    QPainter painter(&image);
    prepare(painter);
    strokePath(painter, chevron(QRectF(6, 7, 8, 22), pointsLeft), kSoftWhite, 2.6);
    return image;
}

QImage badgeImage(int size, const QColor& fill, const QColor& mark, bool info)
{
    QImage image = canvas(size, size);
    QPainter painter(&image);
    prepare(painter);
    exclamationBadge(painter, QRectF(0.5, 0.5, size - 1, size - 1), fill, mark, info);
    return image;
}

// Viewer tool bar glyphs sit on its white bar: dark ink.
QImage magnifierImage(bool plus)
{
    QImage image = canvas(22, 23);
    QPainter painter(&image);
    prepare(painter);
    strokePath(painter, magnifier(QRectF(1.5, 2, 19, 19), plus), kInk, 1.8);
    return image;
}

QImage fullScreenGlyph()
{
    QImage image = canvas(17, 18);
    QPainter painter(&image);
    prepare(painter);
    strokePath(painter, corners(QRectF(1.5, 2, 14, 14), 4.5, false), kInk, 1.8);
    return image;
}

QImage rotateGlyph()
{
    QImage image = canvas(19, 22);
    QPainter painter(&image);
    prepare(painter);
    // Counter-clockwise: each click turns the picture a quarter to the left.
    circularArrow(painter, QPointF(9.5, 11.5), 6.3, 195, 300, kInk, 1.8);
    return image;
}

// The capture page's full-screen switch and the exit from full screen: a framed ghost button on the dark page.
QImage ghostButton(int width, const QString& text, bool inward)
{
    QImage image = canvas(width, 46);
    QPainter painter(&image);
    prepare(painter);
    const QRectF frame(0.5, 0.5, width - 1, 45);
    painter.setPen(QPen(QColor(255, 255, 255, 70), 1.0));
    painter.setBrush(QColor(255, 255, 255, 18));
    painter.drawRoundedRect(frame, 6, 6);
    const QPainterPath glyph =
        inward ? corners(QRectF(0, 0, 15, 15), 5.5, true) : corners(QRectF(0, 0, 14, 14), 4.5, false);
    glyphAndText(painter, frame, glyph, true, 1.8, text, uiFont(16), kSoftWhite, 9);
    return image;
}

QImage filledButton(int width, int height, qreal radius, const QPainterPath& glyph, const QString& text,
                    const QFont& font, qreal gap)
{
    QImage image = canvas(width, height);
    QPainter painter(&image);
    prepare(painter);
    const QRectF frame(0, 0, width, height);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accentGradient(frame));
    painter.drawRoundedRect(frame, radius, radius);
    if (glyph.isEmpty()) {
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(frame, Qt::AlignCenter, text);
    } else {
        glyphAndText(painter, frame, glyph, false, 0, text, font, Qt::white, gap);
    }
    return image;
}

QImage outlinedUploadButton()
{
    QImage image = canvas(209, 60);
    QPainter painter(&image);
    prepare(painter);
    const QRectF frame(1, 1, 207, 58);
    painter.setPen(QPen(kOutline, 2));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(frame, 8, 8);
    glyphAndText(painter, frame, upload(QRectF(0, 0, 18, 18)), true, 2.2, QStringLiteral("上传照片"), uiFont(20, true),
                 kAccentDeep, 12);
    return image;
}

// The take button: a light ring around an accent disc with a camera; pressed, the disc sinks and the ring glows.
QImage shutter(int size, bool pressed, const QColor& background = Qt::transparent)
{
    QImage image = canvas(size, size, background);
    QPainter painter(&image);
    prepare(painter);
    const qreal s = size / 96.0;
    const QPointF centre(size / 2.0, size / 2.0);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(pressed ? kAccent : QColor(255, 255, 255, 235), 3.5 * s));
    painter.drawEllipse(centre, 45 * s, 45 * s);
    const qreal discRadius = (pressed ? 34 : 38) * s;
    const QRectF disc(centre.x() - discRadius, centre.y() - discRadius, 2 * discRadius, 2 * discRadius);
    QLinearGradient gradient(disc.topLeft(), disc.bottomLeft());
    if (pressed) {
        gradient.setColorAt(0, QColor(214, 136, 36));
        gradient.setColorAt(1, QColor(236, 164, 44));
    } else {
        gradient.setColorAt(0, kAccent);
        gradient.setColorAt(1, kAccentDeep);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawEllipse(disc);
    const qreal cameraWidth = (pressed ? 28 : 31) * s;
    fillPath(painter, camera(centred(cameraWidth, cameraWidth * 0.78, disc)),
             pressed ? QColor(10, 13, 23, 200) : kPage);
    return image;
}

QImage cameraImage(int width, int height, qreal glyphWidth, const QColor& color, const QColor& background)
{
    QImage image = canvas(width, height, background);
    QPainter painter(&image);
    prepare(painter);
    fillPath(painter, camera(centred(glyphWidth, glyphWidth * 0.78, QRectF(0, 0, width, height))), color);
    return image;
}

// Home page illustration: a document camera over a marked answer sheet, on the page's light grey.
QImage homeIllustration()
{
    QImage image = canvas(400, 420);
    QPainter painter(&image);
    prepare(painter);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 170));
    painter.drawEllipse(QPointF(200, 215), 178, 178);
    painter.setBrush(QColor(253, 190, 56, 40));
    painter.drawEllipse(QPointF(62, 118), 18, 18);
    painter.drawEllipse(QPointF(372, 196), 9, 9);
    painter.drawEllipse(QPointF(92, 190), 6, 6);

    // Desk and its shadow.
    painter.setBrush(QColor(0, 0, 0, 22));
    painter.drawEllipse(QPointF(200, 372), 170, 10);
    painter.setBrush(QColor(196, 201, 211));
    painter.drawRoundedRect(QRectF(30, 352, 340, 14), 7, 7);

    // The answer sheet lying on the desk, drawn flat and tilted into perspective.
    const QRectF sheet(0, 0, 200, 250);
    QPolygonF flat;
    flat << sheet.topLeft() << sheet.topRight() << sheet.bottomRight() << sheet.bottomLeft();
    QPolygonF onDesk;
    onDesk << QPointF(116, 238) << QPointF(258, 238) << QPointF(292, 350) << QPointF(82, 350);
    QTransform tilt;
    if (QTransform::quadToQuad(flat, onDesk, tilt)) {
        painter.save();
        painter.setTransform(tilt);
        painter.setBrush(Qt::white);
        painter.setPen(QPen(QColor(205, 208, 215), 1.5));
        painter.drawRect(sheet);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(60, 64, 76));
        painter.drawRoundedRect(QRectF(50, 18, 100, 12), 4, 4);
        for (int row = 0; row < 6; ++row) {
            const qreal y = 50 + row * 32;
            painter.setBrush(QColor(200, 204, 212));
            painter.drawRoundedRect(QRectF(22, y, 110, 8), 4, 4);
            painter.drawRoundedRect(QRectF(22, y + 13, 76, 8), 4, 4);
            painter.setPen(roundPen(row == 3 ? kRed : QColor(255, 82, 82, 230), 5));
            painter.setBrush(Qt::NoBrush);
            if (row == 3) {
                painter.drawLine(QPointF(152, y + 2), QPointF(170, y + 20));
                painter.drawLine(QPointF(170, y + 2), QPointF(152, y + 20));
            } else {
                painter.drawPath(tick(QRectF(150, y + 2, 22, 16)));
            }
            painter.setPen(Qt::NoPen);
        }
        painter.restore();
    }

    // Light from the camera onto the sheet.
    QPolygonF beam;
    beam << QPointF(160, 118) << QPointF(190, 118) << QPointF(300, 350) << QPointF(74, 350);
    QLinearGradient light(QPointF(0, 118), QPointF(0, 350));
    light.setColorAt(0, QColor(253, 190, 56, 100));
    light.setColorAt(1, QColor(253, 190, 56, 22));
    painter.setPen(Qt::NoPen);
    painter.setBrush(light);
    painter.drawPolygon(beam);

    // The camera: base, pole, arm and head.
    const QColor metal(64, 68, 80);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBar);
    painter.drawRoundedRect(QRectF(290, 338, 84, 16), 7, 7);
    painter.setBrush(metal);
    painter.drawRoundedRect(QRectF(326, 100, 11, 244), 5, 5);
    painter.drawRoundedRect(QRectF(178, 91, 158, 11), 5, 5);
    painter.setBrush(kBar);
    painter.drawEllipse(QPointF(331.5, 96.5), 10, 10);
    painter.setBrush(kAccent);
    painter.drawEllipse(QPointF(331.5, 96.5), 3.5, 3.5);
    painter.setBrush(kBar);
    painter.drawRoundedRect(QRectF(128, 78, 94, 36), 12, 12);
    painter.setBrush(QColor(45, 49, 61));
    painter.drawRoundedRect(QRectF(148, 108, 54, 10), 4, 4);
    painter.setBrush(kAccent);
    painter.drawEllipse(QPointF(175, 118), 12, 4);
    painter.drawEllipse(QPointF(206, 90), 3, 3);
    return image;
}

// One frame of the loading animation: twelve dots chasing round on a dark card, with "please wait" below.
QImage waitFrame(int frame, int frameCount)
{
    QImage image = canvas(140, 140);
    QPainter painter(&image);
    prepare(painter);
    painter.setPen(QPen(kBarEdge, 1));
    painter.setBrush(kBar);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 139, 139), 16, 16);

    const QPointF centre(70, 60);
    for (int dot = 0; dot < frameCount; ++dot) {
        const int age = (frame - dot + frameCount) % frameCount;
        const qreal angle = 2 * 3.14159265358979323846 * dot / frameCount;
        const QPointF at(centre.x() + 24 * std::sin(angle), centre.y() - 24 * std::cos(angle));
        QColor color = kAccent;
        color.setAlphaF(1.0 - 0.82 * age / frameCount);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        const qreal radius = 4.2 - 1.6 * age / frameCount;
        painter.drawEllipse(at, radius, radius);
    }
    painter.setFont(uiFont(15));
    painter.setPen(kLight);
    painter.drawText(QRectF(0, 100, 140, 24), Qt::AlignCenter, QStringLiteral("请稍候…"));
    return image;
}

QImage helpGlyph(int size)
{
    QImage image = canvas(size, size);
    QPainter painter(&image);
    prepare(painter);
    const QRectF disc(size * 0.04, size * 0.04, size * 0.92, size * 0.92);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accentGradient(disc));
    painter.drawEllipse(disc);
    QPainterPath mark;
    mark.addText(0, 0, uiFont(100, true), QStringLiteral("?"));
    const QRectF bounds = mark.boundingRect();
    const qreal scale = size * 0.6 / bounds.height();
    QTransform fit;
    fit.translate(disc.center().x(), disc.center().y());
    fit.scale(scale, scale);
    fit.translate(-bounds.center().x(), -bounds.center().y());
    // The font has no bold face: thicken the outline so the mark holds up at 16 px.
    painter.setPen(QPen(kPage, size * 0.035, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kPage);
    painter.drawPath(fit.map(mark));
    return image;
}

QImage emblemImage(int size, bool darkTile, const QColor& background = Qt::transparent, qreal margin = 0.04)
{
    QImage image = canvas(size, size, background);
    QPainter painter(&image);
    prepare(painter);
    const qreal inset = size * margin;
    emblem(painter, QRectF(inset, inset, size - 2 * inset, size - 2 * inset), darkTile);
    return image;
}

// The small 32 x 32 tool bitmaps, painted on the page colour (BMP has no transparency).
QImage toolBitmap(const std::function<void(QPainter&)>& draw)
{
    QImage image = canvas(32, 32, kPage);
    QPainter painter(&image);
    prepare(painter);
    draw(painter);
    return image;
}

QImage analysisBitmap()
{
    return toolBitmap([](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(accentGradient(QRectF(0, 6, 32, 20)));
        painter.drawRoundedRect(QRectF(6, 18, 5, 8), 1.5, 1.5);
        painter.drawRoundedRect(QRectF(13.5, 12, 5, 14), 1.5, 1.5);
        painter.drawRoundedRect(QRectF(21, 7, 5, 19), 1.5, 1.5);
        painter.setPen(QPen(kLight, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(4, 27.5), QPointF(28, 27.5));
    });
}

QImage roundArrowBitmap(bool pointsLeft)
{
    return toolBitmap([pointsLeft](QPainter& painter) {
        painter.setPen(QPen(kAccent, 1.8));
        painter.setBrush(kBar);
        painter.drawEllipse(QPointF(16, 16), 12.5, 12.5);
        const QRectF box = pointsLeft ? QRectF(12.5, 10, 6, 12) : QRectF(13.5, 10, 6, 12);
        strokePath(painter, chevron(box, pointsLeft), kSoftWhite, 2.2);
    });
}

QImage retakeBitmap()
{
    return toolBitmap([](QPainter& painter) {
        fillPath(painter, camera(QRectF(3, 5, 22, 17)), kLight);
        painter.setPen(QPen(kPage, 2));
        painter.setBrush(kAccent);
        painter.drawEllipse(QPointF(23, 23), 7.5, 7.5);
        painter.setPen(QPen(kPage, 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(23, 19.5), QPointF(23, 26.5));
        painter.drawLine(QPointF(19.5, 23), QPointF(26.5, 23));
    });
}

QImage pictureBitmap()
{
    return toolBitmap([](QPainter& painter) {
        painter.setPen(QPen(kLight, 1.8));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(4.5, 6.5, 23, 19), 3, 3);
        QPainterPath hills;
        hills.moveTo(7, 24);
        hills.lineTo(14, 15);
        hills.lineTo(19, 20.5);
        hills.lineTo(21.5, 18);
        hills.lineTo(25.5, 24);
        hills.closeSubpath();
        fillPath(painter, hills, kAccent);
        painter.setBrush(kAccent);
        painter.drawEllipse(QPointF(21.5, 11.5), 2.2, 2.2);
    });
}

QImage folderBitmap()
{
    return toolBitmap([](QPainter& painter) {
        QPainterPath back;
        back.addRoundedRect(QRectF(4, 7, 11, 6), 2, 2);
        back.addRoundedRect(QRectF(4, 9.5, 24, 16), 2.5, 2.5);
        fillPath(painter, back.simplified(), kAccentDeep);
        QPainterPath front;
        front.addRoundedRect(QRectF(4, 13, 24, 12.5), 2.5, 2.5);
        fillPath(painter, front, kAccent);
    });
}

QImage turnLeftBitmap()
{
    return toolBitmap([](QPainter& painter) {
        QPainterPath path;
        path.moveTo(23, 26);
        path.lineTo(23, 17);
        path.quadTo(23, 11, 17, 11);
        path.lineTo(8, 11);
        path.addPath(chevron(QRectF(7.5, 5.5, 5.5, 11), true));
        strokePath(painter, path, kAccent, 2.4);
    });
}

struct Still
{
    const char* name;
    std::function<QImage()> draw;
};

struct Icon
{
    const char* name;
    // The first size is the one a plain image load returns: the title bar loads normal.ico that way.
    std::vector<int> sizes;
    std::function<QImage(int)> draw;
};

std::vector<Still> stills()
{
    return {
        {"return.png", backArrow},
        {"BK1.png", [] { return shutter(96, false); }},
        {"BK2.png", [] { return shutter(96, true); }},
        {"编组备份.png", outlinedUploadButton},
        {"shibai.png", [] { return badgeImage(14, kWarn, Qt::white, false); }},
        {"esc.png", [] { return ghostButton(130, QStringLiteral("退出全屏"), true); }},
        {"left.png", [] { return chevronImage(true); }},
        {"ic_normal_hint.png", [] { return badgeImage(26, kAccentDeep, Qt::white, true); }},
        {"right.png", [] { return chevronImage(false); }},
        {"fangda.png", [] { return magnifierImage(true); }},
        {"quanping.png", fullScreenGlyph},
        {"suoxiao.png", [] { return magnifierImage(false); }},
        {"xuanzhuan.png", rotateGlyph},
        {"finish.png",
         [] { return filledButton(78, 28, 4, QPainterPath(), QStringLiteral("完成"), uiFont(14, true), 0); }},
        {"allscreen.png", [] { return ghostButton(98, QStringLiteral("全屏"), false); }},
        {"8_fenxi.bmp", analysisBitmap},
        {"13_right.bmp", [] { return roundArrowBitmap(false); }},
        {"14_left.bmp", [] { return roundArrowBitmap(true); }},
        {"17_拍照.bmp", [] { return cameraImage(32, 32, 26, kAccent, kPage); }},
        {"18_补拍.bmp", retakeBitmap},
        {"bitmap6.bmp",
         [] {
             return toolBitmap(
                 [](QPainter& painter) { strokePath(painter, upload(QRectF(7, 6, 18, 19)), kAccent, 2.2); });
         }},
        {"bitmap8.bmp", pictureBitmap},
        {"wancheng.png", [] { return doneBadge(24, Qt::transparent); }},
        {"bitmap9.bmp", folderBitmap},
        {"close.png", closeGlyph},
        {"homePage.png", homeIllustration},
        {"icon.png", [] { return badgeImage(16, kAccent, kPage, false); }},
        {"leftRotate.bmp",
         [] {
             return toolBitmap([](QPainter& painter) { circularArrow(painter, {16, 16.5}, 9, -30, 245, kLight, 2.2); });
         }},
        {"leftTurn.bmp", turnLeftBitmap},
        {"logo.bmp", [] { return emblemImage(24, false, kPage, 0.09); }},
        {"max.png", restoreGlyph},
        {"min.png", minimiseGlyph},
        {"shuaxin.png", refreshGlyph},
        {"startButton.png",
         [] {
             return filledButton(209, 60, 8, camera(QRectF(0, 0, 26, 20)), QStringLiteral("开始拍照"), uiFont(20, true),
                                 12);
         }},
        {"startPhoto.bmp", [] { return shutter(32, false, kPage); }},
        {"takePhoto.png", [] { return cameraImage(28, 28, 24, kSoftWhite, Qt::transparent); }},
        {"takePicture.png", [] { return shutter(48, false); }},
        {"wancheng.bmp", [] { return doneBadge(32, kPage); }},
        {"takePhoto2.png",
         [] {
             return filledButton(64, 28, 4, camera(QRectF(0, 0, 16, 12.5)), QStringLiteral("拍照"), uiFont(14, true),
                                 6);
         }},
    };
}

std::vector<Icon> icons()
{
    return {
        {"help.ico", {16, 24, 32, 48}, helpGlyph},
        {"icon1.ico", {16, 24, 32, 48, 256}, [](int size) { return emblemImage(size, true); }},
        {"normal.ico", {24, 16, 32, 48}, maximiseGlyph},
        // The title bar loads the first image only: twice its size for screens scaled by 2.
        {"normal@2x.ico", {48, 16, 32}, maximiseGlyph},
        {"AmbrelClient.ico", {16, 24, 32, 48, 64, 128, 256}, [](int size) { return emblemImage(size, false); }},
    };
}

bool runConvert(const QStringList& arguments)
{
    QProcess convert;
    convert.setProcessChannelMode(QProcess::MergedChannels);
    convert.start(QStringLiteral("convert"), arguments);
    if (!convert.waitForFinished(60000) || convert.exitStatus() != QProcess::NormalExit || convert.exitCode() != 0) {
        err() << "convert " << arguments.join(QLatin1Char(' ')) << " failed: " << convert.errorString() << "\n"
              << QString::fromLocal8Bit(convert.readAll()) << Qt::endl;
        return false;
    }
    return true;
}

// "name.png" at scale 2 becomes "name@2x.png", the file Qt picks on a screen with twice the pixel density.
QString scaledName(const QString& name, int scale)
{
    if (scale == 1) {
        return name;
    }
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return name.left(dot) + QStringLiteral("@%1x").arg(scale) + name.mid(dot);
}

bool writeStill(const QDir& out, const Still& still, int scale)
{
    const QString name = scaledName(QString::fromUtf8(still.name), scale);
    setScale(scale);
    QImage image = still.draw();
    const bool bitmap = name.endsWith(QLatin1String(".bmp"));
    if (bitmap) {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    setScale(1);
    if (!image.save(out.filePath(name), bitmap ? "BMP" : "PNG")) {
        err() << "cannot write " << out.filePath(name) << Qt::endl;
        return false;
    }
    return true;
}

// The program's icon in the freedesktop hicolor theme, at the sizes desktops ask for: <folder>/<size>/ambrelclient.png.
bool writeThemeIcons(const QDir& out)
{
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = out.filePath(QString::number(size));
        const QString path = folder + QStringLiteral("/ambrelclient.png");
        if (!QDir().mkpath(folder) || !emblemImage(size, false).save(path, "PNG")) {
            err() << "cannot write " << path << Qt::endl;
            ok = false;
        }
    }
    return ok;
}

bool writeIcon(const QDir& out, const QDir& work, const Icon& icon)
{
    QStringList arguments;
    for (int size : icon.sizes) {
        const QString frame = work.filePath(QStringLiteral("%1-%2.png").arg(QString::fromUtf8(icon.name)).arg(size));
        if (!icon.draw(size).save(frame, "PNG")) {
            return false;
        }
        arguments << frame;
    }
    arguments << out.filePath(QString::fromUtf8(icon.name));
    return runConvert(arguments);
}

bool writeAnimation(const QDir& out, const QDir& work)
{
    constexpr int kFrames = 12;
    // 80 ms a frame: one turn a second.
    QStringList arguments{QStringLiteral("-delay"), QStringLiteral("8"),        QStringLiteral("-loop"),
                          QStringLiteral("0"),      QStringLiteral("-dispose"), QStringLiteral("None")};
    for (int frame = 0; frame < kFrames; ++frame) {
        const QString path = work.filePath(QStringLiteral("tips-%1.png").arg(frame, 2, 10, QLatin1Char('0')));
        if (!waitFrame(frame, kFrames).save(path, "PNG")) {
            return false;
        }
        arguments << path;
    }
    arguments << out.filePath(QStringLiteral("tips.gif"));
    return runConvert(arguments);
}

} // namespace

int main(int argc, char* argv[])
{
    // The tool only paints into images; it never needs a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws the AmbrelClient resource images."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("Output folder (resources/Resources)."));
    const QCommandLineOption hicolor(QStringLiteral("hicolor"),
                                     QStringLiteral("Also write the desktop icon at each theme size into <folder>."),
                                     QStringLiteral("folder"));
    parser.addOption(hicolor);
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        parser.showHelp(2);
    }

    // The artwork must look the same wherever it is regenerated.
    const QFontInfo font(uiFont(14));
    if (!font.family().contains(QLatin1String("WenQuanYi"))) {
        err() << "font \"WenQuanYi Micro Hei\" is missing (Debian package fonts-wqy-microhei)" << Qt::endl;
        return 1;
    }

    const QDir out(parser.positionalArguments().constFirst());
    if (!out.exists() && !QDir().mkpath(out.path())) {
        err() << "cannot create " << out.path() << Qt::endl;
        return 1;
    }
    QTemporaryDir frames;
    if (!frames.isValid()) {
        err() << "cannot create a temporary folder" << Qt::endl;
        return 1;
    }
    const QDir work(frames.path());

    bool ok = true;
    for (const Still& still : stills()) {
        ok = writeStill(out, still, 1) && ok;
        ok = writeStill(out, still, 2) && ok;
    }
    for (const Icon& icon : icons()) {
        ok = writeIcon(out, work, icon) && ok;
    }
    ok = writeAnimation(out, work) && ok;
    if (parser.isSet(hicolor)) {
        ok = writeThemeIcons(QDir(parser.value(hicolor))) && ok;
    }
    return ok ? 0 : 1;
}
