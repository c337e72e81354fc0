#include "capture/V4l2Stream.h"

#include <algorithm>
#include <cerrno>

#include <linux/videodev2.h>
#include <sys/mman.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include "capture/MjpegFrame.h"

namespace {

constexpr int kFormatMjpeg = 0;
constexpr int kFormatYuyv = 1;
constexpr int kStillWaitMs = 2000;
// A still is taken from the first whole frame among this many.
constexpr int kStillTries = 5;
// Reads that fail one after another, without a frame between them, before the device counts as lost.
constexpr int kFailuresBeforeLost = 20;
constexpr int kStillJpegQuality = 90;

// The pixel format that serves a format code on this device: compressed frames are taken as they are, and YUYV
// (converted here) only where the device offers nothing compressed, or where it was asked for.
quint32 pickPixelFormat(const QVector<quint32>& offered, int code)
{
    const quint32 compressedFirst[] = {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_JPEG, V4L2_PIX_FMT_YUYV};
    const quint32 yuyvFirst[] = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_JPEG};
    for (quint32 format : (code == kFormatYuyv ? yuyvFirst : compressedFirst)) {
        if (offered.contains(format))
            return format;
    }
    return 0;
}

// A whole compressed frame as a decodable JPEG; empty when the frame was cut short.
QByteArray wholeJpeg(const QByteArray& raw)
{
    return MjpegFrame::withHuffmanTables(MjpegFrame::wholeFrame(raw));
}

quint8 clampByte(int value)
{
    return quint8(std::clamp(value, 0, 255));
}

// Packed 4:2:2 (Y0 U Y1 V per two pixels), ITU-R BT.601 with studio range.
QImage imageFromYuyv(const QByteArray& frame, int width, int height, int bytesPerLine)
{
    if (width <= 0 || height <= 0 || bytesPerLine < width * 2 || frame.size() < bytesPerLine * (height - 1) + width * 2)
        return QImage();
    QImage image(width, height, QImage::Format_RGB32);
    const auto* data = reinterpret_cast<const quint8*>(frame.constData());
    for (int y = 0; y < height; ++y) {
        const quint8* in = data + y * bytesPerLine;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x + 1 < width; x += 2, in += 4) {
            const int d = in[1] - 128;
            const int e = in[3] - 128;
            for (int i = 0; i < 2; ++i) {
                const int c = 298 * (in[i * 2] - 16);
                out[x + i] = qRgb(clampByte((c + 409 * e + 128) >> 8), clampByte((c - 100 * d - 208 * e + 128) >> 8),
                                  clampByte((c + 516 * d + 128) >> 8));
            }
        }
        if (width % 2)
            out[width - 1] = out[width - 2];
    }
    return image;
}

} // namespace

struct V4l2Stream::Buffer
{
    void* start = MAP_FAILED;
    size_t length = 0;
};

int V4l2Stream::formatCode(quint32 pixelFormat)
{
    if (pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG)
        return kFormatMjpeg;
    if (pixelFormat == V4L2_PIX_FMT_YUYV)
        return kFormatYuyv;
    return -1;
}

QVector<quint32> V4l2Stream::offeredFormats(V4l2Syscalls& sys, int fd)
{
    QVector<quint32> formats;
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (format.index = 0; xioctl(sys, fd, VIDIOC_ENUM_FMT, &format) != -1; ++format.index) {
        if (formatCode(format.pixelformat) >= 0)
            formats.append(format.pixelformat);
    }
    return formats;
}

V4l2Stream::V4l2Stream(std::shared_ptr<V4l2Syscalls> sys, int fd, const CameraOpenParams& params)
    : m_sys(std::move(sys)), m_fd(fd), m_params(params), m_offered(offeredFormats(*m_sys, fd))
{
}

V4l2Stream::~V4l2Stream()
{
    tearDown();
    m_sys->close(m_fd);
}

// The live video mode, with its buffers.
bool V4l2Stream::configureVideo()
{
    if (!configure(m_params.videoFormat, m_params.videoWidth, m_params.videoHeight))
        return false;
    m_video = m_mode;
    return true;
}

bool V4l2Stream::start()
{
    if (m_lost)
        return false;
    bool queued = true;
    for (quint32 i = 0; i < m_buffers.size() && queued; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        queued = xioctl(*m_sys, m_fd, VIDIOC_QBUF, &buf) != -1;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (!queued || xioctl(*m_sys, m_fd, VIDIOC_STREAMON, &type) == -1) {
        noteError(errno);
        streamOff(); // hands back the buffers queued so far
        return false;
    }
    m_streaming = true;
    return true;
}

void V4l2Stream::stop()
{
    if (m_streaming)
        streamOff();
    m_streaming = false;
}

bool V4l2Stream::nextFrame(QImage* frame, QSize size, int timeoutMs)
{
    QByteArray raw;
    if (!readFrame(&raw, timeoutMs))
        return false;
    if (m_mode.pixelFormat == V4L2_PIX_FMT_YUYV) {
        const QImage image = imageFromYuyv(raw, m_mode.width, m_mode.height, m_mode.bytesPerLine);
        if (image.isNull())
            return false;
        *frame = size.isValid() ? image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation) : image;
        return true;
    }
    // A frame cut short would show as a grey band: wait for the next one.
    QByteArray jpeg = wholeJpeg(raw);
    if (jpeg.isEmpty())
        return false;
    QBuffer device(&jpeg);
    QImageReader reader(&device, "JPG");
    // The decoder scales while decoding, far cheaper than decoding the full frame and shrinking it.
    if (size.isValid())
        reader.setScaledSize(size);
    return reader.read(frame);
}

QByteArray V4l2Stream::captureStill()
{
    const bool switched = enterStillMode();
    QByteArray still;
    for (int attempt = 0; attempt < kStillTries && still.isEmpty() && !m_lost; ++attempt) {
        QByteArray raw;
        if (readFrame(&raw, kStillWaitMs))
            still = stillFromFrame(raw);
    }
    if (switched)
        restartVideo();
    return still;
}

bool V4l2Stream::lost() const
{
    return m_lost;
}

// Sets the format (the driver picks the nearest size it has) and maps fresh buffers. The driver refuses a new
// format while buffers are allocated, so those of an earlier mode must be released first.
bool V4l2Stream::configure(int code, int width, int height)
{
    const quint32 pixelFormat = pickPixelFormat(m_offered, code);
    if (!pixelFormat)
        return false;
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = quint32(std::max(1, width));
    format.fmt.pix.height = quint32(std::max(1, height));
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (xioctl(*m_sys, m_fd, VIDIOC_S_FMT, &format) == -1) {
        noteError(errno);
        return false;
    }
    // The driver may answer with another of its formats.
    if (formatCode(format.fmt.pix.pixelformat) < 0)
        return false;
    Mode mode;
    mode.pixelFormat = format.fmt.pix.pixelformat;
    mode.width = int(format.fmt.pix.width);
    mode.height = int(format.fmt.pix.height);
    mode.bytesPerLine = std::max(int(format.fmt.pix.bytesperline), mode.width * 2);

    v4l2_requestbuffers request{};
    request.count = quint32(std::clamp(m_params.bufferCount, 2, 8));
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(*m_sys, m_fd, VIDIOC_REQBUFS, &request) == -1 || request.count < 1) {
        noteError(errno);
        return false;
    }
    m_buffers.assign(request.count, Buffer());
    for (quint32 i = 0; i < request.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (xioctl(*m_sys, m_fd, VIDIOC_QUERYBUF, &buf) == -1) {
            noteError(errno);
            releaseBuffers();
            return false;
        }
        m_buffers[i].length = buf.length;
        m_buffers[i].start = m_sys->mmap(buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, buf.m.offset);
        if (m_buffers[i].start == MAP_FAILED) {
            releaseBuffers();
            return false;
        }
    }
    m_mode = mode;
    return true;
}

void V4l2Stream::releaseBuffers()
{
    if (m_buffers.empty())
        return;
    for (const Buffer& buffer : m_buffers) {
        if (buffer.start != MAP_FAILED)
            m_sys->munmap(buffer.start, buffer.length);
    }
    m_buffers.clear();
    v4l2_requestbuffers request{};
    request.count = 0;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    xioctl(*m_sys, m_fd, VIDIOC_REQBUFS, &request);
}

// Streaming stopped and the buffers handed back: only then does the driver take a new format.
void V4l2Stream::tearDown()
{
    stop();
    releaseBuffers();
}

void V4l2Stream::streamOff()
{
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl(*m_sys, m_fd, VIDIOC_STREAMOFF, &type); // also returns every queued buffer to us
}

// Stills come in their own mode when it differs from the live video's: the stream is stopped, set to the
// still's format and size, and started again. False when the stills come from the live video as it is.
bool V4l2Stream::enterStillMode()
{
    if (m_stillIsVideoMode || m_params.stillWidth <= 0 || m_params.stillHeight <= 0)
        return false;
    if (m_params.stillWidth == m_video.width && m_params.stillHeight == m_video.height &&
        pickPixelFormat(m_offered, m_params.stillFormat) == m_video.pixelFormat)
        return false;
    tearDown();
    if (!configure(m_params.stillFormat, m_params.stillWidth, m_params.stillHeight)) {
        // No still mode to be had: the live video serves.
        restartVideo();
        m_stillIsVideoMode = !m_lost;
        return false;
    }
    // The driver's nearest still mode may be the video mode itself: no switching for later stills.
    m_stillIsVideoMode =
        m_mode.pixelFormat == m_video.pixelFormat && m_mode.width == m_video.width && m_mode.height == m_video.height;
    if (!start()) {
        restartVideo();
        return false;
    }
    return true;
}

// Back to the live video; a device that cannot go back has stopped delivering.
void V4l2Stream::restartVideo()
{
    tearDown();
    if (m_lost)
        return;
    if (!configureVideo() || !start())
        m_lost = true;
}

QByteArray V4l2Stream::stillFromFrame(const QByteArray& raw) const
{
    if (m_mode.pixelFormat == V4L2_PIX_FMT_YUYV) {
        const QImage image = imageFromYuyv(raw, m_mode.width, m_mode.height, m_mode.bytesPerLine);
        if (image.isNull())
            return QByteArray();
        QByteArray jpeg;
        QBuffer device(&jpeg);
        device.open(QIODevice::WriteOnly);
        QImageWriter writer(&device, "JPG");
        writer.setQuality(kStillJpegQuality);
        return writer.write(image) ? jpeg : QByteArray();
    }
    // Only a whole JPEG that decodes becomes a photograph; a coarse decode reads every byte of the scan.
    QByteArray jpeg = wholeJpeg(raw);
    if (jpeg.isEmpty())
        return QByteArray();
    QBuffer device(&jpeg);
    QImageReader reader(&device, "JPG");
    const QSize size = reader.size();
    if (!size.isValid())
        return QByteArray();
    reader.setScaledSize(QSize(std::max(1, size.width() / 8), std::max(1, size.height() / 8)));
    return reader.read().isNull() ? QByteArray() : jpeg;
}

// Waits for the next filled buffer and copies it out. False on a timeout, a failed read or an empty frame.
bool V4l2Stream::readFrame(QByteArray* raw, int timeoutMs)
{
    if (!m_streaming || m_lost)
        return false;
    pollfd pfd{m_fd, POLLIN, 0};
    const int ready = m_sys->poll(&pfd, 1, timeoutMs);
    if (ready == 0 || (ready == -1 && errno == EINTR))
        return false;
    if (ready == -1)
        return noteFailure(errno);
    // Ready, or in error: the dequeue tells which.
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    if (xioctl(*m_sys, m_fd, VIDIOC_DQBUF, &buf) == -1)
        return noteFailure(errno);
    m_failures = 0;
    bool ok = false;
    if (buf.index < m_buffers.size() && !(buf.flags & V4L2_BUF_FLAG_ERROR)) {
        const size_t used = std::min<size_t>(buf.bytesused, m_buffers[buf.index].length);
        *raw = QByteArray(static_cast<const char*>(m_buffers[buf.index].start), int(used));
        ok = used > 0;
    }
    if (xioctl(*m_sys, m_fd, VIDIOC_QBUF, &buf) == -1)
        noteFailure(errno);
    return ok;
}

// A device that is gone answers ENODEV (unplugged) or EIO (its queue in error); anything else counts, and
// enough failures in a row without a frame mean the device no longer delivers.
bool V4l2Stream::noteFailure(int error)
{
    noteError(error);
    if (++m_failures >= kFailuresBeforeLost)
        m_lost = true;
    return false;
}

void V4l2Stream::noteError(int error)
{
    if (error == ENODEV || error == EIO || error == ENXIO)
        m_lost = true;
}
