#include "ScriptedV4l2Device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <linux/videodev2.h>
#include <sys/mman.h>

#include <QImage>

#include "TestUtils.h"

namespace {

constexpr off_t kOffsetStep = 0x100000;
// About 40 frames a second, so that a streaming test does not keep a core busy.
constexpr int kFrameIntervalMs = 25;

QString fourccName(quint32 fourcc)
{
    return QString::fromLatin1(reinterpret_cast<const char*>(&fourcc), 4);
}

// The test picture as YUYV, BT.601 studio range, each pair of pixels sharing the average of their colour.
QByteArray yuyvFrame(QSize size)
{
    const QImage image = TestUtils::makeTestImage(size.width(), size.height());
    QByteArray bytes(size.width() * size.height() * 2, Qt::Uninitialized);
    auto* out = reinterpret_cast<quint8*>(bytes.data());
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x + 1 < size.width(); x += 2) {
            const QRgb a = image.pixel(x, y);
            const QRgb b = image.pixel(x + 1, y);
            const auto luma = [](QRgb c) { return 16 + (66 * qRed(c) + 129 * qGreen(c) + 25 * qBlue(c) + 128) / 256; };
            const int r = (qRed(a) + qRed(b)) / 2;
            const int g = (qGreen(a) + qGreen(b)) / 2;
            const int bl = (qBlue(a) + qBlue(b)) / 2;
            *out++ = quint8(luma(a));
            *out++ = quint8(128 + (-38 * r - 74 * g + 112 * bl + 128) / 256);
            *out++ = quint8(luma(b));
            *out++ = quint8(128 + (112 * r - 94 * g - 18 * bl + 128) / 256);
        }
    }
    return bytes;
}

} // namespace

ScriptedV4l2Device::ScriptedV4l2Device(Script script) : m_script(std::move(script)) {}

QStringList ScriptedV4l2Device::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

int ScriptedV4l2Device::callCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls.size();
}

int ScriptedV4l2Device::count(const QString& call) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(std::count(m_calls.begin(), m_calls.end(), call));
}

int ScriptedV4l2Device::openDescriptors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open.size();
}

int ScriptedV4l2Device::mappedBuffers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(std::count_if(m_buffers.begin(), m_buffers.end(), [](const Buffer& b) { return b.mapped; }));
}

int ScriptedV4l2Device::fail(int error)
{
    errno = error;
    return -1;
}

void ScriptedV4l2Device::log(const QString& call)
{
    m_calls.append(call);
}

const ScriptedV4l2Device::Format* ScriptedV4l2Device::format(quint32 fourcc) const
{
    for (const Format& f : m_script.formats) {
        if (f.fourcc == fourcc)
            return &f;
    }
    return nullptr;
}

int ScriptedV4l2Device::open(const char* path, int)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    log(QStringLiteral("open"));
    if (m_lost || !QByteArray(path).endsWith("/video0"))
        return fail(ENOENT);
    m_open.append(m_nextFd);
    return m_nextFd++;
}

int ScriptedV4l2Device::close(int fd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    log(QStringLiteral("close"));
    if (!m_open.removeOne(fd))
        return fail(EBADF);
    // Closing the last descriptor stops the stream and frees what is no longer mapped.
    if (m_open.isEmpty()) {
        m_streaming = false;
        if (std::none_of(m_buffers.begin(), m_buffers.end(), [](const Buffer& b) { return b.mapped; }))
            m_buffers.clear();
    }
    return 0;
}

int ScriptedV4l2Device::ioctl(int fd, unsigned long request, void* arg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open.contains(fd))
        return fail(EBADF);
    return handle(fd, request, arg);
}

int ScriptedV4l2Device::handle(int, unsigned long request, void* arg)
{
    log(request == VIDIOC_STREAMON ? QStringLiteral("STREAMON") : QStringLiteral("ioctl"));
    if (m_lost)
        return fail(m_script.lossError);

    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto* caps = static_cast<v4l2_capability*>(arg);
        *caps = v4l2_capability{};
        caps->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        caps->capabilities = caps->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto* desc = static_cast<v4l2_fmtdesc*>(arg);
        if (desc->index >= quint32(m_script.formats.size()))
            return fail(EINVAL);
        desc->pixelformat = m_script.formats.at(int(desc->index)).fourcc;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto* size = static_cast<v4l2_frmsizeenum*>(arg);
        const Format* f = format(size->pixel_format);
        if (!f || size->index >= quint32(f->sizes.size()))
            return fail(EINVAL);
        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size->discrete.width = quint32(f->sizes.at(int(size->index)).width());
        size->discrete.height = quint32(f->sizes.at(int(size->index)).height());
        return 0;
    }
    case VIDIOC_S_FMT: {
        auto* fmt = static_cast<v4l2_format*>(arg);
        if (!m_buffers.isEmpty())
            return fail(EBUSY);
        // Like a driver: an unknown format becomes the first one offered, the size the nearest offered.
        const Format* f = format(fmt->fmt.pix.pixelformat);
        if (!f)
            f = &m_script.formats.first();
        const QSize wanted(int(fmt->fmt.pix.width), int(fmt->fmt.pix.height));
        const auto distance = [&wanted](QSize s) {
            return qAbs(s.width() - wanted.width()) + qAbs(s.height() - wanted.height());
        };
        m_fourcc = f->fourcc;
        m_size = *std::min_element(f->sizes.begin(), f->sizes.end(),
                                   [&](QSize a, QSize b) { return distance(a) < distance(b); });
        log(QStringLiteral("set %1 %2x%3").arg(fourccName(m_fourcc)).arg(m_size.width()).arg(m_size.height()));
        const bool yuyv = m_fourcc == V4L2_PIX_FMT_YUYV;
        fmt->fmt.pix.pixelformat = m_fourcc;
        fmt->fmt.pix.width = quint32(m_size.width());
        fmt->fmt.pix.height = quint32(m_size.height());
        fmt->fmt.pix.bytesperline = yuyv ? quint32(m_size.width() * 2) : 0;
        fmt->fmt.pix.sizeimage = quint32(m_size.width() * m_size.height() * (yuyv ? 2 : 1));
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto* req = static_cast<v4l2_requestbuffers*>(arg);
        if (m_streaming)
            return fail(EBUSY);
        if (std::any_of(m_buffers.begin(), m_buffers.end(), [](const Buffer& b) { return b.mapped; }))
            return fail(EBUSY);
        m_buffers.clear();
        req->count = std::min<quint32>(req->count, 4);
        const bool yuyv = m_fourcc == V4L2_PIX_FMT_YUYV;
        for (quint32 i = 0; i < req->count; ++i) {
            Buffer buffer;
            buffer.memory = QByteArray(m_size.width() * m_size.height() * (yuyv ? 2 : 1), '\0');
            m_buffers.append(buffer);
        }
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto* buf = static_cast<v4l2_buffer*>(arg);
        if (buf->index >= quint32(m_buffers.size()))
            return fail(EINVAL);
        buf->length = quint32(m_buffers.at(int(buf->index)).memory.size());
        buf->m.offset = quint32(buf->index * kOffsetStep);
        return 0;
    }
    case VIDIOC_QBUF: {
        auto* buf = static_cast<v4l2_buffer*>(arg);
        if (buf->index >= quint32(m_buffers.size()))
            return fail(EINVAL);
        Buffer& b = m_buffers[int(buf->index)];
        if (b.queued || b.filled)
            return fail(EINVAL);
        b.queued = true;
        return 0;
    }
    case VIDIOC_DQBUF: {
        auto* buf = static_cast<v4l2_buffer*>(arg);
        int oldest = -1;
        for (int i = 0; i < m_buffers.size(); ++i) {
            if (m_buffers.at(i).filled && (oldest < 0 || m_buffers.at(i).sequence < m_buffers.at(oldest).sequence))
                oldest = i;
        }
        if (oldest < 0)
            return fail(EAGAIN);
        Buffer& b = m_buffers[oldest];
        b.filled = false;
        buf->index = quint32(oldest);
        buf->bytesused = b.bytesUsed;
        buf->flags = 0;
        buf->sequence = b.sequence;
        return 0;
    }
    case VIDIOC_STREAMON:
        if (m_script.streamOnError)
            return fail(m_script.streamOnError);
        m_streaming = true;
        m_sinceStreamOn = 0;
        return 0;
    case VIDIOC_STREAMOFF:
        m_streaming = false;
        for (Buffer& b : m_buffers)
            b.queued = b.filled = false;
        return 0;
    default:
        return fail(ENOTTY);
    }
}

void* ScriptedV4l2Device::mmap(size_t length, int, int, int fd, off_t offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    log(QStringLiteral("mmap"));
    const int index = int(offset / kOffsetStep);
    if (!m_open.contains(fd) || offset % kOffsetStep || index >= m_buffers.size() ||
        length != size_t(m_buffers.at(index).memory.size())) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    m_buffers[index].mapped = true;
    return m_buffers[index].memory.data();
}

int ScriptedV4l2Device::munmap(void* start, size_t)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    log(QStringLiteral("munmap"));
    for (Buffer& b : m_buffers) {
        if (b.mapped && b.memory.data() == start) {
            b.mapped = false;
            return 0;
        }
    }
    return fail(EINVAL);
}

QByteArray ScriptedV4l2Device::frameBytes()
{
    const QString key =
        fourccName(m_fourcc) + QString::number(m_size.width()) + QLatin1Char('x') + QString::number(m_size.height());
    if (!m_frames.contains(key))
        m_frames.insert(key, m_fourcc == V4L2_PIX_FMT_YUYV
                                 ? yuyvFrame(m_size)
                                 : TestUtils::encodedTestImage(m_size.width(), m_size.height(), "JPG", 85));
    return m_frames.value(key);
}

int ScriptedV4l2Device::poll(pollfd* fds, nfds_t, int timeoutMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        log(QStringLiteral("poll"));
        fds->revents = 0;
        if (m_lost || !m_streaming) {
            fds->revents = POLLERR;
            return 1;
        }
        if (std::any_of(m_buffers.begin(), m_buffers.end(), [](const Buffer& b) { return b.filled; })) {
            fds->revents = POLLIN;
            return 1;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, kFrameIntervalMs)));
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_lost || !m_streaming) {
        fds->revents = POLLERR;
        return 1;
    }
    const auto queued = std::find_if(m_buffers.begin(), m_buffers.end(), [](const Buffer& b) { return b.queued; });
    if (queued == m_buffers.end())
        return 0;
    if (m_script.framesBeforeLoss >= 0 && m_delivered >= m_script.framesBeforeLoss) {
        // Failed for good: the queue is in error from now on.
        m_lost = true;
        fds->revents = POLLERR | POLLHUP;
        return 1;
    }
    QByteArray frame = frameBytes();
    const bool cut = m_script.cut == Cut::Every || (m_script.cut == Cut::FirstAfterStreamOn && m_sinceStreamOn == 0);
    if (cut)
        frame.truncate(frame.size() / 2);
    const int used = std::min(frame.size(), queued->memory.size());
    std::memcpy(queued->memory.data(), frame.constData(), size_t(used));
    if (m_script.padded)
        std::memset(queued->memory.data() + used, 0, size_t(queued->memory.size() - used));
    queued->bytesUsed = quint32(m_script.padded ? queued->memory.size() : used);
    queued->queued = false;
    queued->filled = true;
    queued->sequence = m_sequence++;
    ++m_delivered;
    ++m_sinceStreamOn;
    fds->revents = POLLIN;
    return 1;
}
