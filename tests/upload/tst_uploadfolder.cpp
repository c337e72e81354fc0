#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QtTest>

#include "TestUtils.h"
#include "upload/UploadFolder.h"

// The hand-over into the upload folder: the complete file under its final name, nothing else left behind.

class TestUploadFolder : public QObject
{
    Q_OBJECT

private slots:
    void placeBytes_data();
    void placeBytes();
    void copyFile_data();
    void copyFile();
    void failuresLeaveNothing_data();
    void failuresLeaveNothing();
};

void TestUploadFolder::placeBytes_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("new file") << QByteArray() << QByteArray("jpeg bytes");
    QTest::newRow("replaces a longer file") << QByteArray(5000, 'o') << QByteArray("short");
    QTest::newRow("empty image") << QByteArray() << QByteArray("");
    QTest::newRow("4 MB still") << QByteArray() << TestUtils::patternBytes(4 * 1024 * 1024);
}

void TestUploadFolder::placeBytes()
{
    QFETCH(QByteArray, existing);
    QFETCH(QByteArray, data);
    ScopedWorkingDirectory cwd;
    const QString folder = cwd.filePath("image/t1/");
    QVERIFY(QDir().mkpath(folder));
    if (!existing.isEmpty())
        QVERIFY(TestUtils::writeFile(folder + "{id}.jpg", existing));

    QString error;
    QVERIFY2(UploadFolder::placeBytes(folder, "{id}.jpg", data, &error), qPrintable(error));

    QCOMPARE(TestUtils::readFile(folder + "{id}.jpg"), data);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"{id}.jpg"});
}

void TestUploadFolder::copyFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("small picture") << 1000 << false;
    QTest::newRow("several read chunks") << 3 * 1024 * 1024 + 17 << false;
    QTest::newRow("replaces a file of the same name") << 2000 << true;
    QTest::newRow("empty file") << 0 << false;
}

void TestUploadFolder::copyFile()
{
    QFETCH(int, size);
    QFETCH(bool, targetExists);
    ScopedWorkingDirectory cwd;
    const QString folder = cwd.filePath("image/t1/");
    QVERIFY(QDir().mkpath(folder));
    const QByteArray bytes = TestUtils::patternBytes(size);
    QVERIFY(TestUtils::writeFile(cwd.filePath("scans/page 1.JPG"), bytes));
    if (targetExists)
        QVERIFY(TestUtils::writeFile(folder + "page 1.JPG", "old"));

    QString error;
    QVERIFY2(UploadFolder::copyFile(cwd.filePath("scans/page 1.JPG"), folder, "page 1.JPG", &error), qPrintable(error));

    QVERIFY(TestUtils::readFile(folder + "page 1.JPG") == bytes);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"page 1.JPG"});
    // The source is copied, not moved.
    QVERIFY(QFileInfo::exists(cwd.filePath("scans/page 1.JPG")));
}

void TestUploadFolder::failuresLeaveNothing_data()
{
    QTest::addColumn<QString>("situation");
    QTest::newRow("source missing") << "nosource";
    QTest::newRow("source is a folder") << "sourcedir";
    QTest::newRow("target folder missing") << "nofolder";
    QTest::newRow("final rename fails after a copy") << "renamecopy";
    QTest::newRow("final rename fails after writing bytes") << "renamebytes";
}

void TestUploadFolder::failuresLeaveNothing()
{
    QFETCH(QString, situation);
    ScopedWorkingDirectory cwd;
    const QString folder = cwd.filePath("image/t1/");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(TestUtils::writeFile(cwd.filePath("a.jpg"), "a"));
    QVERIFY(QDir().mkpath(cwd.filePath("dir.jpg")));

    // A folder in the final file's place: the rename of the finished temporary file fails for real.
    UploadFolder::setBeforeRename([](const QString& finalPath) { QDir().mkpath(finalPath); });
    const auto removeHook = qScopeGuard([] { UploadFolder::setBeforeRename(nullptr); });
    if (!situation.startsWith("rename"))
        UploadFolder::setBeforeRename(nullptr);

    QString error;
    bool ok = true;
    if (situation == "renamecopy")
        ok = UploadFolder::copyFile(cwd.filePath("a.jpg"), folder, "x.jpg", &error);
    else if (situation == "renamebytes")
        ok = UploadFolder::placeBytes(folder, "x.jpg", "bytes", &error);
    else if (situation == "nosource")
        ok = UploadFolder::copyFile(cwd.filePath("missing.jpg"), folder, "x.jpg", &error);
    else if (situation == "sourcedir")
        ok = UploadFolder::copyFile(cwd.filePath("dir.jpg"), folder, "x.jpg", &error);
    else
        ok = UploadFolder::copyFile(cwd.filePath("a.jpg"), cwd.filePath("image/none/"), "x.jpg", &error);

    QVERIFY(!ok);
    QVERIFY(!error.isEmpty());
    QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QVERIFY(!QFileInfo::exists(cwd.filePath("image/none")));
}

QTEST_GUILESS_MAIN(TestUploadFolder)
#include "tst_uploadfolder.moc"
