#include <functional>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "core/TaskFolders.h"

class TestTaskFolders : public QObject
{
    Q_OBJECT

private slots:
    void paths_data();
    void paths();
    void ensureMakesTheTaskFoldersOnly();
};

using PathOf = std::function<QString(const TaskFolders&)>;
Q_DECLARE_METATYPE(PathOf)

void TestTaskFolders::paths_data()
{
    QTest::addColumn<PathOf>("pathOf");
    QTest::addColumn<QString>("expected");
    QTest::newRow("image folder") << PathOf([](const TaskFolders& f) { return f.imageFolder(); })
                                  << QStringLiteral("/w/image/T_1/");
    QTest::newRow("preview folder") << PathOf([](const TaskFolders& f) { return f.previewFolder(); })
                                    << QStringLiteral("/w/image/T_1/preview/");
    QTest::newRow("save folder") << PathOf([](const TaskFolders& f) { return f.saveFolder(); })
                                 << QStringLiteral("/w/save/T_1/");
    QTest::newRow("student folder") << PathOf([](const TaskFolders& f) { return f.studentFolder("s07"); })
                                    << QStringLiteral("/w/save/T_1/s07/");
    QTest::newRow("database") << PathOf([](const TaskFolders& f) { return f.databasePath(); })
                              << QStringLiteral("/w/save/T_1/task.sqlite");
}

void TestTaskFolders::paths()
{
    QFETCH(PathOf, pathOf);
    QFETCH(QString, expected);
    const TaskFolders folders(QStringLiteral("/w"), QStringLiteral("T_1"));
    QVERIFY(folders.isValid());
    QCOMPARE(pathOf(folders), expected);
    // Without a task no path names a folder (never image/ or save/ itself).
    const TaskFolders none(QStringLiteral("/w"), QString());
    QVERIFY(!none.isValid());
    QCOMPARE(pathOf(none), QString());
}

void TestTaskFolders::ensureMakesTheTaskFoldersOnly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(!TaskFolders(dir.path(), QString()).ensure());
    QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    const TaskFolders folders(dir.path(), QStringLiteral("T_1"));
    QVERIFY(folders.ensure());
    QVERIFY(QFileInfo(folders.previewFolder()).isDir());
    QVERIFY(QFileInfo(folders.saveFolder()).isDir());
    QVERIFY(!QFileInfo::exists(folders.studentFolder(QStringLiteral("s07"))));
}

QTEST_GUILESS_MAIN(TestTaskFolders)
#include "tst_taskfolders.moc"
