#include "app/Housekeeping.h"

bool Housekeeping::endOtherCopy(const QString&, qint64)
{
    return false;
}

bool Housekeeping::isUpdaterRunning()
{
    return true;
}

QString Housekeeping::updaterPath()
{
    return QString();
}

QString Housekeeping::moduleDirectory()
{
    return QString();
}

bool Housekeeping::launchAsLoggedInUser(const QString&, const QString&)
{
    return false;
}
