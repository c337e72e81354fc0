#include "core/TaskDatabase.h"

#include <functional>
#include <memory>
#include <vector>

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRecursiveMutex>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include "core/AppLog.h"

namespace {

QAtomicInteger<quint64> connectionCounter;

constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
// How long a file locked by another connection is waited for, per attempt and in all, before this connection does
// without it.
constexpr int kBusyAttemptMs = 5000;
constexpr int kBusyGiveUpMs = 120000;
QAtomicInt busyAttemptMs = kBusyAttemptMs;
QAtomicInt busyGiveUpMs = kBusyGiveUpMs;

// The files this process has open, with the number of connections on each, and the files it has set aside.
QRecursiveMutex openPathsMutex;
QHash<QString, int>& openPaths()
{
    static QHash<QString, int> paths;
    return paths;
}
QSet<QString>& setAsidePaths()
{
    static QSet<QString> paths;
    return paths;
}

// One lock per file, held for the whole of an open: two threads of this process opening the same file (the worker
// and the wait dialog at start-up) take turns, so the second never meets a file the first is just setting aside
// or making anew.
std::shared_ptr<QMutex> openingLock(const QString& absolutePath)
{
    static QMutex guard;
    static QHash<QString, std::shared_ptr<QMutex>> locks;
    QMutexLocker locker(&guard);
    std::shared_ptr<QMutex>& lock = locks[absolutePath];
    if (!lock)
        lock = std::make_shared<QMutex>();
    return lock;
}

// One step per schema version: step i brings a database from version i to version i + 1. Append, never edit.
const std::vector<std::vector<const char*>>& migrations()
{
    static const std::vector<std::vector<const char*>> steps = {
        // 0 -> 1: the database itself; the tables follow in later steps.
        {"CREATE TABLE IF NOT EXISTS meta (name TEXT PRIMARY KEY, value TEXT NOT NULL)"},
        // 1 -> 2: the upload ledger: one row per image of the task's image folder, known by its name, size and
        // modification time; the object key it is sent under (recorded before sending) and how far it got
        // (0 sent, 1 stored, 2 announced, 3 deleted).
        {"CREATE TABLE IF NOT EXISTS upload_image (id INTEGER PRIMARY KEY, name TEXT NOT NULL, size INTEGER NOT NULL, "
         "modified_ms INTEGER NOT NULL, object_key TEXT NOT NULL, key_ms INTEGER NOT NULL, state INTEGER NOT NULL, "
         "UNIQUE (name, size, modified_ms))"},
        // 2 -> 3: the URL each downloaded file was fetched from, per folder below the task's save folder.
        {"CREATE TABLE IF NOT EXISTS url_file_names (folder TEXT NOT NULL, url TEXT NOT NULL, file_name TEXT NOT NULL, "
         "PRIMARY KEY (folder, url), UNIQUE (folder, file_name))"},
        // 3 -> 4: per image a digest of its bytes (a file of the same name, size and time with other bytes is
        // another sheet), the announcements made without a clear answer, and why it was refused (empty: it was
        // not). State -1 marks an image refused before it was ever sent.
        {"ALTER TABLE upload_image ADD COLUMN digest TEXT NOT NULL DEFAULT ''",
         "ALTER TABLE upload_image ADD COLUMN attempts INTEGER NOT NULL DEFAULT 0",
         "ALTER TABLE upload_image ADD COLUMN refused TEXT NOT NULL DEFAULT ''"},
        // 4 -> 5: the announcements the service refused, counted apart from those it left unanswered: only
        // refusals bring an image to be marked refused.
        {"ALTER TABLE upload_image ADD COLUMN refusals INTEGER NOT NULL DEFAULT 0"},
    };
    return steps;
}

void logLine(const QString& text)
{
    AppLog::write(QStringLiteral("task database: ") + text);
}

} // namespace

TaskDatabase::TaskDatabase() = default;

TaskDatabase::~TaskDatabase()
{
    close();
}

int TaskDatabase::currentSchemaVersion()
{
    return static_cast<int>(migrations().size());
}

bool TaskDatabase::isOpen() const
{
    return !m_connectionName.isEmpty() && QSqlDatabase::database(m_connectionName, false).isOpen();
}

QString TaskDatabase::filePath() const
{
    return m_filePath;
}

QSqlDatabase TaskDatabase::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

QSqlQuery& TaskDatabase::prepared(const QString& sql) const
{
    const auto found = m_prepared.find(sql);
    if (found != m_prepared.end())
        return found.value();
    QSqlQuery query(database());
    if (!query.prepare(sql)) {
        m_unprepared = query;
        return m_unprepared;
    }
    return m_prepared.insert(sql, query).value();
}

bool TaskDatabase::exec(QSqlQuery& query, const char* what) const
{
    if (query.exec()) {
        return true;
    }
    logLine(QStringLiteral("%1 failed: %2").arg(QLatin1String(what), query.lastError().text()));
    return false;
}

bool TaskDatabase::open(const QString& filePath)
{
    close();
    const QFileInfo info(filePath);
    if (!QDir().mkpath(info.absolutePath())) {
        logLine(QStringLiteral("cannot create %1").arg(info.absolutePath()));
        return false;
    }
    m_newerSchema = false;
    const std::shared_ptr<QMutex> opening = openingLock(info.absoluteFilePath());
    QMutexLocker openingLocker(opening.get());
    QElapsedTimer busySince;
    busySince.start();
    int brokenAttempts = 0;
    for (;;) {
        m_lastError = Failure::None;
        if (openFile(filePath) && migrate()) {
            registerOpen();
            return true;
        }
        close();
        // A newer program's records are kept for it: this one works without them.
        if (m_newerSchema) {
            return false;
        }
        // Another connection holds the write lock (another thread migrating, a backup tool): every attempt has
        // already waited the busy timeout. Waited out, never a reason to throw the records away.
        if (m_lastError == Failure::Busy) {
            if (busySince.elapsed() < busyGiveUpMs.loadRelaxed()) {
                continue;
            }
            logLine(QStringLiteral("%1 stays locked by another connection; left as it is").arg(filePath));
            return false;
        }
        // Another thread may be creating the same file right now: a half-made file may briefly read as no
        // database. Only a file that fails again and again is taken for broken.
        if (m_lastError == Failure::Broken && ++brokenAttempts < 5) {
            QThread::msleep(20UL << brokenAttempts);
            continue;
        }
        break;
    }
    if (m_lastError != Failure::Broken) {
        return false;
    }
    return setAsideAndOpen(filePath);
}

// Set aside only a file SQLite itself calls corrupt or not a database, once per process and never while another
// connection of this process works with it: the worker and the wait dialog open the same file at start-up, and the
// one coming second must not move away the fresh file the first one just made.
bool TaskDatabase::setAsideAndOpen(const QString& filePath)
{
    const QFileInfo info(filePath);
    QMutexLocker locker(&openPathsMutex);
    const QString key = info.absoluteFilePath();
    if (openFile(filePath) && migrate()) {
        registerOpen();
        return true;
    }
    close();
    if (openPaths().value(key) > 0 || setAsidePaths().contains(key)) {
        logLine(QStringLiteral("%1 is unreadable, already handled by another connection").arg(filePath));
        return false;
    }
    setAsidePaths().insert(key);
    const QString aside = filePath + QStringLiteral(".broken-") + QString::number(QDateTime::currentMSecsSinceEpoch());
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (QFile::exists(filePath + suffix) && !QFile::rename(filePath + suffix, aside + suffix)) {
            QFile::remove(filePath + suffix);
        }
    }
    logLine(QStringLiteral("%1 was not a database and is made anew; the old file is kept as %2").arg(filePath, aside));
    if (openFile(filePath) && migrate()) {
        registerOpen();
        return true;
    }
    close();
    return false;
}

void TaskDatabase::setBusyWait(int attemptMs, int giveUpMs)
{
    busyAttemptMs.storeRelaxed(attemptMs > 0 ? attemptMs : kBusyAttemptMs);
    busyGiveUpMs.storeRelaxed(giveUpMs > 0 ? giveUpMs : kBusyGiveUpMs);
}

void TaskDatabase::registerOpen()
{
    QMutexLocker locker(&openPathsMutex);
    openPaths()[QFileInfo(m_filePath).absoluteFilePath()] += 1;
    m_registered = true;
}

void TaskDatabase::noteFailure(const QSqlError& error)
{
    // SQLite's primary result codes (the low byte of an extended code).
    const int code = error.nativeErrorCode().toInt() & 0xff;
    if (code == kSqliteBusy || code == kSqliteLocked) {
        m_lastError = Failure::Busy;
    } else if (code == kSqliteCorrupt || code == kSqliteNotADatabase) {
        m_lastError = Failure::Broken;
    } else if (m_lastError == Failure::None) {
        m_lastError = Failure::Other;
    }
}

bool TaskDatabase::openFile(const QString& filePath)
{
    m_filePath = filePath;
    m_connectionName = QStringLiteral("task-%1-%2")
                           .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()))
                           .arg(connectionCounter.fetchAndAddRelaxed(1));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(filePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyAttemptMs.loadRelaxed()));
    if (!db.open()) {
        noteFailure(db.lastError());
        logLine(QStringLiteral("cannot open %1: %2").arg(filePath, db.lastError().text()));
        return false;
    }

    QSqlQuery pragma(db);
    // WAL: readers on other threads never block the worker's writes; NORMAL sync is durable across a crash of
    // the program (only a power loss may drop the last transactions).
    if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
        !pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
        noteFailure(pragma.lastError());
        logLine(QStringLiteral("cannot set up %1: %2").arg(filePath, pragma.lastError().text()));
        return false;
    }
    return true;
}

int TaskDatabase::schemaVersion() const
{
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("SELECT value FROM meta WHERE name = 'schema_version'")) || !query.next()) {
        return 0;
    }
    return query.value(0).toInt();
}

bool TaskDatabase::migrate()
{
    QSqlDatabase db = database();
    QSqlQuery probe(db);
    // Reading the schema fails on a file that is not a database.
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        noteFailure(probe.lastError());
        logLine(QStringLiteral("%1 is not a database: %2").arg(m_filePath, probe.lastError().text()));
        return false;
    }
    probe.finish();
    const int target = currentSchemaVersion();
    // Each step in a write transaction taken before the version is read, so that two threads opening the same new
    // file at once migrate it one after the other instead of the second failing and taking the file for broken.
    for (;;) {
        QSqlQuery begin(db);
        if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            noteFailure(begin.lastError());
            logLine(QStringLiteral("cannot begin migration: %1").arg(begin.lastError().text()));
            return false;
        }
        const int version = schemaVersion();
        if (version >= target) {
            QSqlQuery(db).exec(QStringLiteral("COMMIT"));
            if (version > target) {
                logLine(QStringLiteral("%1 has schema %2, newer than this program's %3")
                            .arg(m_filePath)
                            .arg(version)
                            .arg(target));
                m_newerSchema = true;
                return false;
            }
            return true;
        }
        bool ok = true;
        for (const char* statement : migrations()[static_cast<size_t>(version)]) {
            QSqlQuery step(db);
            if (!step.exec(QLatin1String(statement))) {
                noteFailure(step.lastError());
                logLine(QStringLiteral("migration to %1 failed: %2").arg(version + 1).arg(step.lastError().text()));
                ok = false;
                break;
            }
        }
        QSqlQuery mark(db);
        mark.prepare(QStringLiteral("INSERT OR REPLACE INTO meta (name, value) VALUES ('schema_version', ?)"));
        mark.addBindValue(QString::number(version + 1));
        QSqlQuery commit(db);
        if (ok && (!mark.exec() || !commit.exec(QStringLiteral("COMMIT")))) {
            noteFailure(mark.lastError().isValid() ? mark.lastError() : commit.lastError());
            ok = false;
        }
        if (!ok) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return false;
        }
    }
}

void TaskDatabase::close()
{
    m_prepared.clear();
    m_unprepared = QSqlQuery();
    if (m_connectionName.isEmpty()) {
        return;
    }
    if (m_registered) {
        m_registered = false;
        QMutexLocker locker(&openPathsMutex);
        const QString key = QFileInfo(m_filePath).absoluteFilePath();
        if (--openPaths()[key] <= 0) {
            openPaths().remove(key);
        }
    }
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isValid()) {
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
}
