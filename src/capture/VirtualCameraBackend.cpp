#include "capture/VirtualCameraBackend.h"

#include <chrono>
#include <thread>

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kFrameIntervalMs = 66;
constexpr int kJpegQuality = 90;

bool validMode(int width, int height)
{
    return width > 0 && height > 0 && width <= 8192 && height <= 8192;
}

// A marked answer sheet lying on a dark desk, drawn in proportion to the picture's size.
QImage drawAnswerSheet(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(48, 52, 58));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = size.width();
    const double h = size.height();
    const QRectF paper(w * 0.12, h * 0.04, w * 0.76, h * 0.92);
    p.fillRect(paper, QColor(250, 250, 246));

    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(qMax(6, int(h * 0.035)));
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRectF(paper.left(), paper.top() + h * 0.02, paper.width(), h * 0.05), Qt::AlignCenter,
               QStringLiteral("答题卡  数学"));
    font.setPixelSize(qMax(5, int(h * 0.022)));
    p.setFont(font);
    p.drawText(QPointF(paper.left() + w * 0.04, paper.top() + h * 0.11), QStringLiteral("姓名：张三    学号：2023015"));

    // Multiple-choice block: 20 questions of A to D with one filled bubble each.
    const double left = paper.left() + w * 0.05;
    const double top = paper.top() + h * 0.16;
    const double rowH = h * 0.028;
    const double colW = paper.width() * 0.45;
    const double bubble = rowH * 0.6;
    for (int q = 0; q < 20; ++q) {
        const double x = left + (q / 10) * colW;
        const double y = top + (q % 10) * rowH;
        p.setPen(Qt::black);
        p.drawText(QPointF(x, y + bubble), QString::number(q + 1));
        for (int c = 0; c < 4; ++c) {
            const QRectF box(x + w * 0.04 + c * bubble * 2.2, y, bubble * 1.6, bubble);
            p.setPen(QPen(QColor(200, 40, 40), 1));
            if ((q * 7 + 3) % 4 == c)
                p.setBrush(QColor(30, 30, 30));
            else
                p.setBrush(Qt::NoBrush);
            p.drawRect(box);
        }
    }

    // Written answers: ruled lines with strokes and a red mark.
    p.setBrush(Qt::NoBrush);
    const double linesTop = top + 11 * rowH;
    for (int i = 0; i < 12; ++i) {
        const double y = linesTop + i * h * 0.045;
        p.setPen(QPen(QColor(180, 180, 190), 1));
        p.drawLine(QPointF(left, y), QPointF(paper.right() - w * 0.05, y));
        p.setPen(QPen(QColor(20, 20, 60), qMax(1.0, h * 0.002)));
        QPainterPath stroke(QPointF(left + w * 0.01, y - h * 0.01));
        const double length = paper.width() * (0.4 + 0.05 * ((i * 5) % 9));
        for (double t = 0; t < length; t += w * 0.012)
            stroke.lineTo(left + w * 0.01 + t, y - h * 0.01 - h * 0.008 * ((int(t) / 3 % 2) ? 1 : -0.3));
        p.drawPath(stroke);
    }
    p.setPen(QPen(QColor(220, 30, 30), qMax(1.0, h * 0.004)));
    font.setPixelSize(qMax(8, int(h * 0.07)));
    p.setFont(font);
    p.drawText(QPointF(paper.right() - w * 0.18, paper.top() + h * 0.12), QStringLiteral("92"));
    return image;
}

void drawClock(QImage* image, qint64 frameNumber)
{
    QPainter p(image);
    const int h = image->height();
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(qMax(8, h / 24));
    p.setFont(font);
    const QString text = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  #") +
                         QString::number(frameNumber);
    const QRect box(0, h - font.pixelSize() * 2, image->width(), font.pixelSize() * 2);
    p.fillRect(box, QColor(0, 0, 0, 160));
    p.setPen(QColor(253, 190, 56));
    p.drawText(box, Qt::AlignCenter, text);
    // A marker running along the top edge, so motion shows even at a glance.
    const int x = int(frameNumber * 8 % qMax(1, image->width()));
    p.fillRect(QRect(x, 0, qMax(4, image->width() / 40), qMax(3, h / 100)), QColor(253, 167, 56));
}

class VirtualCameraStream : public CameraStream
{
public:
    explicit VirtualCameraStream(const CameraOpenParams& params)
        : m_stillSize(validMode(params.stillWidth, params.stillHeight) ? QSize(params.stillWidth, params.stillHeight)
                                                                       : QSize(2048, 1536))
    {
    }

    bool start() override
    {
        m_nextFrame = std::chrono::steady_clock::now();
        return true;
    }

    void stop() override {}

    bool nextFrame(QImage* frame, QSize size, int timeoutMs) override
    {
        const auto now = std::chrono::steady_clock::now();
        if (m_nextFrame > now) {
            const auto wait =
                std::min<std::chrono::steady_clock::duration>(m_nextFrame - now, std::chrono::milliseconds(timeoutMs));
            std::this_thread::sleep_for(wait);
            if (std::chrono::steady_clock::now() < m_nextFrame)
                return false;
        }
        m_nextFrame = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFrameIntervalMs);
        if (!size.isValid())
            return false;
        if (m_sheet.size() != size)
            m_sheet = drawAnswerSheet(size);
        *frame = m_sheet.copy();
        drawClock(frame, ++m_frameNumber);
        return true;
    }

    QByteArray captureStill() override
    {
        if (m_stillSheet.size() != m_stillSize)
            m_stillSheet = drawAnswerSheet(m_stillSize);
        QImage still = m_stillSheet.copy();
        drawClock(&still, m_frameNumber);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!still.save(&buffer, "JPG", kJpegQuality))
            return QByteArray();
        return bytes;
    }

private:
    QSize m_stillSize;
    QImage m_sheet;
    QImage m_stillSheet;
    qint64 m_frameNumber = 0;
    std::chrono::steady_clock::time_point m_nextFrame;
};

} // namespace

VirtualCameraBackend::VirtualCameraBackend(int deviceCount) : m_deviceCount(deviceCount) {}

int VirtualCameraBackend::deviceCount()
{
    return m_deviceCount;
}

bool VirtualCameraBackend::deviceIds(int index, int* vendorId, int* productId)
{
    if (index < 0 || index >= m_deviceCount)
        return false;
    *vendorId = kVendorId;
    *productId = kProductId;
    return true;
}

QVector<ResolutionEntry> VirtualCameraBackend::resolutions(int index, int list)
{
    if (index < 0 || index >= m_deviceCount)
        return {};
    if (list == 0)
        return {{0, 2048, 1536}, {0, 1600, 1200}, {0, 1280, 960}, {0, 1024, 768}, {0, 640, 480}, {1, 640, 480}};
    if (list == 1)
        return {{0, 1280, 960}, {1, 3264, 2448}, {0, 2048, 1536}, {0, 1600, 1200}, {0, 640, 480}};
    return {};
}

std::unique_ptr<CameraStream> VirtualCameraBackend::open(int index, const CameraOpenParams& params)
{
    if (index < 0 || index >= m_deviceCount)
        return nullptr;
    return std::make_unique<VirtualCameraStream>(params);
}
