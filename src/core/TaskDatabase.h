#pragma once

#include <QString>

class QSqlDatabase;
class QSqlQuery;

// The task's own database: one SQLite file in the task's save folder ("save/<taskId>/task.sqlite") that keeps what
// must survive a crash. One connection per thread: each thread opens its own TaskDatabase object, which names its
// connection after the thread and the file and removes it again when destroyed.
//
// The schema carries a version in the meta table; open() migrates step by step from the stored version to
// currentSchemaVersion(). A file that cannot be opened or read as a database is moved aside and made anew: losing
// the records costs at most a repeated upload, never a stop. A file whose schema is newer than this program's
// (written by a later version) is left exactly as it is: open() returns false, and the caller goes on without it.
class TaskDatabase
{
public:
    static constexpr const char* FileName = "task.sqlite";

    TaskDatabase();
    ~TaskDatabase();
    TaskDatabase(const TaskDatabase&) = delete;
    TaskDatabase& operator=(const TaskDatabase&) = delete;

    // "<workingFolder>/save/<taskId>/task.sqlite", relative to the working folder like every other task file.
    static QString pathForTask(const QString& taskId);

    // Opens (creating the folder and the file if needed) and migrates. False when not even a fresh file can be
    // made (the folder is not writable) or when the file was written by a newer version; the reason is logged.
    bool open(const QString& filePath);
    bool isOpen() const;
    void close();
    QString filePath() const;

    static int currentSchemaVersion();
    int schemaVersion() const;

protected:
    QSqlDatabase database() const;
    // Runs a prepared statement; logs and returns false on failure.
    bool exec(QSqlQuery& query, const char* what) const;

private:
    bool openFile(const QString& filePath);
    bool migrate();

    QString m_connectionName;
    QString m_filePath;
    // Set by migrate() when the file was written by a newer version of the program: it is neither migrated nor
    // taken for broken.
    bool m_newerSchema = false;
};
