#include "app/Housekeeping.h"

#include "app/ProcessPlatform.h"
#include "app/ProcessSearch.h"

namespace {

ProcessPlatform* s_defaultPlatform = nullptr;

ProcessPlatform& defaultPlatform()
{
    return s_defaultPlatform ? *s_defaultPlatform : ProcessPlatform::system();
}

QString toQString(const std::wstring& text)
{
    return QString::fromStdWString(text);
}

} // namespace

Housekeeping::Housekeeping() : m_platform(defaultPlatform()) {}

Housekeeping::Housekeeping(ProcessPlatform& platform) : m_platform(platform) {}

void Housekeeping::setDefaultPlatform(ProcessPlatform* platform)
{
    s_defaultPlatform = platform;
}

bool Housekeeping::endOtherCopy(const QString& executableName, qint64 ownProcessId)
{
    const std::vector<ProcessEntry> entries = m_platform.processes();
    const ProcessEntry* copy =
        ProcessSearch::otherCopy(entries, executableName.toStdWString(), ownProcessId,
                                 [this](std::uint32_t id) { return m_platform.isCopyOfThisProgram(id); });
    if (copy)
        m_platform.endProcess(copy->id);
    return true;
}

bool Housekeeping::isUpdaterRunning()
{
    return ProcessSearch::findNamed(m_platform.processes(), m_platform.conventions().updaterName, false) != nullptr;
}

QString Housekeeping::updaterPath()
{
    const QString configured = toQString(m_platform.conventions().configuredUpdaterPath);
    if (!configured.startsWith(QLatin1String("./")))
        return configured;
    const QString directory = moduleDirectory();
    if (directory.isEmpty())
        return QString();
    return cutToPathLimit(directory + configured);
}

QString Housekeeping::moduleDirectory()
{
    const QString file = cutToPathLimit(toQString(m_platform.moduleFilePath()));
    const int separator = file.lastIndexOf(QLatin1Char('/'));
    if (separator < 0)
        return QString();
    return file.left(separator + 1);
}

bool Housekeeping::launchAsLoggedInUser(const QString& program, const QString& workingDirectory)
{
    const ProcessConventions conventions = m_platform.conventions();
    const std::vector<ProcessEntry> entries = m_platform.processes();
    const ProcessEntry* shell = nullptr;
    if (!conventions.shellProcessName.empty()) {
        // The updater runs on the logged-in user's desktop: without that user's shell there is nobody to run it for.
        shell = ProcessSearch::findNamed(entries, conventions.shellProcessName, true);
        if (!shell)
            return false;
    }
    return m_platform.startProcess(program.toStdWString(), workingDirectory.toStdWString(), shell);
}

QString Housekeeping::cutToPathLimit(const QString& path) const
{
    const std::size_t limit = m_platform.conventions().maxPath;
    if (limit == 0 || static_cast<std::size_t>(path.size()) < limit)
        return path;
    return path.left(static_cast<int>(limit - 1));
}
