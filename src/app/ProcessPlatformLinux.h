#pragma once

#include <QString>

#include "app/ProcessPlatform.h"

// Processes from a /proc folder, ended with SIGTERM; the updater is started detached, as the current user. The
// proc folder is a parameter so that tests read a fake one.
class ProcessPlatformLinux : public ProcessPlatform
{
public:
    explicit ProcessPlatformLinux(const QString& procRoot = QStringLiteral("/proc"));

    ProcessConventions conventions() const override;
    std::vector<ProcessEntry> processes() override;
    bool endProcess(std::uint32_t id) override;
    // Only a process of the same user running the very same executable file: a name is anybody's to take.
    bool isCopyOfThisProgram(std::uint32_t id) override;
    std::wstring moduleFilePath() override;
    bool startProcess(const std::wstring& application, const std::wstring& workingDirectory,
                      const ProcessEntry* shellProcess) override;

private:
    QString m_procRoot;
};
