#include "AnswerSheetImage.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

namespace {

QByteArray toJpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    return bytes;
}

bool canDrawText()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

namespace AnswerSheetImage {

QByteArray render(const QString& studentName, int page, int pageCount, const QString& score)
{
    const int width = 620;
    const int height = 877;
    // Paper under a desk lamp: slightly warm, not pure white, so it reads as a photograph.
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(246, 243, 234));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setPen(QPen(QColor(60, 60, 60), 2));
    painter.drawRect(30, 30, width - 60, height - 60);
    painter.fillRect(30, 30, width - 60, 90, QColor(225, 232, 240));

    const bool text = canDrawText();
    if (text) {
        QFont font(QStringLiteral("WenQuanYi Micro Hei"));
        font.setPixelSize(26);
        painter.setFont(font);
        painter.drawText(QRect(30, 36, width - 60, 40), Qt::AlignCenter, QStringLiteral("答题卡"));
        font.setPixelSize(18);
        painter.setFont(font);
        painter.drawText(QRect(50, 80, 300, 30), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("姓名：") + studentName);
        painter.drawText(QRect(width - 250, 80, 200, 30), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("第%1页 / 共%2页").arg(page).arg(pageCount));
    }

    // Answer boxes with a filled choice in each row; the pattern differs by page so pages can be told apart.
    painter.setPen(QPen(QColor(90, 90, 90), 1));
    const int rows = 18;
    for (int row = 0; row < rows; ++row) {
        const int y = 150 + row * 34;
        for (int choice = 0; choice < 4; ++choice) {
            const QRect box(110 + choice * 60, y, 36, 20);
            painter.drawRect(box);
            if ((row * 7 + page * 3 + studentName.size()) % 4 == choice)
                painter.fillRect(box.adjusted(3, 3, -2, -2), QColor(35, 35, 35));
        }
        // A red tick or cross of the marking teacher beside each answer.
        painter.setPen(QPen(QColor(210, 40, 40), 3));
        const int x = 400;
        if ((row + page) % 5 != 0) {
            painter.drawLine(x, y + 10, x + 8, y + 18);
            painter.drawLine(x + 8, y + 18, x + 24, y);
        } else {
            painter.drawLine(x, y, x + 18, y + 18);
            painter.drawLine(x + 18, y, x, y + 18);
        }
        painter.setPen(QPen(QColor(90, 90, 90), 1));
    }

    if (text && page == 1) {
        QFont font(QStringLiteral("WenQuanYi Micro Hei"));
        font.setPixelSize(48);
        painter.setFont(font);
        painter.setPen(QColor(210, 40, 40));
        painter.drawText(QRect(width - 220, height - 130, 170, 80), Qt::AlignCenter, score);
    }
    painter.end();
    return toJpeg(image, 85);
}

QByteArray thumbnail(const QByteArray& imageBytes, int maxWidth)
{
    QImage image = QImage::fromData(imageBytes);
    if (image.isNull()) {
        image = QImage(maxWidth, maxWidth * 4 / 3, QImage::Format_RGB32);
        image.fill(QColor(200, 200, 200));
    } else if (image.width() > maxWidth) {
        image = image.scaledToWidth(maxWidth, Qt::SmoothTransformation);
    }
    return toJpeg(image, 80);
}

} // namespace AnswerSheetImage
