#include "core/Settings.h"

#include <memory>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QReadLocker>
#include <QReadWriteLock>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QWriteLocker>

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
    {"keep_days", [] { return QString::fromUtf8(AMBREL_DEFAULT_KEEP_DAYS); }},
    {"auto_shot", [] { return QStringLiteral("false"); }},
};

const Key* findKey(const QString& name)
{
    for (const Key& key : kKeys) {
        if (name == QLatin1String(key.name))
            return &key;
    }
    return nullptr;
}

struct Entry
{
    QString value;
    Settings::Source source = Settings::Source::BuildDefault;
};

// A file's keys of the [General] group, and the lines that could not be read.
struct FileKeys
{
    QHash<QString, QString> values;
    QStringList problems;
};

std::unique_ptr<QSettings> openScope(QSettings::Scope scope)
{
    // INI files named AmbrelClient.conf under the configuration folders; the registry on Windows.
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, scope, QStringLiteral("AmbrelClient"),
                                                QStringLiteral("AmbrelClient"));
    // The user's file must not silently fall back to the system's: each place is asked on its own.
    settings->setFallbacksEnabled(false);
    return settings;
}

#ifdef Q_OS_WIN

FileKeys readPlace(QSettings::Scope scope)
{
    FileKeys keys;
    const std::unique_ptr<QSettings> settings = openScope(scope);
    if (settings->status() != QSettings::NoError) {
        keys.problems << settings->fileName() + QStringLiteral(": could not be read");
        return keys;
    }
    for (const Key& key : kKeys) {
        const QString name = QLatin1String(key.name);
        if (!settings->contains(name))
            continue;
        const QVariant stored = settings->value(name);
        keys.values.insert(name, stored.type() == QVariant::StringList ? stored.toStringList().join(QLatin1Char(','))
                                                                       : stored.toString());
    }
    return keys;
}

bool writePlace(const QString& key, const QString& value)
{
    const std::unique_ptr<QSettings> settings = openScope(QSettings::UserScope);
    settings->setValue(key, value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

#else

// The group a line opens ("[General]" -> "General"), or a null text when the line opens none.
QString groupOf(const QString& line)
{
    if (!line.startsWith(QLatin1Char('[')) || !line.endsWith(QLatin1Char(']')))
        return QString();
    return line.mid(1, line.size() - 2).trimmed();
}

bool isGeneral(const QString& group)
{
    // Qt writes the [General] group of a file that also holds a group called "General" as "%General".
    return group.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0 || group == QLatin1String("%General");
}

// The key of a "key = value" line; empty when the line is not one.
QString keyOf(const QString& line)
{
    const int equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return QString();
    const QString key = line.left(equals).trimmed();
    for (const QChar c : key) {
        if (c.isSpace() || c == QLatin1Char('[') || c == QLatin1Char(']'))
            return QString();
    }
    return key;
}

bool isComment(const QString& line)
{
    return line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';'));
}

QString unquoted(const QString& value)
{
    // Qt writes a value with leading or trailing spaces in double quotes, escaping quotes and backslashes.
    if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) || !value.endsWith(QLatin1Char('"')))
        return value;
    QString out;
    const QString inner = value.mid(1, value.size() - 2);
    for (int i = 0; i < inner.size(); ++i) {
        if (inner.at(i) == QLatin1Char('\\') && i + 1 < inner.size())
            ++i;
        out.append(inner.at(i));
    }
    return out;
}

QString quotedIfNeeded(const QString& value)
{
    if (value.trimmed() == value && !value.startsWith(QLatin1Char('"')))
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// The file's lines as text, without the byte order mark an editor on Windows puts in front.
bool readLines(const QString& path, QStringList* lines, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    *lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    if (!lines->isEmpty() && lines->constLast().isEmpty())
        lines->removeLast();
    return true;
}

FileKeys readPlace(QSettings::Scope scope)
{
    FileKeys keys;
    const QString path = openScope(scope)->fileName();
    if (!QFileInfo::exists(path))
        return keys;
    QStringList lines;
    QString error;
    if (!readLines(path, &lines, &error)) {
        keys.problems << path + QStringLiteral(": could not be read: ") + error;
        return keys;
    }
    // Keys before any group are in [General], as Qt reads them.
    bool general = true;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || isComment(line))
            continue;
        const QString group = groupOf(line);
        if (!group.isNull()) {
            general = isGeneral(group);
            continue;
        }
        const QString key = keyOf(line);
        if (key.isEmpty()) {
            keys.problems << path + QStringLiteral(" line ") + QString::number(i + 1) + QStringLiteral(" not read: ") +
                                 line.left(80);
            continue;
        }
        // As in Qt, a key given twice takes its last value.
        if (general)
            keys.values.insert(key, unquoted(line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed()));
    }
    return keys;
}

// Rewrites only the key's own line (the last one in [General], the one that counts), so that the comments and the
// other keys someone wrote stay as they were.
bool writePlace(const QString& key, const QString& value)
{
    const QString path = openScope(QSettings::UserScope)->fileName();
    QStringList lines;
    QString error;
    if (QFileInfo::exists(path) && !readLines(path, &lines, &error))
        return false;
    const QString written = key + QLatin1Char('=') + quotedIfNeeded(value);
    int keyLine = -1;
    int generalHeader = -1;
    int firstHeader = -1;
    bool general = true;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        const QString group = groupOf(line);
        if (!group.isNull()) {
            general = isGeneral(group);
            if (firstHeader < 0)
                firstHeader = i;
            if (general && generalHeader < 0)
                generalHeader = i;
        } else if (general && !isComment(line) && keyOf(line) == key) {
            keyLine = i;
        }
    }
    if (keyLine >= 0)
        lines[keyLine] = written;
    else if (generalHeader >= 0)
        lines.insert(generalHeader + 1, written);
    else if (firstHeader >= 0)
        lines.insert(firstHeader, written);
    else
        lines.append(written);

    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    return file.commit();
}

#endif

struct Store
{
    QHash<QString, Entry> entries;
    QStringList problems;
};

Store read()
{
#ifdef Q_OS_WIN
    // A school's machine-wide policy outranks what a user has set.
    const std::vector<std::pair<FileKeys, Settings::Source>> places{
        {readPlace(QSettings::SystemScope), Settings::Source::SystemFile},
        {readPlace(QSettings::UserScope), Settings::Source::UserFile}};
#else
    const std::vector<std::pair<FileKeys, Settings::Source>> places{
        {readPlace(QSettings::UserScope), Settings::Source::UserFile},
        {readPlace(QSettings::SystemScope), Settings::Source::SystemFile}};
#endif
    Store store;
    for (const auto& place : places)
        store.problems << place.first.problems;
    for (const Key& key : kKeys) {
        const QString name = QLatin1String(key.name);
        const QByteArray variable = "AMBREL_" + QByteArray(key.name).toUpper();
        Entry entry{key.buildDefault(), Settings::Source::BuildDefault};
        if (qEnvironmentVariableIsSet(variable.constData())) {
            entry = {qEnvironmentVariable(variable.constData()), Settings::Source::Environment};
        } else {
            for (const auto& [keys, source] : places) {
                const auto found = keys.values.constFind(name);
                if (found != keys.values.constEnd()) {
                    entry = {found.value(), source};
                    break;
                }
            }
        }
        store.entries.insert(name, entry);
    }
    QString& apiHost = store.entries[QStringLiteral("api_host")].value;
    while (apiHost.endsWith(QLatin1Char('/')))
        apiHost.chop(1);
    // A mistyped number of days must not pass for "keep everything" or "remove everything" unnoticed.
    const QString keepDays = store.entries.value(QStringLiteral("keep_days")).value;
    bool isNumber = false;
    if (keepDays.trimmed().toInt(&isNumber) < 0 || !isNumber)
        store.problems << QStringLiteral("keep_days=") + keepDays + QStringLiteral(" is not a number of days: ") +
                              QString::fromUtf8(AMBREL_DEFAULT_KEEP_DAYS) + QStringLiteral(" used");
    return store;
}

// The worker thread logs (and so reads log_file) while the capture page may write the auto-shot choice.
QReadWriteLock s_lock;

Store& store()
{
    static Store all = read();
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

QString Settings::caFile()
{
    return value(QStringLiteral("ca_file"));
}

QString Settings::instanceName()
{
    return value(QStringLiteral("instance"));
}

int Settings::keepDays()
{
    bool ok = false;
    const int days = value(QStringLiteral("keep_days")).trimmed().toInt(&ok);
    if (ok && days >= 0)
        return days;
    return QString::fromUtf8(AMBREL_DEFAULT_KEEP_DAYS).toInt();
}

bool Settings::autoShot()
{
    const QString text = value(QStringLiteral("auto_shot")).trimmed().toLower();
    return text == QLatin1String("true") || text == QLatin1String("1") || text == QLatin1String("yes") ||
           text == QLatin1String("on");
}

void Settings::setAutoShot(bool on)
{
    setValue(QStringLiteral("auto_shot"), on ? QStringLiteral("true") : QStringLiteral("false"));
}

QString Settings::value(const QString& key)
{
    const Store& all = store();
    const QReadLocker lock(&s_lock);
    return all.entries.value(key).value;
}

Settings::Source Settings::source(const QString& key)
{
    const Store& all = store();
    const QReadLocker lock(&s_lock);
    return all.entries.value(key).source;
}

QStringList Settings::problems()
{
    const Store& all = store();
    const QReadLocker lock(&s_lock);
    return all.problems;
}

bool Settings::setValue(const QString& key, const QString& value)
{
    if (!findKey(key))
        return false;
    Store& all = store();
    const QWriteLocker lock(&s_lock);
    if (!writePlace(key, value))
        return false;
    Entry& entry = all.entries[key];
#ifdef Q_OS_WIN
    const bool outranked = entry.source == Source::Environment || entry.source == Source::SystemFile;
#else
    const bool outranked = entry.source == Source::Environment;
#endif
    if (!outranked)
        entry = {value, Source::UserFile};
    return true;
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

void Settings::reload()
{
    Store fresh = read();
    Store& all = store();
    const QWriteLocker lock(&s_lock);
    all = std::move(fresh);
}
