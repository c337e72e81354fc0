#include "capture/VirtualCameraBackend.h"

#include <chrono>
#include <thread>

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QPainter>

#include "capture/ScriptedDesk.h"
#include "core/Clock.h"

namespace {

constexpr int kFrameIntervalMs = 66;
constexpr int kJpegQuality = 90;
// While the next frame is not due the stream looks at the clock again this often: a test's clock jumps.
constexpr int kClockPollMs = 2;

using Steady = std::chrono::steady_clock;

qint64 nowMs()
{
    return Clock::current().monotonicMSecs();
}

bool validMode(int width, int height)
{
    return width > 0 && height > 0 && width <= 8192 && height <= 8192;
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
    VirtualCameraStream(const CameraOpenParams& params, bool scriptedDesk, std::shared_ptr<const ScriptedDesk> script)
        : m_stillSize(validMode(params.stillWidth, params.stillHeight) ? QSize(params.stillWidth, params.stillHeight)
                                                                       : QSize(2048, 1536))
    {
        if (script)
            m_desk = std::move(script);
        else if (scriptedDesk)
            m_desk = std::make_shared<const ScriptedDesk>(ScriptedDesk::demo());
    }

    bool start() override
    {
        m_started = nowMs();
        m_nextFrame = m_started;
        m_nextFrameReal = Steady::now();
        return true;
    }

    void stop() override {}

    bool nextFrame(QImage* frame, QSize size, int timeoutMs) override
    {
        // A frame is due after the frame interval of the program's clock, or of real time while a test's clock
        // stands still. Until then the stream returns soon, so that a still asked for meanwhile is taken at once, as
        // a camera takes it between two frames.
        if (nowMs() < m_nextFrame && Steady::now() < m_nextFrameReal) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kClockPollMs, timeoutMs)));
            if (nowMs() < m_nextFrame && Steady::now() < m_nextFrameReal)
                return false;
        }
        m_nextFrame = nowMs() + kFrameIntervalMs;
        m_nextFrameReal = Steady::now() + std::chrono::milliseconds(kFrameIntervalMs);
        if (!size.isValid())
            return false;
        if (m_desk) {
            *frame = m_desk->frame(deskTime(), size);
            ++m_frameNumber;
            return true;
        }
        if (m_sheet.size() != size)
            m_sheet = ScriptedDesk::drawSheetOnDesk(size, 0);
        *frame = m_sheet.copy();
        drawClock(frame, ++m_frameNumber);
        return true;
    }

    QByteArray captureStill() override
    {
        QImage still;
        if (m_desk) {
            still = m_desk->still(deskTime(), m_stillSize);
        } else {
            if (m_stillSheet.size() != m_stillSize)
                m_stillSheet = ScriptedDesk::drawSheetOnDesk(m_stillSize, 0);
            still = m_stillSheet.copy();
            drawClock(&still, m_frameNumber);
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!still.save(&buffer, "JPG", kJpegQuality))
            return QByteArray();
        return bytes;
    }

private:
    // The desk's script plays from the start of streaming and then again from its beginning.
    qint64 deskTime() const { return (nowMs() - m_started) % qMax<qint64>(1, m_desk->durationMs()); }

    QSize m_stillSize;
    std::shared_ptr<const ScriptedDesk> m_desk;
    qint64 m_started = 0;
    QImage m_sheet;
    QImage m_stillSheet;
    qint64 m_frameNumber = 0;
    qint64 m_nextFrame = 0;
    Steady::time_point m_nextFrameReal;
};

} // namespace

VirtualCameraBackend::VirtualCameraBackend(int deviceCount, bool scriptedDesk,
                                           std::shared_ptr<const ScriptedDesk> script)
    : m_deviceCount(deviceCount), m_scriptedDesk(scriptedDesk), m_script(std::move(script))
{
}

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
    return std::make_unique<VirtualCameraStream>(params, m_scriptedDesk, m_script);
}
