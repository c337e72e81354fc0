#include <utime.h>

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QtTest>

#include "TestUtils.h"
#include "core/OldDownloads.h"
#include "core/TaskFolders.h"

namespace {

constexpr qint64 kNow = 1'750'000'000'000;
constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;

// Every file below the folder, relative to it, sorted.
QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

bool setTime(const QString& path, qint64 ms)
{
    // QFile opens no folder, and a folder's time is what an older task's age is read from.
    const utimbuf times{time_t(ms / 1000), time_t(ms / 1000)};
    return ::utime(QFile::encodeName(path).constData(), &times) == 0;
}

} // namespace

// Downloads of tasks not opened for a while leave the working folder at start; the teacher's own photographs stay.
class TestOldDownloads : public QObject
{
    Q_OBJECT

private slots:
    void sweepsTasksNotOpenedForKeepDays_data();
    void sweepsTasksNotOpenedForKeepDays();
};

void TestOldDownloads::sweepsTasksNotOpenedForKeepDays_data()
{
    QTest::addColumn<int>("keepDays");
    QTest::addColumn<int>("daysSinceOpened");
    // Without a marker (a task last opened by an older version), the save folder's own time counts.
    QTest::addColumn<bool>("marker");
    // The old task is the one being opened now.
    QTest::addColumn<bool>("openingOldTask");
    QTest::addColumn<bool>("removed");

    QTest::newRow("opened 31 days ago, kept 30") << 30 << 31 << true << false << true;
    QTest::newRow("opened 29 days ago, kept 30") << 30 << 29 << true << false << false;
    QTest::newRow("keep_days 0 keeps everything") << 0 << 400 << true << false << false;
    QTest::newRow("no marker yet: the save folder's time") << 30 << 31 << false << false << true;
    QTest::newRow("no marker, folder changed lately") << 30 << 2 << false << false << false;
    QTest::newRow("the task being opened is never swept") << 30 << 400 << true << true << false;
}

void TestOldDownloads::sweepsTasksNotOpenedForKeepDays()
{
    QFETCH(int, keepDays);
    QFETCH(int, daysSinceOpened);
    QFETCH(bool, marker);
    QFETCH(bool, openingOldTask);
    QFETCH(bool, removed);

    ScopedWorkingDirectory work;
    QVERIFY(work.isValid());
    const TaskFolders old(work.path(), QStringLiteral("T-old"));
    const TaskFolders current(work.path(), QStringLiteral("T-now"));
    QVERIFY(old.ensure());
    QVERIFY(current.ensure());
    const QStringList downloads{QStringLiteral("s01/page1.jpg"), QStringLiteral("s01/page2.jpg"),
                                QStringLiteral("thumb-s01.jpg")};
    for (const QString& download : downloads)
        QVERIFY(TestUtils::writeFile(old.saveFolder() + download, QByteArray(1000, 'j')));
    QStringList kept{QStringLiteral("task.sqlite"), QStringLiteral("task.sqlite-wal")};
    for (const QString& file : kept)
        QVERIFY(TestUtils::writeFile(old.saveFolder() + file, "db"));
    // A sheet the teacher set aside from the upload: kept nowhere else.
    QVERIFY(TestUtils::writeFile(old.setAsideFolder() + QStringLiteral("{aside}.jpg"), "jpeg"));
    kept << QDir(old.saveFolder()).relativeFilePath(old.setAsideFolder() + QStringLiteral("{aside}.jpg"));
    // A sheet waiting for upload, its preview, and one the store refused: never touched.
    const QStringList photographs{QStringLiteral("preview/{w}.jpg"), QStringLiteral("{refused}.jpg"),
                                  QStringLiteral("{w}.jpg")};
    for (const QString& photograph : photographs)
        QVERIFY(TestUtils::writeFile(old.imageFolder() + photograph, "jpeg"));
    const qint64 lastOpened = kNow - daysSinceOpened * kDayMs;
    if (marker) {
        QVERIFY(TestUtils::writeFile(old.openedMarkerPath(), QByteArray()));
        QVERIFY(setTime(old.openedMarkerPath(), lastOpened));
        kept << QStringLiteral(".opened");
    }
    // With a marker, the folder's own time says nothing about the last opening: here it changed lately.
    QVERIFY(setTime(old.saveFolder(), marker ? kNow : lastOpened));
    kept.sort();

    const TaskFolders& opened = openingOldTask ? old : current;
    const QList<OldDownloads::Removed> swept = OldDownloads::sweep(opened, keepDays, kNow);

    QStringList expected = kept;
    if (!removed) {
        expected << downloads;
        expected.sort();
    }
    QCOMPARE(filesBelow(old.saveFolder()), expected);
    QCOMPARE(filesBelow(old.imageFolder()), photographs);
    QCOMPARE(swept.size(), removed ? 1 : 0);
    if (removed) {
        QCOMPARE(swept.first().taskId, old.taskId());
        QCOMPARE(swept.first().files, downloads.size());
        QCOMPARE(swept.first().bytes, qint64(3000));
    }
    // The task being opened counts as opened now, so its downloads are kept for the days to come.
    QCOMPARE(QFileInfo(opened.openedMarkerPath()).lastModified().toMSecsSinceEpoch() / 1000, kNow / 1000);
}

QTEST_GUILESS_MAIN(TestOldDownloads)
#include "tst_olddownloads.moc"
