#pragma once

#include <QHash>
#include <QSqlQuery>
#include <QString>

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

// The task's own database: one SQLite file in the task's save folder ("save/<taskId>/task.sqlite") that keeps what
// must survive a crash. One connection per thread: each thread opens its own TaskDatabase object, which names its
// connection after the thread and the file and removes it again when destroyed.
//
// The schema carries a version in the meta table; open() migrates step by step from the stored version to
// currentSchemaVersion(). A file SQLite calls corrupt or not a database is moved aside (once per process, and never
// while another connection of this process has it open) and made anew; a file locked by another connection is waited
// for, never discarded. A file whose schema is newer than this program's (written by a later version) is left
// exactly as it is: open() returns false, and the caller goes on without it.
class TaskDatabase
{
public:
    static constexpr const char* FileName = "task.sqlite";

    TaskDatabase();
    ~TaskDatabase();
    TaskDatabase(const TaskDatabase&) = delete;
    TaskDatabase& operator=(const TaskDatabase&) = delete;

    // Opens (creating the folder and the file if needed) and migrates. False when not even a fresh file can be
    // made (the folder is not writable) or when the file was written by a newer version; the reason is logged.
    bool open(const QString& filePath);
    bool isOpen() const;
    void close();
    QString filePath() const;

    // How long a file locked by another connection is waited for: each attempt waits up to attemptMs inside SQLite,
    // and after giveUpMs open() does without the file. 0 restores the program's own waits (5 s, 2 minutes).
    static void setBusyWait(int attemptMs, int giveUpMs);

    static int currentSchemaVersion();
    int schemaVersion() const;

protected:
    QSqlDatabase database() const;
    // Runs a prepared statement; logs and returns false on failure.
    bool exec(QSqlQuery& query, const char* what) const;
    // The statement prepared once for this connection: each image's steps run the same few statements again and
    // again, and parsing them was a third of the database's work. A query read from must be finish()ed.
    QSqlQuery& prepared(const QString& sql) const;

private:
    enum class Failure
    {
        None,
        Busy,
        Broken,
        Other,
    };

    bool openFile(const QString& filePath);
    bool setAsideAndOpen(const QString& filePath);
    bool migrate();
    void noteFailure(const QSqlError& error);
    // Counts this connection among the process's working connections to its file.
    void registerOpen();

    QString m_connectionName;
    QString m_filePath;
    // Set by migrate() when the file was written by a newer version of the program: it is neither migrated nor
    // taken for broken.
    bool m_newerSchema = false;
    // Why the last attempt to open failed.
    Failure m_lastError = Failure::None;
    // Whether this connection counts among the process's working connections to its file.
    bool m_registered = false;
    // Statements prepared on this connection, dropped before it closes.
    mutable QHash<QString, QSqlQuery> m_prepared;
    // A statement that could not be prepared (the file busy): not kept, prepared again next time.
    mutable QSqlQuery m_unprepared;
};
