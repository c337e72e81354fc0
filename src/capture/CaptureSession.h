#pragma once

#include <functional>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QtGui/qwindowdefs.h>

#include "core/TaskFolders.h"

class QImage;

// The document camera as the capture page drives it, without widgets: finding the device, opening and playing it
// on a native window, taking stills behind the 1000 ms guard, handing each still over to the task's folders, and
// the word that the device was lost. The camera's callbacks are plain functions, so there is one session per
// process; it outlives the pages, as the counter of stills saved in this run does.
class CaptureSession : public QObject
{
    Q_OBJECT

public:
    struct VideoMode
    {
        int width;
        int height;
        int format;
    };
    enum class Open
    {
        Opened,
        Playing,
        NoCamera,
        CannotOpen
    };
    enum class Take
    {
        Guarded,
        NotOpen,
        Asked,
        Refused
    };
    // What became of a still handed over: saved (and its preview, when that could be written), or the reason.
    struct HandOver
    {
        bool saved = false;
        QString previewPath;
        QString problem;
        QString lowSpaceWarning;
    };

    static CaptureSession& process();

    // Only the latest page is told of stills, preview frames and a lost device.
    void claim(QObject* page);

    // Makes the task's image and preview folders; nothing without a task.
    void setTask(const TaskFolders& folders);
    QString imageFolder() const;
    QString previewFolder() const;

    // Looks the devices up and picks the document camera among them.
    void findDevices();
    // Opens the document camera, unless it plays already. A device that does not open, or then does not play, is
    // closed again and freed, and looked up afresh before the next start.
    Open open();
    // Plays the opened camera in window at size; false when it does not stream.
    bool play(WId window, const QSize& size);
    void stop();
    // A device that failed or was lost is closed (when it was opened) and freed; the next start tries afresh.
    void fail(bool deviceOpened);
    // Shows the video in window at size again (new native windows after full screen, a new size).
    void attach(WId window, const QSize& size);
    void place(const QSize& size);
    // Asks for a still, at most one a second.
    Take take();
    // Asks for one more still of the same sheet, not counted by the guard.
    bool takeAgain();
    // The page is done with a still that came in.
    void stillHandled();
    HandOver handOver(const QByteArray& jpeg);

    bool isOpen() const { return m_open; }
    int deviceIndex() const { return m_deviceIndex; }
    VideoMode stillMode() const { return m_stillMode; }
    int capturedCount() const { return m_capturedCount; }
    int stillsPending() const { return m_stillsPending; }
    qint64 nowMs() const;

    // Tests: free bytes on the disk holding a folder (-1: unknown); an empty function restores the system's answer.
    void setFreeSpaceProbe(std::function<qint64(const QString& folder)> probe);
    // Back to the state at process start: closes the camera and forgets counter, guard time and task.
    void reset();

    // The camera's callbacks: may run on any thread, the work is done on the GUI thread.
    static void onStillCaptured(unsigned char* data, int length);
    static void onDeviceLost(int index);
    static void onPreviewFrame(int index, const QImage& frame);

signals:
    // A still came in; usable when the camera is open and the still not empty.
    void stillArrived(const QByteArray& jpeg, bool usable);
    void deviceLost();
    void previewFrame(const QImage& frame);

private:
    CaptureSession() = default;
    qint64 freeBytes(const QString& folder) const;

    struct DeviceEntry
    {
        int index;
        bool matched;
    };

    QPointer<QObject> m_page;
    QList<DeviceEntry> m_devices;
    int m_deviceIndex = -1;
    VideoMode m_stillMode{0, 0, 0};
    bool m_open = false;
    // A camera that failed or was lost may come back under another index: look the devices up again first.
    bool m_findAgain = false;
    qint64 m_lastTriggerTime = 0;
    int m_capturedCount = 0;
    // Stills asked for and not yet handled: the take button looks pressed meanwhile.
    int m_stillsPending = 0;
    TaskFolders m_folders;
    std::function<qint64(const QString&)> m_freeSpace;
    // The low-disk warning is given once per run.
    bool m_lowSpaceWarned = false;
};
