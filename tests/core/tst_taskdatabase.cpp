#include "core/TaskDatabase.h"

#include "TestUtils.h"

#include <atomic>
#include <memory>

#include <QSqlQuery>
#include <QThread>
#include <QtTest>

class TestTaskDatabase : public QObject
{
    Q_OBJECT

private slots:
    void opensWhateverLiesThere_data();
    void opensWhateverLiesThere();
    void twoThreadsOpenANewFileAtOnce();
    void newerProgramsFileIsLeftAsItIs();
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
    const QString path = TaskDatabase::pathForTask(QStringLiteral("T1"));
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

// The worker and the wait dialog open the task's database on their own threads at start-up: the one that comes
// second must wait for the first one's migration, never take the half-made file for a broken one.
void TestTaskDatabase::twoThreadsOpenANewFileAtOnce()
{
    ScopedWorkingDirectory dir;
    for (int round = 0; round < 20; ++round) {
        const QString path = TaskDatabase::pathForTask(QStringLiteral("T%1").arg(round));
        std::atomic<int> opened{0};
        auto openIt = [&] {
            TaskDatabase db;
            if (db.open(path) && db.schemaVersion() == TaskDatabase::currentSchemaVersion())
                ++opened;
        };
        std::unique_ptr<QThread> first(QThread::create(openIt));
        std::unique_ptr<QThread> second(QThread::create(openIt));
        first->start();
        second->start();
        QVERIFY(first->wait(20000));
        QVERIFY(second->wait(20000));
        QCOMPARE(opened.load(), 2);
        QVERIFY2(QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("*.broken-*")}).isEmpty(),
                 qPrintable(path));
    }
}

// A file written by a newer version of the program (a downgrade): not opened, but never set aside as broken, so
// that the newer version finds its records again.
void TestTaskDatabase::newerProgramsFileIsLeftAsItIs()
{
    ScopedWorkingDirectory dir;
    const QString path = TaskDatabase::pathForTask(QStringLiteral("T1"));
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

QTEST_GUILESS_MAIN(TestTaskDatabase)
#include "tst_taskdatabase.moc"
