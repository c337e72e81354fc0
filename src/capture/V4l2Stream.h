#pragma once

#include <memory>
#include <vector>

#include <QByteArray>
#include <QVector>

#include "capture/CameraBackend.h"
#include "capture/V4l2Syscalls.h"

// One opened Video4Linux device streaming through memory-mapped buffers: compressed frames as they come, YUYV
// converted here; stills in their own mode where that differs from the live video's.
class V4l2Stream : public CameraStream
{
public:
    struct Mode
    {
        quint32 pixelFormat = 0;
        int width = 0;
        int height = 0;
        int bytesPerLine = 0;
    };

    // Takes over fd, also to close it.
    V4l2Stream(std::shared_ptr<V4l2Syscalls> sys, int fd, const CameraOpenParams& params);
    ~V4l2Stream() override;

    // The live video mode, with its buffers.
    bool configureVideo();

    bool start() override;
    void stop() override;
    bool nextFrame(QImage* frame, QSize size, int timeoutMs) override;
    QByteArray captureStill() override;
    bool lost() const override;

    // The component's format code (0 compressed, 1 YUYV) of a pixel format; -1 for one not used here.
    static int formatCode(quint32 pixelFormat);
    // The pixel formats of the device that have a format code.
    static QVector<quint32> offeredFormats(V4l2Syscalls& sys, int fd);

private:
    struct Buffer;

    bool configure(int code, int width, int height);
    void releaseBuffers();
    void tearDown();
    void streamOff();
    bool enterStillMode();
    void restartVideo();
    QByteArray stillFromFrame(const QByteArray& raw) const;
    bool readFrame(QByteArray* raw, int timeoutMs);
    bool noteFailure(int error);
    void noteError(int error);

    std::shared_ptr<V4l2Syscalls> m_sys;
    int m_fd;
    CameraOpenParams m_params;
    QVector<quint32> m_offered;
    std::vector<Buffer> m_buffers;
    Mode m_mode;  // what the device streams now
    Mode m_video; // the live video's mode
    bool m_streaming = false;
    bool m_stillIsVideoMode = false;
    bool m_lost = false;
    int m_failures = 0;
};
