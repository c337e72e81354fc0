#include "capture/CameraComponent.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include "capture/CameraBackend.h"
#include "capture/VideoOverlay.h"
#include "capture/VirtualCameraBackend.h"
#include "core/Settings.h"

namespace {

constexpr int kFrameWaitMs = 100;

// An open device. The GUI thread owns it; the stream thread reads frames and stills while playing.
struct Session
{
    int index = -1;
    std::unique_ptr<CameraStream> stream;
    CameraOpenParams params{};

    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<int> pendingStills{0};

    // Hand-over of live frames to the GUI thread: the newest frame wins, at most one hand-over is queued.
    std::mutex frameMutex;
    QImage latestFrame;
    bool frameQueued = false;
    QSize frameSize{640, 480};

    // GUI thread only.
    QPointer<VideoOverlay> overlay;
    QRect videoRect;
};

struct ComponentState
{
    // A device still playing when the process ends has its stream thread stopped, never abandoned.
    ~ComponentState()
    {
        for (auto& entry : sessions) {
            entry.second->running = false;
            if (entry.second->thread.joinable())
                entry.second->thread.join();
        }
    }

    std::unique_ptr<CameraBackend> backend;
    std::map<int, std::shared_ptr<Session>> sessions;
    std::atomic<DeviceLostCallback> lostCallback{nullptr};
    // GUI thread only.
    PreviewFrameCallback previewCallback = nullptr;
};

ComponentState& state()
{
    static ComponentState s;
    return s;
}

CameraBackend& backend()
{
    ComponentState& s = state();
    if (!s.backend) {
        if (Settings::camera() == QLatin1String("virtual"))
            s.backend = std::make_unique<VirtualCameraBackend>();
        else if (Settings::camera() == QLatin1String("desk"))
            s.backend = std::make_unique<VirtualCameraBackend>(1, true);
        else
            s.backend = createPlatformCameraBackend();
    }
    return *s.backend;
}

std::shared_ptr<Session> session(int index)
{
    const auto it = state().sessions.find(index);
    return it == state().sessions.end() ? nullptr : it->second;
}

void showLatestFrame(const std::weak_ptr<Session>& weak)
{
    const std::shared_ptr<Session> s = weak.lock();
    if (!s)
        return;
    QImage frame;
    {
        std::lock_guard<std::mutex> lock(s->frameMutex);
        frame = std::move(s->latestFrame);
        s->latestFrame = QImage();
        s->frameQueued = false;
    }
    if (frame.isNull())
        return;
    if (s->overlay)
        s->overlay->setFrame(frame);
    if (const PreviewFrameCallback callback = state().previewCallback)
        callback(s->index, frame);
}

// A lost device ends its stream thread, which tells the page once: the thread never spins on a dead device.
void endLostStream(Session* s)
{
    s->running = false;
    s->pendingStills = 0;
    if (const DeviceLostCallback callback = state().lostCallback.load())
        callback(s->index);
}

void streamLoop(std::weak_ptr<Session> weak, Session* s)
{
    while (s->running.load()) {
        if (s->pendingStills.load() > 0) {
            --s->pendingStills;
            QByteArray still = s->stream->captureStill();
            if (s->stream->lost()) {
                endLostStream(s);
                return;
            }
            if (s->params.stillCallback)
                s->params.stillCallback(reinterpret_cast<unsigned char*>(still.data()), still.size());
            continue;
        }
        QSize size;
        {
            std::lock_guard<std::mutex> lock(s->frameMutex);
            size = s->frameSize;
        }
        QImage frame;
        if (!s->stream->nextFrame(&frame, size, kFrameWaitMs)) {
            if (s->stream->lost()) {
                endLostStream(s);
                return;
            }
            continue;
        }
        if (!s->params.preview)
            continue;
        {
            std::lock_guard<std::mutex> lock(s->frameMutex);
            s->latestFrame = std::move(frame);
            if (s->frameQueued)
                continue;
            s->frameQueued = true;
        }
        // Widgets are painted on the GUI thread only.
        if (QCoreApplication::instance())
            QMetaObject::invokeMethod(
                qApp, [weak] { showLatestFrame(weak); }, Qt::QueuedConnection);
    }
}

void stopStreaming(Session& s)
{
    if (!s.thread.joinable())
        return;
    s.running = false;
    s.thread.join();
    s.stream->stop();
}

void placeOverlay(Session& s)
{
    if (!s.overlay)
        return;
    s.overlay->setGeometry(s.videoRect);
    s.overlay->setVisible(s.videoRect.isValid());
    std::lock_guard<std::mutex> lock(s.frameMutex);
    if (s.videoRect.isValid())
        s.frameSize = s.videoRect.size();
}

void closeSession(int index)
{
    const std::shared_ptr<Session> s = session(index);
    if (!s)
        return;
    stopStreaming(*s);
    delete s->overlay.data();
    state().sessions.erase(index);
}

void closeAll()
{
    while (!state().sessions.empty())
        closeSession(state().sessions.begin()->first);
}

// Stream threads draw and decode with the toolkit, which must not vanish under them: stop every device while the
// application object still exists.
void closeAllBeforeApplicationEnds()
{
    static bool registered = false;
    if (registered || !QCoreApplication::instance())
        return;
    registered = true;
    qAddPostRoutine([] {
        closeAll();
        registered = false;
    });
}

} // namespace

namespace CameraComponent {

void setBackend(std::unique_ptr<CameraBackend> newBackend)
{
    closeAll();
    state().backend = std::move(newBackend);
}

} // namespace CameraComponent

int hEnumVideoDevice()
{
    return backend().deviceCount();
}

int hGetVideoDeviceVIDPID(int index, int* vendorId, int* productId)
{
    int vendor = 0;
    int product = 0;
    const bool found = backend().deviceIds(index, &vendor, &product);
    if (vendorId)
        *vendorId = vendor;
    if (productId)
        *productId = product;
    return found ? 1 : 0;
}

int hQuerySupportResolutionAndFormat(int index, int list, ResolutionEntry* entries, int* count)
{
    if (!count)
        return 0;
    const QVector<ResolutionEntry> all = backend().resolutions(index, list);
    if (!entries) {
        *count = all.size();
        return 1;
    }
    const int n = qMin(*count, all.size());
    for (int i = 0; i < n; ++i)
        entries[i] = all.at(i);
    *count = n;
    return 1;
}

int hOpenCameraDevice(int index, CameraOpenParams params)
{
    if (session(index))
        return 0;
    std::unique_ptr<CameraStream> stream = backend().open(index, params);
    if (!stream)
        return 0;
    auto s = std::make_shared<Session>();
    s->index = index;
    s->stream = std::move(stream);
    s->params = params;
    state().sessions[index] = s;
    closeAllBeforeApplicationEnds();
    return 1;
}

int hSetVideoWindow(int index, WId window)
{
    const std::shared_ptr<Session> s = session(index);
    if (!s)
        return 0;
    delete s->overlay.data();
    if (window == 0)
        return 1;
    QWidget* target = QWidget::find(window);
    if (!target)
        return 0;
    s->overlay = new VideoOverlay(target);
    placeOverlay(*s);
    return 1;
}

int hSetVideoWindowPosition(int index, int x, int y, int width, int height)
{
    const std::shared_ptr<Session> s = session(index);
    if (!s)
        return 0;
    s->videoRect = QRect(x, y, width, height);
    placeOverlay(*s);
    return 1;
}

int hPlay(int index)
{
    const std::shared_ptr<Session> s = session(index);
    if (!s)
        return 0;
    if (s->running)
        return 1;
    // A stream that ended by itself (device lost) is started afresh.
    stopStreaming(*s);
    if (!s->stream->start())
        return 0;
    s->running = true;
    s->thread = std::thread(streamLoop, std::weak_ptr<Session>(s), s.get());
    return 1;
}

int hStop(int index)
{
    const std::shared_ptr<Session> s = session(index);
    if (!s)
        return 0;
    stopStreaming(*s);
    return 1;
}

int hCloseCameraDevice(int index)
{
    if (!session(index))
        return 0;
    closeSession(index);
    return 1;
}

int hFreeVideoDevice()
{
    closeAll();
    return 1;
}

int hSetDeviceLostCallback(DeviceLostCallback callback)
{
    state().lostCallback = callback;
    return 1;
}

int hSetPreviewFrameCallback(PreviewFrameCallback callback)
{
    state().previewCallback = callback;
    return 1;
}

int hStillTrigger(int index)
{
    const std::shared_ptr<Session> s = session(index);
    if (!s || !s->running || !s->params.stillsEnabled)
        return 0;
    ++s->pendingStills;
    return 1;
}
