#include "capture/V4l2CameraBackend.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>

#include "capture/MjpegFrame.h"

namespace {

constexpr int kFormatMjpeg = 0;
constexpr int kFormatYuyv = 1;
constexpr int kStillWaitMs = 2000;

int xioctl(int fd, unsigned long request, void* arg)
{
    int result;
    do {
        result = ioctl(fd, request, arg);
    } while (result == -1 && errno == EINTR);
    return result;
}

class FileDescriptor
{
public:
    explicit FileDescriptor(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK))
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

bool isCaptureNode(const QString& path)
{
    FileDescriptor fd(path);
    if (fd.get() < 0)
        return false;
    v4l2_capability caps{};
    if (xioctl(fd.get(), VIDIOC_QUERYCAP, &caps) == -1)
        return false;
    const quint32 mode = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    return (mode & V4L2_CAP_VIDEO_CAPTURE) && (mode & V4L2_CAP_STREAMING);
}

int formatCode(quint32 pixelFormat)
{
    if (pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG)
        return kFormatMjpeg;
    if (pixelFormat == V4L2_PIX_FMT_YUYV)
        return kFormatYuyv;
    return -1;
}

bool readHexFile(const QString& path, int* value)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const int parsed = QString::fromLatin1(file.readAll()).trimmed().toInt(&ok, 16);
    if (ok)
        *value = parsed;
    return ok;
}

class V4l2Stream : public CameraStream
{
public:
    struct Buffer
    {
        void* start = MAP_FAILED;
        size_t length = 0;
    };

    V4l2Stream(int fd, std::vector<Buffer> buffers) : m_fd(fd), m_buffers(std::move(buffers)) {}

    ~V4l2Stream() override
    {
        stop();
        for (const Buffer& buffer : m_buffers) {
            if (buffer.start != MAP_FAILED)
                munmap(buffer.start, buffer.length);
        }
        ::close(m_fd);
    }

    bool start() override
    {
        for (quint32 i = 0; i < m_buffers.size(); ++i) {
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            buf.index = i;
            if (xioctl(m_fd, VIDIOC_QBUF, &buf) == -1)
                return false;
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        m_streaming = xioctl(m_fd, VIDIOC_STREAMON, &type) != -1;
        return m_streaming;
    }

    void stop() override
    {
        if (!m_streaming)
            return;
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(m_fd, VIDIOC_STREAMOFF, &type); // also returns every queued buffer to us
        m_streaming = false;
    }

    bool nextFrame(QImage* frame, QSize size, int timeoutMs) override
    {
        QByteArray jpeg;
        if (!readFrame(&jpeg, timeoutMs))
            return false;
        jpeg = MjpegFrame::withHuffmanTables(jpeg);
        QBuffer device(&jpeg);
        QImageReader reader(&device, "JPG");
        // The decoder scales while decoding, far cheaper than decoding the full frame and shrinking it.
        if (size.isValid())
            reader.setScaledSize(size);
        return reader.read(frame);
    }

    QByteArray captureStill() override
    {
        QByteArray jpeg;
        if (!readFrame(&jpeg, kStillWaitMs))
            return QByteArray();
        return MjpegFrame::withHuffmanTables(jpeg);
    }

private:
    bool readFrame(QByteArray* jpeg, int timeoutMs)
    {
        if (!m_streaming)
            return false;
        pollfd pfd{m_fd, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) <= 0)
            return false;
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        if (xioctl(m_fd, VIDIOC_DQBUF, &buf) == -1)
            return false;
        bool ok = false;
        if (buf.index < m_buffers.size() && !(buf.flags & V4L2_BUF_FLAG_ERROR)) {
            const size_t used = std::min<size_t>(buf.bytesused, m_buffers[buf.index].length);
            *jpeg = QByteArray(static_cast<const char*>(m_buffers[buf.index].start), int(used));
            ok = used > 0;
        }
        xioctl(m_fd, VIDIOC_QBUF, &buf);
        return ok;
    }

    int m_fd;
    std::vector<Buffer> m_buffers;
    bool m_streaming = false;
};

} // namespace

V4l2CameraBackend::V4l2CameraBackend(const QString& deviceDir, const QString& sysfsRoot)
    : m_deviceDir(deviceDir), m_sysfsRoot(sysfsRoot)
{
}

int V4l2CameraBackend::deviceCount()
{
    m_nodes.clear();
    QStringList names = QDir(m_deviceDir).entryList({QStringLiteral("video*")}, QDir::System | QDir::Files);
    const QRegularExpression pattern(QStringLiteral("^video(\\d+)$"));
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&pattern](const QString& name) { return !pattern.match(name).hasMatch(); }),
                names.end());
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.mid(5).toInt() < b.mid(5).toInt(); });
    for (const QString& name : names) {
        if (isCaptureNode(m_deviceDir + QLatin1Char('/') + name))
            m_nodes.append(name);
    }
    return m_nodes.size();
}

QString V4l2CameraBackend::nodePath(int index) const
{
    if (index < 0 || index >= m_nodes.size())
        return QString();
    return m_deviceDir + QLatin1Char('/') + m_nodes.at(index);
}

bool V4l2CameraBackend::deviceIds(int index, int* vendorId, int* productId)
{
    if (index < 0 || index >= m_nodes.size())
        return false;
    return readUsbIds(m_sysfsRoot, m_nodes.at(index), vendorId, productId);
}

bool V4l2CameraBackend::readUsbIds(const QString& sysfsRoot, const QString& nodeName, int* vendorId, int* productId)
{
    const QString link = sysfsRoot + QStringLiteral("/class/video4linux/") + nodeName + QStringLiteral("/device");
    QString dir = QFileInfo(link).canonicalFilePath();
    if (dir.isEmpty())
        return false;
    const QString interfaceDir = dir;
    // The interface sits one level below the USB device; look a few levels up in case of extra layers.
    for (int level = 0; level < 4 && !dir.isEmpty(); ++level) {
        int vendor = 0;
        int product = 0;
        if (readHexFile(dir + QStringLiteral("/idVendor"), &vendor) &&
            readHexFile(dir + QStringLiteral("/idProduct"), &product)) {
            *vendorId = vendor;
            *productId = product;
            return true;
        }
        const QString parent = QFileInfo(dir).path();
        if (parent == dir)
            break;
        dir = parent;
    }
    QFile modalias(interfaceDir + QStringLiteral("/modalias"));
    if (!modalias.open(QIODevice::ReadOnly))
        return false;
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^usb:v([0-9A-Fa-f]{4})p([0-9A-Fa-f]{4})"))
                                              .match(QString::fromLatin1(modalias.readAll()));
    if (!match.hasMatch())
        return false;
    *vendorId = match.captured(1).toInt(nullptr, 16);
    *productId = match.captured(2).toInt(nullptr, 16);
    return true;
}

QVector<ResolutionEntry> V4l2CameraBackend::resolutions(int index, int list)
{
    // The same modes serve live video (list 0) and stills (list 1): stills are frames of the stream.
    if (list != 0 && list != 1)
        return {};
    const QString path = nodePath(index);
    if (path.isEmpty())
        return {};
    FileDescriptor fd(path);
    if (fd.get() < 0)
        return {};
    QVector<ResolutionEntry> modes;
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (format.index = 0; xioctl(fd.get(), VIDIOC_ENUM_FMT, &format) != -1; ++format.index) {
        const int code = formatCode(format.pixelformat);
        if (code < 0)
            continue;
        v4l2_frmsizeenum frameSize{};
        frameSize.pixel_format = format.pixelformat;
        for (frameSize.index = 0; xioctl(fd.get(), VIDIOC_ENUM_FRAMESIZES, &frameSize) != -1; ++frameSize.index) {
            if (frameSize.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                modes.append({code, int(frameSize.discrete.width), int(frameSize.discrete.height)});
            } else {
                modes.append({code, int(frameSize.stepwise.max_width), int(frameSize.stepwise.max_height)});
                break;
            }
        }
    }
    return modes;
}

std::unique_ptr<CameraStream> V4l2CameraBackend::open(int index, const CameraOpenParams& params)
{
    const QString path = nodePath(index);
    if (path.isEmpty())
        return nullptr;
    FileDescriptor fd(path);
    if (fd.get() < 0)
        return nullptr;

    // The driver picks the nearest size it has; only MJPEG is decoded here.
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = quint32(std::max(1, params.videoWidth));
    format.fmt.pix.height = quint32(std::max(1, params.videoHeight));
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_MJPEG;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (xioctl(fd.get(), VIDIOC_S_FMT, &format) == -1 || format.fmt.pix.pixelformat != V4L2_PIX_FMT_MJPEG)
        return nullptr;

    v4l2_requestbuffers request{};
    request.count = quint32(std::clamp(params.bufferCount, 2, 8));
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd.get(), VIDIOC_REQBUFS, &request) == -1 || request.count < 1)
        return nullptr;

    std::vector<V4l2Stream::Buffer> buffers(request.count);
    bool mapped = true;
    for (quint32 i = 0; i < request.count && mapped; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (xioctl(fd.get(), VIDIOC_QUERYBUF, &buf) == -1) {
            mapped = false;
            break;
        }
        buffers[i].length = buf.length;
        buffers[i].start = mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), buf.m.offset);
        mapped = buffers[i].start != MAP_FAILED;
    }
    // The stream owns descriptor and mappings from here on, also to undo a partial mapping.
    auto stream = std::make_unique<V4l2Stream>(fd.release(), std::move(buffers));
    if (!mapped)
        return nullptr;
    return stream;
}

std::unique_ptr<CameraBackend> createPlatformCameraBackend()
{
    return std::make_unique<V4l2CameraBackend>();
}
