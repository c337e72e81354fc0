#include <atomic>
#include <memory>

#include <QFile>
#include <QSqlQuery>
#include <QThread>
#include <QtTest>

#include "TestUtils.h"
#include "core/TaskDatabase.h"
#include "core/TaskFolders.h"

class TestTaskDatabase : public QObject
{
    Q_OBJECT

private slots:
    void opensWhateverLiesThere_data();
    void opensWhateverLiesThere();
    void twoThreadsOpenAtOnce_data();
    void twoThreadsOpenAtOnce();
    void newerProgramsFileIsLeftAsItIs();
    void brokenFileSetAsideOnceAndNeverUnderAnotherConnection();
    void lockedFileIsWaitedForNeverSetAside();
};

void TestTaskDatabase::opensWhateverLiesThere_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<bool>("keptAside");
    QTest::newRow("no file") << QByteArray() << false;
    QTest::newRow("garbage bytes") << QByteArray(4096, 'x') << true;
    QTest::newRow("truncated header") << QByteArray("SQLite format 3\0\x10", 18) << true;
}

// Whatever lies at the path, open() ends with a migrated database; a file that was not one is kept aside.
void TestTaskDatabase::opensWhateverLiesThere()
{
    QFETCH(QByteArray, existing);
    QFETCH(bool, keptAside);
    ScopedWorkingDirectory dir;
    const QString path = TaskFolders::inWorkingFolder(QStringLiteral("T1")).databasePath();
    if (!existing.isNull()) {
        QVERIFY(TestUtils::writeFile(path, existing));
    }
    {
        TaskDatabase db;
        QVERIFY(db.open(path));
        QCOMPARE(db.schemaVersion(), TaskDatabase::currentSchemaVersion());
    }
    const QStringList aside = QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("*.broken-*")});
    QCOMPARE(aside.isEmpty(), !keptAside);

    // A second open on another connection finds the version stored and migrates nothing.
    TaskDatabase again;
    QVERIFY(again.open(path));
    QCOMPARE(again.schemaVersion(), TaskDatabase::currentSchemaVersion());
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("*.broken-*")}), aside);
}

namespace {

// Writes a mark through its own connection, to see afterwards which file each connection wrote into.
class MarkingDatabase : public TaskDatabase
{
public:
    bool mark(const QString& name)
    {
        QSqlQuery query(database());
        query.prepare(QStringLiteral("INSERT INTO meta (name, value) VALUES (?, 'x')"));
        query.addBindValue(name);
        return exec(query, "mark");
    }
    bool hasMark(const QString& name)
    {
        QSqlQuery query(database());
        query.prepare(QStringLiteral("SELECT count(*) FROM meta WHERE name = ?"));
        query.addBindValue(name);
        return exec(query, "look for a mark") && query.next() && query.value(0).toInt() == 1;
    }
    // Moves everything from the write-ahead log into the file itself.
    bool checkpoint()
    {
        QSqlQuery query(database());
        query.prepare(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        return exec(query, "checkpoint");
    }
};

} // namespace

void TestTaskDatabase::twoThreadsOpenAtOnce_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<int>("setAside");
    QTest::newRow("no file yet") << QByteArray() << 0;
    QTest::newRow("random bytes") << QByteArray(4096, '\x5a') << 1;
}

// The worker and the wait dialog open the task's database on their own threads at start-up: the one that comes
// second must wait for the first one's migration, never take the half-made file for a broken one, and a broken
// file is set aside once, never the fresh file the other connection has just made and written to.
void TestTaskDatabase::twoThreadsOpenAtOnce()
{
    QFETCH(QByteArray, existing);
    QFETCH(int, setAside);
    ScopedWorkingDirectory dir;
    for (int round = 0; round < 10; ++round) {
        const QString path = TaskFolders::inWorkingFolder(QStringLiteral("T%1").arg(round)).databasePath();
        if (!existing.isNull())
            QVERIFY(TestUtils::writeFile(path, existing));
        std::atomic<int> marked{0};
        auto openIt = [&](const QString& name) {
            return [&, name] {
                MarkingDatabase db;
                if (db.open(path) && db.schemaVersion() == TaskDatabase::currentSchemaVersion() && db.mark(name))
                    ++marked;
            };
        };
        std::unique_ptr<QThread> first(QThread::create(openIt(QStringLiteral("first"))));
        std::unique_ptr<QThread> second(QThread::create(openIt(QStringLiteral("second"))));
        first->start();
        second->start();
        QVERIFY(first->wait(20000));
        QVERIFY(second->wait(20000));
        QCOMPARE(marked.load(), 2);
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("*.broken-*")}).size(), setAside);
        // Both marks are in the file that stays.
        TaskDatabase after;
        QVERIFY(after.open(path));
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        raw.setDatabaseName(path);
        QVERIFY(raw.open());
        QSqlQuery query(raw);
        QVERIFY(query.exec(QStringLiteral("SELECT count(*) FROM meta WHERE name IN ('first', 'second')")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 2);
        query = QSqlQuery();
        raw.close();
        raw = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }
}

// A file written by a newer version of the program (a downgrade): not opened, but never set aside as broken, so
// that the newer version finds its records again.
void TestTaskDatabase::newerProgramsFileIsLeftAsItIs()
{
    ScopedWorkingDirectory dir;
    const QString path = TaskFolders::inWorkingFolder(QStringLiteral("T1")).databasePath();
    {
        TaskDatabase db;
        QVERIFY(db.open(path));
    }
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        raw.setDatabaseName(path);
        QVERIFY(raw.open());
        QSqlQuery query(raw);
        QVERIFY(query.exec(QStringLiteral("UPDATE meta SET value = '%1' WHERE name = 'schema_version'")
                               .arg(TaskDatabase::currentSchemaVersion() + 1)));
        raw.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));

    TaskDatabase older;
    QVERIFY(!older.open(path));
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("*.broken-*")}).isEmpty());
}

namespace {

// Overwrites the start of the file, where SQLite keeps its header, so that it no longer reads as a database.
bool spoilHeader(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.write(QByteArray(100, '\x5a')) == 100;
}

int setAsideCount(const QString& path)
{
    return QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("*.broken-*")}).size();
}

} // namespace

// A file that reads as no database while another connection of this process works with it is not moved away
// under that connection; with none left it is set aside, but only once per run.
void TestTaskDatabase::brokenFileSetAsideOnceAndNeverUnderAnotherConnection()
{
    ScopedWorkingDirectory dir;
    const QString path = TaskFolders::inWorkingFolder(QStringLiteral("T1")).databasePath();
    {
        MarkingDatabase working;
        QVERIFY(working.open(path));
        QVERIFY(working.checkpoint());
        QVERIFY(spoilHeader(path));
        TaskDatabase second;
        QVERIFY(!second.open(path));
        QCOMPARE(setAsideCount(path), 0);
    }
    TaskDatabase third;
    QVERIFY(third.open(path));
    QCOMPARE(setAsideCount(path), 1);
    third.close();

    QVERIFY(spoilHeader(path));
    TaskDatabase fourth;
    QVERIFY(!fourth.open(path));
    QCOMPARE(setAsideCount(path), 1);
}

// A file another connection keeps locked (a backup tool, a second program) is waited for and then done without,
// never taken for a broken one: the record of what was sent and refused stays.
void TestTaskDatabase::lockedFileIsWaitedForNeverSetAside()
{
    ScopedWorkingDirectory dir;
    const QString path = TaskFolders::inWorkingFolder(QStringLiteral("T1")).databasePath();
    {
        MarkingDatabase first;
        QVERIFY(first.open(path));
        QVERIFY(first.mark(QStringLiteral("sent")));
    }
    TaskDatabase::setBusyWait(50, 600);
    {
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(path);
        QVERIFY(holder.open());
        QSqlQuery hold(holder);
        // Exclusive locking keeps even readers out of a file in write-ahead mode.
        QVERIFY(hold.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
        QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(hold.exec(QStringLiteral("INSERT INTO meta (name, value) VALUES ('holder', 'x')")));

        TaskDatabase blocked;
        QVERIFY(!blocked.open(path));
        QCOMPARE(setAsideCount(path), 0);

        QVERIFY(hold.exec(QStringLiteral("COMMIT")));
        hold = QSqlQuery();
        holder.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    TaskDatabase::setBusyWait(0, 0);

    MarkingDatabase after;
    QVERIFY(after.open(path));
    QCOMPARE(setAsideCount(path), 0);
    QVERIFY(after.hasMark(QStringLiteral("sent")));
    QVERIFY(after.hasMark(QStringLiteral("holder")));
}

QTEST_GUILESS_MAIN(TestTaskDatabase)
#include "tst_taskdatabase.moc"
