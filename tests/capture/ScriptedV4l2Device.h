#pragma once

#include <cerrno>
#include <mutex>

#include <QByteArray>
#include <QHash>
#include <QSize>
#include <QStringList>
#include <QVector>

#include "capture/V4l2Syscalls.h"

// A Video4Linux capture device played from a script, behind the system calls the stream code makes. It keeps the
// kernel's rules the stream code must follow (no new format while buffers exist, no freeing mapped buffers, a
// buffer queued once, poll in error while not streaming) and answers with what a script asks for: the formats and
// sizes it offers, STREAMON refused, the device unplugged after some frames, frames cut short or padded. Its frames
// are the test picture at the size set, as JPEG or as YUYV.
class ScriptedV4l2Device : public V4l2Syscalls
{
public:
    struct Format
    {
        quint32 fourcc;
        QVector<QSize> sizes;
    };

    enum class Cut
    {
        None,
        FirstAfterStreamOn, // the first frame after each STREAMON ends halfway
        Every,
    };

    struct Script
    {
        QVector<Format> formats;
        int streamOnError = 0;     // errno of a refused STREAMON, 0: accepted
        int framesBeforeLoss = -1; // the device fails for good after delivering this many frames; -1: never
        int lossError = ENODEV;    // what every call answers from then on (ENODEV: unplugged)
        Cut cut = Cut::None;
        bool padded = false; // frames fill their whole buffer, zeros after the image
    };

    explicit ScriptedV4l2Device(Script script);

    // Every call made so far, one line each ("open", "ioctl", "STREAMON", "poll", ...); an accepted format request
    // also logs the mode the device set ("set MJPG 2048x1536").
    QStringList calls() const;
    int callCount() const;
    int count(const QString& call) const;
    // Descriptors still open, buffers still mapped.
    int openDescriptors() const;
    int mappedBuffers() const;

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    void* mmap(size_t length, int prot, int flags, int fd, off_t offset) override;
    int munmap(void* start, size_t length) override;
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override;

private:
    struct Buffer
    {
        QByteArray memory;
        bool mapped = false;
        bool queued = false; // with the driver, waiting to be filled
        bool filled = false; // done, waiting to be dequeued
        quint32 bytesUsed = 0;
        quint32 sequence = 0;
    };

    int fail(int error);
    void log(const QString& call);
    const Format* format(quint32 fourcc) const;
    QByteArray frameBytes();
    int handle(int fd, unsigned long request, void* arg);

    const Script m_script;
    mutable std::mutex m_mutex;
    QStringList m_calls;
    QVector<int> m_open;
    int m_nextFd = 100;
    quint32 m_fourcc = 0;
    QSize m_size;
    QVector<Buffer> m_buffers;
    bool m_streaming = false;
    bool m_lost = false;
    int m_delivered = 0;
    int m_sinceStreamOn = 0;
    quint32 m_sequence = 0;
    QHash<QString, QByteArray> m_frames;
};
