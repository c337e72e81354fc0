#include "TestUtils.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>

ScopedWorkingDirectory::ScopedWorkingDirectory() : m_previous(QDir::currentPath())
{
    if (m_dir.isValid())
        QDir::setCurrent(m_dir.path());
}

ScopedWorkingDirectory::~ScopedWorkingDirectory()
{
    QDir::setCurrent(m_previous);
}

bool ScopedWorkingDirectory::isValid() const
{
    return m_dir.isValid();
}

QString ScopedWorkingDirectory::path() const
{
    return m_dir.path();
}

QString ScopedWorkingDirectory::filePath(const QString& relative) const
{
    return m_dir.filePath(relative);
}

namespace TestUtils {

QImage makeTestImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / qMax(1, width - 1), y * 255 / qMax(1, height - 1), 128));
    QPainter painter(&image);
    const int s = qMax(1, qMin(width, height) / 8);
    painter.fillRect(0, 0, s, s, Qt::red);
    painter.fillRect(width - s, 0, s, s, Qt::green);
    painter.fillRect(0, height - s, s, s, Qt::blue);
    painter.fillRect(width - s, height - s, s, s, Qt::white);
    return image;
}

QByteArray encodedTestImage(int width, int height, const char* format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    makeTestImage(width, height).save(&buffer, format, quality);
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool setModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
}

QByteArray patternBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

QByteArray patternJpeg(int size, quint32 seed)
{
    QByteArray bytes = patternBytes(size, seed);
    if (size >= 4) {
        bytes[0] = char(0xFF);
        bytes[1] = char(0xD8);
        bytes[size - 2] = char(0xFF);
        bytes[size - 1] = char(0xD9);
    }
    return bytes;
}

} // namespace TestUtils

namespace {

bool s_environmentSkipped = false;

} // namespace

QStringList TestUtils::isolationArguments()
{
    QStringList isolation{QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--mount-proc"),
                          QStringLiteral("--kill-child")};
#ifndef _WIN32
    if (geteuid() != 0)
        isolation = QStringList{QStringLiteral("--user"), QStringLiteral("--map-root-user")} + isolation;
#endif
    if (QProcess::execute(QStringLiteral("unshare"), isolation + QStringList{QStringLiteral("true")}) != 0)
        return {};
    return isolation;
}

void TestUtils::noteEnvironmentSkip()
{
    s_environmentSkipped = true;
}

int TestUtils::exitStatus(int failures)
{
    return failures == 0 && s_environmentSkipped ? kSkippedStatus : failures;
}
