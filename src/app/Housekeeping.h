#pragma once

#include <QString>

class ProcessPlatform;

// Ending another running copy of the program and starting the updater, as logic over the system's process
// services so that it runs against a fake in tests.
class Housekeeping
{
public:
    // Uses the default platform: the system's, or the one a test put in place.
    Housekeeping();
    explicit Housekeeping(ProcessPlatform& platform);

    // Ends the first process after the list's first entry whose name contains executableName (case-sensitive) and
    // whose id is not ownProcessId. At most one copy per call; always true.
    bool endOtherCopy(const QString& executableName, qint64 ownProcessId);
    bool isUpdaterRunning();
    QString updaterPath();
    QString moduleDirectory();
    bool launchAsLoggedInUser(const QString& program, const QString& workingDirectory);

    // Test seam: the platform that default-constructed instances use; nullptr restores the system's.
    static void setDefaultPlatform(ProcessPlatform* platform);

private:
    QString cutToPathLimit(const QString& path) const;

    ProcessPlatform& m_platform;
};
