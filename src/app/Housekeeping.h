#pragma once

#include <QString>

// Placeholder: ending another running copy and starting the updater come with the process housekeeping.
class Housekeeping
{
public:
    bool endOtherCopy(const QString& executableName, qint64 ownProcessId);
    bool isUpdaterRunning();
    QString updaterPath();
    QString moduleDirectory();
    bool launchAsLoggedInUser(const QString& program, const QString& workingDirectory);
};
