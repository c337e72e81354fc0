#include "capture/V4l2CameraBackend.h"

#include <algorithm>

#include <fcntl.h>
#include <linux/videodev2.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "capture/V4l2Stream.h"

namespace {

class FileDescriptor
{
public:
    FileDescriptor(std::shared_ptr<V4l2Syscalls> sys, const QString& path)
        : m_sys(std::move(sys)), m_fd(m_sys->open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK))
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            m_sys->close(m_fd);
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
    std::shared_ptr<V4l2Syscalls> m_sys;
    int m_fd;
};

bool isCaptureNode(const std::shared_ptr<V4l2Syscalls>& sys, const QString& path)
{
    FileDescriptor fd(sys, path);
    if (fd.get() < 0)
        return false;
    v4l2_capability caps{};
    if (xioctl(*sys, fd.get(), VIDIOC_QUERYCAP, &caps) == -1)
        return false;
    const quint32 mode = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    return (mode & V4L2_CAP_VIDEO_CAPTURE) && (mode & V4L2_CAP_STREAMING);
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

} // namespace

V4l2CameraBackend::V4l2CameraBackend(const QString& deviceDir, const QString& sysfsRoot,
                                     std::shared_ptr<V4l2Syscalls> syscalls)
    : m_deviceDir(deviceDir), m_sysfsRoot(sysfsRoot), m_sys(syscalls ? std::move(syscalls) : V4l2Syscalls::system())
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
        if (isCaptureNode(m_sys, m_deviceDir + QLatin1Char('/') + name))
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
    // The same modes serve live video (list 0) and stills (list 1); a still mode other than the video's is
    // switched to for the take.
    if (list != 0 && list != 1)
        return {};
    const QString path = nodePath(index);
    if (path.isEmpty())
        return {};
    FileDescriptor fd(m_sys, path);
    if (fd.get() < 0)
        return {};
    QVector<ResolutionEntry> modes;
    for (quint32 pixelFormat : V4l2Stream::offeredFormats(*m_sys, fd.get())) {
        const int code = V4l2Stream::formatCode(pixelFormat);
        v4l2_frmsizeenum frameSize{};
        frameSize.pixel_format = pixelFormat;
        for (frameSize.index = 0; xioctl(*m_sys, fd.get(), VIDIOC_ENUM_FRAMESIZES, &frameSize) != -1;
             ++frameSize.index) {
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
    FileDescriptor fd(m_sys, path);
    if (fd.get() < 0)
        return nullptr;
    // The stream owns the descriptor and the mappings from here on, also to undo a partial set-up.
    auto stream = std::make_unique<V4l2Stream>(m_sys, fd.release(), params);
    if (!stream->configureVideo())
        return nullptr;
    return stream;
}

std::unique_ptr<CameraBackend> createPlatformCameraBackend()
{
    return std::make_unique<V4l2CameraBackend>();
}
