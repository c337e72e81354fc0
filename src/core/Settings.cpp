#include "core/Settings.h"

#include <memory>
#include <vector>

#include <QDir>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace {

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

struct Key
{
    const char* name;
    QString (*buildDefault)();
};

// Every setting the program knows: a new one is one more line here.
const Key kKeys[] = {
    {"api_host", [] { return QString::fromUtf8(AMBREL_DEFAULT_API_HOST); }},
    {"upload_host", [] { return QString::fromUtf8(AMBREL_DEFAULT_UPLOAD_HOST); }},
    {"log_file", defaultLogFile},
    {"camera", [] { return QString::fromUtf8(AMBREL_DEFAULT_CAMERA); }},
    {"ca_file", [] { return QString::fromUtf8(AMBREL_DEFAULT_CA_FILE); }},
    {"instance", [] { return QStringLiteral("AmbrelClient"); }},
};

struct Entry
{
    QString value;
    Settings::Source source = Settings::Source::BuildDefault;
};

// INI files named AmbrelClient.conf under the configuration folders; the registry on Windows.
constexpr QSettings::Format kFormat = QSettings::NativeFormat;

std::unique_ptr<QSettings> openScope(QSettings::Scope scope)
{
    auto settings =
        std::make_unique<QSettings>(kFormat, scope, QStringLiteral("AmbrelClient"), QStringLiteral("AmbrelClient"));
    // The user's file must not silently fall back to the system's: each place is asked on its own.
    settings->setFallbacksEnabled(false);
    return settings;
}

bool readFrom(QSettings& settings, const QString& key, QString* value)
{
    if (settings.status() != QSettings::NoError || !settings.contains(key))
        return false;
    const QVariant stored = settings.value(key);
    // An INI value with an unquoted comma reads as a list: it was meant as one text.
    *value = stored.type() == QVariant::StringList ? stored.toStringList().join(QLatin1Char(',')) : stored.toString();
    return true;
}

QHash<QString, Entry> read()
{
    const std::unique_ptr<QSettings> user = openScope(QSettings::UserScope);
    const std::unique_ptr<QSettings> system = openScope(QSettings::SystemScope);
#ifdef Q_OS_WIN
    // A school's machine-wide policy outranks what a user has set.
    const std::vector<std::pair<QSettings*, Settings::Source>> files{{system.get(), Settings::Source::SystemFile},
                                                                     {user.get(), Settings::Source::UserFile}};
#else
    const std::vector<std::pair<QSettings*, Settings::Source>> files{{user.get(), Settings::Source::UserFile},
                                                                     {system.get(), Settings::Source::SystemFile}};
#endif
    QHash<QString, Entry> entries;
    for (const Key& key : kKeys) {
        const QString name = QLatin1String(key.name);
        const QByteArray variable = "AMBREL_" + QByteArray(key.name).toUpper();
        Entry entry;
        bool found = false;
        if (qEnvironmentVariableIsSet(variable.constData())) {
            entry = {qEnvironmentVariable(variable.constData()), Settings::Source::Environment};
            found = true;
        }
        for (const auto& [file, source] : files) {
            if (found)
                break;
            if (readFrom(*file, name, &entry.value)) {
                entry.source = source;
                found = true;
            }
        }
        if (!found)
            entry = {key.buildDefault(), Settings::Source::BuildDefault};
        entries.insert(name, entry);
    }
    QString& apiHost = entries[QStringLiteral("api_host")].value;
    while (apiHost.endsWith(QLatin1Char('/')))
        apiHost.chop(1);
    return entries;
}

QHash<QString, Entry>& entries()
{
    static QHash<QString, Entry> all = read();
    return all;
}

} // namespace

QString Settings::apiHost()
{
    return value(QStringLiteral("api_host"));
}

QString Settings::uploadHost()
{
    return value(QStringLiteral("upload_host"));
}

QString Settings::logFile()
{
    return value(QStringLiteral("log_file"));
}

QString Settings::camera()
{
    return value(QStringLiteral("camera"));
}

QString Settings::value(const QString& key)
{
    return entries().value(key).value;
}

Settings::Source Settings::source(const QString& key)
{
    return entries().value(key).source;
}

QString Settings::describe(const QString& key)
{
    QString origin;
    switch (source(key)) {
    case Source::Environment:
        origin = QStringLiteral("environment AMBREL_") + key.toUpper();
        break;
    case Source::UserFile:
        origin = QStringLiteral("user settings ") + userLocation();
        break;
    case Source::SystemFile:
        origin = QStringLiteral("system settings ") + systemLocation();
        break;
    case Source::BuildDefault:
        origin = QStringLiteral("build default");
        break;
    }
    return key + QLatin1Char('=') + value(key) + QStringLiteral(" (") + origin + QLatin1Char(')');
}

QString Settings::userLocation()
{
    return openScope(QSettings::UserScope)->fileName();
}

QString Settings::systemLocation()
{
    return openScope(QSettings::SystemScope)->fileName();
}

QString Settings::caFile()
{
    return value(QStringLiteral("ca_file"));
}

QString Settings::instanceName()
{
    return value(QStringLiteral("instance"));
}

void Settings::reload()
{
    entries() = read();
}
