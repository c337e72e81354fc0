#include <algorithm>
#include <climits>

#include <signal.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "app/ProcessPlatformLinux.h"

namespace {

// The kernel keeps at most 15 characters of a process name.
constexpr int kCommLength = 15;

QString linkTarget(const QString& link)
{
    QString target = QFile::symLinkTarget(link);
    // A running executable that was replaced or removed reads as "path (deleted)".
    const QLatin1String deleted(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return target;
}

QString processName(const QString& processFolder)
{
    QFile commFile(processFolder + QStringLiteral("/comm"));
    QString comm;
    if (commFile.open(QIODevice::ReadOnly))
        comm = QString::fromLocal8Bit(commFile.readAll()).trimmed();
    // comm is the name the program was started under, but cut to 15 characters: the exe link gives the whole name
    // where it is readable (only for our own processes).
    if (comm.isEmpty() || comm.size() >= kCommLength) {
        const QString exeName = QFileInfo(linkTarget(processFolder + QStringLiteral("/exe"))).fileName();
        if (!exeName.isEmpty() && exeName.startsWith(comm))
            return exeName;
    }
    return comm;
}

// The real and effective user ids of a process (the "Uid:" line of its status file); empty when unreadable.
QList<QByteArray> userIds(const QString& processFolder)
{
    QFile status(processFolder + QStringLiteral("/status"));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        const QList<QByteArray> ids = line.mid(4).simplified().split(' ');
        if (ids.size() >= 2 && !ids.at(0).isEmpty())
            return ids.mid(0, 2);
    }
    return {};
}

// Whether two links lead to the same file (device and inode, so another path to it counts too). A link that
// cannot be followed (another user's process) leads nowhere.
bool sameFile(const QString& first, const QString& second)
{
    struct stat a;
    struct stat b;
    if (::stat(QFile::encodeName(first).constData(), &a) != 0 || ::stat(QFile::encodeName(second).constData(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

ProcessPlatformLinux::ProcessPlatformLinux(const QString& procRoot) : m_procRoot(procRoot) {}

ProcessConventions ProcessPlatformLinux::conventions() const
{
    ProcessConventions conventions;
    conventions.updaterName = L"AutoUpdate";
    conventions.configuredUpdaterPath = L"./AutoUpdate";
    conventions.maxPath = PATH_MAX;
    return conventions;
}

std::vector<ProcessEntry> ProcessPlatformLinux::processes()
{
    std::vector<ProcessEntry> entries;
    const QStringList folders = QDir(m_procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& folder : folders) {
        bool isNumber = false;
        const uint id = folder.toUInt(&isNumber);
        if (!isNumber)
            continue;
        // A process that ended while we looked has no name left: leave it out.
        const QString name = processName(m_procRoot + QLatin1Char('/') + folder);
        if (name.isEmpty())
            continue;
        entries.push_back(ProcessEntry{id, name.toStdWString()});
    }
    std::sort(entries.begin(), entries.end(), [](const ProcessEntry& a, const ProcessEntry& b) { return a.id < b.id; });
    return entries;
}

bool ProcessPlatformLinux::endProcess(std::uint32_t id)
{
    // kill() with 0 or a negative id signals whole process groups, ours included.
    if (id == 0 || id > static_cast<std::uint32_t>(INT_MAX))
        return false;
    return ::kill(static_cast<pid_t>(id), SIGTERM) == 0;
}

bool ProcessPlatformLinux::isCopyOfThisProgram(std::uint32_t id)
{
    const QString self = m_procRoot + QStringLiteral("/self");
    const QString other = m_procRoot + QLatin1Char('/') + QString::number(id);
    const QList<QByteArray> ownIds = userIds(self);
    if (ownIds.isEmpty() || userIds(other) != ownIds)
        return false;
    return sameFile(other + QStringLiteral("/exe"), self + QStringLiteral("/exe"));
}

std::wstring ProcessPlatformLinux::moduleFilePath()
{
    return linkTarget(m_procRoot + QStringLiteral("/self/exe")).toStdWString();
}

bool ProcessPlatformLinux::startProcess(const std::wstring& application, const std::wstring& workingDirectory,
                                        const ProcessEntry*)
{
    const QString program = QString::fromStdWString(application);
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable())
        return false;
    return QProcess::startDetached(program, QStringList(), QString::fromStdWString(workingDirectory));
}

ProcessPlatform& ProcessPlatform::system()
{
    static ProcessPlatformLinux platform;
    return platform;
}
