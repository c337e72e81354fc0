#include "core/Settings.h"

#include <QDir>
#include <QStandardPaths>

namespace {

struct Values
{
    QString apiHost;
    QString uploadHost;
    QString logFile;
    QString camera;
    QString instanceName;
};

QString fromEnvironment(const char* name, const QString& fallback)
{
    if (qEnvironmentVariableIsSet(name))
        return qEnvironmentVariable(name);
    return fallback;
}

QString defaultLogFile()
{
    const QString configured = QString::fromUtf8(AMBREL_DEFAULT_LOG_FILE);
    if (!configured.isEmpty())
        return configured;
#ifdef Q_OS_WIN
    return QStringLiteral("D:/log.txt");
#else
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.local/share/AmbrelClient");
    return folder + QStringLiteral("/log.txt");
#endif
}

Values read()
{
    Values v;
    v.apiHost = fromEnvironment("AMBREL_API_HOST", QString::fromUtf8(AMBREL_DEFAULT_API_HOST));
    while (v.apiHost.endsWith(QLatin1Char('/')))
        v.apiHost.chop(1);
    v.uploadHost = fromEnvironment("AMBREL_UPLOAD_HOST", QString::fromUtf8(AMBREL_DEFAULT_UPLOAD_HOST));
    v.logFile = fromEnvironment("AMBREL_LOG_FILE", defaultLogFile());
    v.camera = fromEnvironment("AMBREL_CAMERA", QString::fromUtf8(AMBREL_DEFAULT_CAMERA));
    v.instanceName = fromEnvironment("AMBREL_INSTANCE", QStringLiteral("AmbrelClient"));
    return v;
}

Values& values()
{
    static Values v = read();
    return v;
}

} // namespace

QString Settings::apiHost()
{
    return values().apiHost;
}

QString Settings::uploadHost()
{
    return values().uploadHost;
}

QString Settings::logFile()
{
    return values().logFile;
}

QString Settings::camera()
{
    return values().camera;
}

QString Settings::instanceName()
{
    return values().instanceName;
}

void Settings::reload()
{
    values() = read();
}
