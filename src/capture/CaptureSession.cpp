#include "capture/CaptureSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStorageInfo>
#include <QThread>
#include <QUuid>
#include <QVector>

#include "capture/CameraComponent.h"
#include "core/AppLog.h"
#include "core/Clock.h"
#include "core/LaunchContext.h"
#include "upload/UploadFolder.h"

namespace {

constexpr int kCameraVendorId = 0x0EDC;
constexpr int kCameraProductId = 0x2003;
constexpr qint64 kTakeGuardMs = 1000;
// Below this much free space after a photograph the teacher is warned: a few dozen more still fit.
constexpr qint64 kLowSpaceBytes = 200LL * 1024 * 1024;
// Room kept free beyond the photograph itself, for the database and the log.
constexpr qint64 kSpareBytes = 1024 * 1024;

void logLine(const QString& text)
{
    AppLog::write(QStringLiteral("capture: ") + text);
}

QVector<ResolutionEntry> queryResolutions(int index, int list)
{
    int count = 0;
    hQuerySupportResolutionAndFormat(index, list, nullptr, &count);
    QVector<ResolutionEntry> entries(qMax(0, count));
    if (count > 0) {
        hQuerySupportResolutionAndFormat(index, list, entries.data(), &count);
        entries.resize(qBound(0, count, entries.size()));
    }
    return entries;
}

// The camera's callbacks may run on its stream thread: the session is touched on the GUI thread only.
void onGuiThread(const std::function<void()>& work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() == app->thread())
        work();
    else
        QMetaObject::invokeMethod(app, work, Qt::QueuedConnection);
}

} // namespace

CaptureSession& CaptureSession::process()
{
    static CaptureSession session;
    return session;
}

void CaptureSession::claim(QObject* page)
{
    if (m_page && m_page != page)
        disconnect(this, nullptr, m_page, nullptr);
    m_page = page;
}

void CaptureSession::setTask(const TaskFolders& folders)
{
    m_folders = folders;
    // Without a task there is no task folder: image/ itself must not gain a preview folder.
    if (!folders.isValid())
        return;
    m_folders.ensure();
}

QString CaptureSession::imageFolder() const
{
    return m_folders.imageFolder();
}

QString CaptureSession::previewFolder() const
{
    return m_folders.previewFolder();
}

void CaptureSession::findDevices()
{
    m_deviceIndex = -1;
    m_devices.clear();
    const int count = hEnumVideoDevice();
    for (int i = 0; i < count; ++i) {
        int vendor = 0;
        int product = 0;
        hGetVideoDeviceVIDPID(i, &vendor, &product);
        DeviceEntry entry{i, false};
        if (vendor == kCameraVendorId && product == kCameraProductId) {
            entry.matched = true;
            m_deviceIndex = i;
        }
        m_devices.append(entry);
    }
    hSetDeviceLostCallback(&CaptureSession::onDeviceLost);
}

CaptureSession::Open CaptureSession::open()
{
    if (m_findAgain && !m_open) {
        m_findAgain = false;
        findDevices();
    }
    for (const DeviceEntry& entry : qAsConst(m_devices)) {
        if (entry.matched) {
            m_deviceIndex = entry.index;
            break;
        }
    }
    if (m_deviceIndex < 0)
        return Open::NoCamera;
    if (m_open)
        return Open::Playing;

    queryResolutions(m_deviceIndex, 0);
    const VideoMode videoMode{2048, 1536, 0};
    m_stillMode = {0, 0, 0};
    for (const ResolutionEntry& entry : queryResolutions(m_deviceIndex, 1)) {
        if (entry.format == 0 && entry.width > m_stillMode.width) {
            m_stillMode.width = entry.width;
            if (entry.height > m_stillMode.height)
                m_stillMode.height = entry.height;
        }
    }

    CameraOpenParams params{};
    params.videoWidth = videoMode.width;
    params.videoHeight = videoMode.height;
    params.videoFormat = videoMode.format;
    params.bufferCount = 3;
    params.mirror = 0;
    params.preview = 1;
    params.stillWidth = m_stillMode.width;
    params.stillHeight = m_stillMode.height;
    params.stillFormat = m_stillMode.format;
    params.rotation = 0;
    params.stillsEnabled = 1;
    params.stillCallback = &CaptureSession::onStillCaptured;
    if (!hOpenCameraDevice(m_deviceIndex, params)) {
        fail(false);
        return Open::CannotOpen;
    }
    return Open::Opened;
}

bool CaptureSession::play(WId window, const QSize& size)
{
    hSetVideoWindow(m_deviceIndex, window);
    hSetVideoWindowPosition(m_deviceIndex, 0, 0, size.width(), size.height());
    // A device that opens but does not stream (refused for lack of USB bandwidth, say) has failed as well.
    if (!hPlay(m_deviceIndex)) {
        fail(true);
        return false;
    }
    m_open = true;
    return true;
}

void CaptureSession::stop()
{
    if (!m_open)
        return;
    hStop(m_deviceIndex);
    hSetVideoWindow(m_deviceIndex, 0);
    hCloseCameraDevice(m_deviceIndex);
    m_open = false;
}

void CaptureSession::fail(bool deviceOpened)
{
    if (deviceOpened && m_deviceIndex >= 0) {
        hStop(m_deviceIndex);
        hSetVideoWindow(m_deviceIndex, 0);
        hCloseCameraDevice(m_deviceIndex);
    }
    hFreeVideoDevice();
    m_open = false;
    m_stillsPending = 0;
    m_findAgain = true;
}

void CaptureSession::attach(WId window, const QSize& size)
{
    if (!m_open || m_deviceIndex < 0)
        return;
    hSetVideoWindow(m_deviceIndex, window);
    place(size);
}

void CaptureSession::place(const QSize& size)
{
    // The video rectangle follows only an open device.
    if (m_open && m_deviceIndex >= 0)
        hSetVideoWindowPosition(m_deviceIndex, 0, 0, size.width(), size.height());
}

CaptureSession::Take CaptureSession::take()
{
    const qint64 now = nowMs();
    if (now - m_lastTriggerTime < kTakeGuardMs)
        return Take::Guarded;
    m_lastTriggerTime = now;
    if (!m_open)
        return Take::NotOpen;
    if (!hStillTrigger(m_deviceIndex))
        return Take::Refused;
    ++m_stillsPending;
    return Take::Asked;
}

bool CaptureSession::takeAgain()
{
    // Taken again only while no other still is on its way: that one may show the next sheet.
    if (m_stillsPending > 1 || !hStillTrigger(m_deviceIndex))
        return false;
    ++m_stillsPending;
    return true;
}

void CaptureSession::stillHandled()
{
    if (m_stillsPending > 0)
        --m_stillsPending;
}

CaptureSession::HandOver CaptureSession::handOver(const QByteArray& jpeg)
{
    HandOver result;
    // Without a task the folder would be image/ itself, which nothing uploads: keep nothing and say so.
    if (!m_folders.isValid()) {
        result.problem = LaunchContext::missingTaskText();
        return result;
    }
    // Both copies appear under their final names only when complete: the upload worker takes every image it
    // finds in the folder.
    const QString folder = imageFolder();
    const QString preview = previewFolder();
    // A folder removed meanwhile is made again; only what cannot be made is a failure.
    m_folders.ensure();
    const QString uploadName = QUuid::createUuid().toString() + QStringLiteral(".jpg");
    const QString previewName = QUuid::createUuid().toString() + QStringLiteral(".jpg");
    // Count only what reached the upload folder; a photograph that did not is not shown as taken either, and the
    // teacher is told why.
    const qint64 available = freeBytes(folder);
    QString error;
    QString cause;
    if (!QFileInfo(folder).isDir()) {
        cause = QStringLiteral("照片文件夹不存在且无法创建");
    } else if (available >= 0 && available < jpeg.size() + kSpareBytes) {
        cause = QStringLiteral("磁盘空间不足");
    } else if (!QFileInfo(folder).isWritable()) {
        cause = QStringLiteral("没有写入照片文件夹的权限");
    } else if (!UploadFolder::placeBytes(folder, uploadName, jpeg, &error)) {
        cause = QStringLiteral("写入照片文件失败（%1）").arg(error);
    }
    if (!cause.isEmpty()) {
        logLine(QStringLiteral("photograph not saved in %1: %2 %3").arg(folder, cause, error));
        result.problem = QStringLiteral("照片未能保存：%1。\n%2").arg(cause, QDir::toNativeSeparators(folder));
        return result;
    }
    result.saved = true;
    ++m_capturedCount;
    if (UploadFolder::placeBytes(preview, previewName, jpeg, &error))
        result.previewPath = preview + previewName;
    else
        logLine(QStringLiteral("preview not saved in %1: %2").arg(preview, error));
    const qint64 left = available >= 0 ? available - jpeg.size() : -1;
    if (left >= 0 && left < kLowSpaceBytes && !m_lowSpaceWarned) {
        m_lowSpaceWarned = true;
        logLine(QStringLiteral("low disk space: %1 bytes left in %2").arg(left).arg(folder));
        result.lowSpaceWarning =
            QStringLiteral("磁盘剩余空间已不足 %1 MB，请尽快清理磁盘，否则照片将无法保存。").arg(left / (1024 * 1024));
    }
    return result;
}

qint64 CaptureSession::nowMs() const
{
    // The take guard measures elapsed time: a clock set back must not ignore the button for an hour.
    return Clock::current().monotonicMSecs();
}

qint64 CaptureSession::freeBytes(const QString& folder) const
{
    if (m_freeSpace)
        return m_freeSpace(folder);
    QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

void CaptureSession::setFreeSpaceProbe(std::function<qint64(const QString& folder)> probe)
{
    m_freeSpace = std::move(probe);
}

void CaptureSession::reset()
{
    hFreeVideoDevice();
    m_open = false;
    m_lastTriggerTime = 0;
    m_capturedCount = 0;
    m_stillsPending = 0;
    m_folders = TaskFolders();
    m_freeSpace = nullptr;
    m_lowSpaceWarned = false;
}

void CaptureSession::onStillCaptured(unsigned char* data, int length)
{
    // The bytes belong to the camera only for the duration of this call.
    QByteArray jpeg = (data && length > 0) ? QByteArray(reinterpret_cast<const char*>(data), length) : QByteArray();
    onGuiThread([jpeg] {
        CaptureSession& session = process();
        emit session.stillArrived(jpeg, session.m_open && !jpeg.isEmpty());
    });
}

void CaptureSession::onDeviceLost(int index)
{
    onGuiThread([index] {
        CaptureSession& session = process();
        if (session.m_open && index == session.m_deviceIndex)
            emit session.deviceLost();
    });
}

void CaptureSession::onPreviewFrame(int index, const QImage& frame)
{
    CaptureSession& session = process();
    if (index == session.m_deviceIndex)
        emit session.previewFrame(frame);
}
