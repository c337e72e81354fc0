#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include "TestDataPath.h"
#include "TestUtils.h"
#include "pages/DisplayPhotoFooterReTake.h"
#include "pages/DisplayPhotoHead.h"
#include "pages/HomePage.h"
#include "pages/ImageImport.h"
#include "widgets/FileDialog.h"
#include "widgets/MessageBox.h"

namespace {

const QString TaskId = QStringLiteral("task42");

// The three places that offer the import, built by name so one data row covers each, handed the task's folders.
QWidget* makeImporter(const QString& kind, const QString& taskId = TaskId)
{
    const TaskFolders folders = TaskFolders::inWorkingFolder(taskId);
    if (kind == QLatin1String("home")) {
        auto* page = new HomePage();
        page->setTaskFolders(folders);
        return page;
    }
    if (kind == QLatin1String("progress header")) {
        auto* head = new DisplayPhotoHead();
        head->setTaskFolders(folders);
        return head;
    }
    auto* footer = new DisplayPhotoFooterReTake();
    footer->setTaskFolders(folders);
    return footer;
}

void addImporterRows()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("home page") << QStringLiteral("home");
    QTest::newRow("progress header") << QStringLiteral("progress header");
    QTest::newRow("re-take footer") << QStringLiteral("re-take footer");
}

} // namespace

class TestImageImport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void asksWithTheImportDialog_data() { addImporterRows(); }
    void asksWithTheImportDialog();
    void cancelledDialogStillAnnouncesTheUpload_data() { addImporterRows(); }
    void cancelledDialogStillAnnouncesTheUpload();
    void copiesEveryChosenExtension_data() { addImporterRows(); }
    void copiesEveryChosenExtension();
    void existingNameIsNotOverwrittenAndReported_data() { addImporterRows(); }
    void existingNameIsNotOverwrittenAndReported();
    void sameNameOtherSheetGetsAFreeName();
    void unreadableSourceIsReportedAndTheRestCopied();
    void createsTheMissingTaskFolderOneLevel();
    void withoutTaskNothingIsImportedAndTheTeacherIsTold_data() { addImporterRows(); }
    void withoutTaskNothingIsImportedAndTheTeacherIsTold();
    void missingImageRootFailsEveryCopy();
    void reportText_data();
    void reportText();

private:
    QString source(const QString& relative, const QByteArray& bytes);
    QString taskFolder() const { return m_dir->filePath(QStringLiteral("image/") + TaskId + QStringLiteral("/")); }

    std::unique_ptr<ScopedWorkingDirectory> m_dir;
    QList<FileDialog::Request> m_requests;
    QStringList m_nextPaths;
    QStringList m_warnings;
};

void TestImageImport::init()
{
    m_dir = std::make_unique<ScopedWorkingDirectory>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkdir(QStringLiteral("image")));
    m_requests.clear();
    m_nextPaths.clear();
    m_warnings.clear();
    FileDialog::setChooser([this](const FileDialog::Request& request) {
        m_requests << request;
        return m_nextPaths;
    });
    MessageBox::setAnswerer([this](const MessageBox::Shown& box) {
        m_warnings << box.text;
        return QMessageBox::Ok;
    });
}

void TestImageImport::cleanup()
{
    FileDialog::setChooser({});
    MessageBox::setAnswerer({});
    m_dir.reset();
}

QString TestImageImport::source(const QString& relative, const QByteArray& bytes)
{
    const QString path = m_dir->filePath(QStringLiteral("scans/") + relative);
    if (!TestUtils::writeFile(path, bytes))
        return {};
    return path;
}

void TestImageImport::asksWithTheImportDialog()
{
    QFETCH(QString, kind);
    std::unique_ptr<QWidget> importer(makeImporter(kind));
    QMetaObject::invokeMethod(importer.get(), "uploadPng");

    QCOMPARE(m_requests.size(), 1);
    QCOMPARE(m_requests.first().parent, importer.get());
    QCOMPARE(m_requests.first().caption, QStringLiteral("选择图片"));
    QCOMPARE(m_requests.first().directory, QStringLiteral("/home"));
    QCOMPARE(m_requests.first().filter, QStringLiteral("图片(*.jpg *.jpeg *.png *.bmp *.gif *.tif);;All(*.*)"));
}

void TestImageImport::cancelledDialogStillAnnouncesTheUpload()
{
    QFETCH(QString, kind);
    std::unique_ptr<QWidget> importer(makeImporter(kind));
    QSignalSpy started(importer.get(), SIGNAL(uploadPicStarted()));

    QMetaObject::invokeMethod(importer.get(), "uploadPng");

    QCOMPARE(started.count(), 1);
    QVERIFY(QDir(taskFolder()).entryList(QDir::Files).isEmpty());
    QVERIFY(m_warnings.isEmpty());
}

void TestImageImport::copiesEveryChosenExtension()
{
    QFETCH(QString, kind);
    const QStringList asTheyAre = {QStringLiteral("a.jpg"), QStringLiteral("b.jpeg"), QStringLiteral("c.png"),
                                   QStringLiteral("d.bmp")};
    for (const QString& name : asTheyAre)
        m_nextPaths << source(name, name.toUtf8() + " bytes");
    QFile gif(QStringLiteral(AMBREL_TEST_DATA_DIR "/quadrants.gif"));
    QVERIFY(gif.open(QIODevice::ReadOnly));
    m_nextPaths << source(QStringLiteral("e.gif"), gif.readAll());
    const QString tif = m_dir->filePath(QStringLiteral("scans/f.tif"));
    QVERIFY(TestUtils::makeTestImage(64, 48).save(tif, "TIFF"));
    m_nextPaths << tif << QStringLiteral(AMBREL_TEST_DATA_DIR "/two-pages.tif")
                << source(QStringLiteral("notes.txt"), "not an image") << source(QStringLiteral("NOEXT"), "?");
    std::unique_ptr<QWidget> importer(makeImporter(kind));
    QSignalSpy started(importer.get(), SIGNAL(uploadPicStarted()));

    QMetaObject::invokeMethod(importer.get(), "uploadPng");

    QCOMPARE(started.count(), 1);
    QStringList copied = QDir(taskFolder()).entryList(QDir::Files | QDir::Hidden);
    copied.sort();
    QCOMPARE(copied, (asTheyAre + QStringList{QStringLiteral("e.png"), QStringLiteral("f.png"),
                                              QStringLiteral("two-pages-1.png"), QStringLiteral("two-pages-2.png")}));
    for (const QString& name : asTheyAre)
        QCOMPARE(TestUtils::readFile(taskFolder() + name), name.toUtf8() + " bytes");
    // The store takes no GIF or TIFF: those arrive as PNG files with the same pixels.
    const QImage fromGif(taskFolder() + QStringLiteral("e.png"), "PNG");
    QCOMPARE(fromGif.size(), QSize(16, 8));
    QCOMPARE(fromGif.pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(fromGif.pixel(15, 0), qRgb(0, 255, 0));
    QCOMPARE(fromGif.pixel(0, 7), qRgb(0, 0, 255));
    QCOMPARE(fromGif.pixel(15, 7), qRgb(255, 255, 255));
    const QImage fromTif(taskFolder() + QStringLiteral("f.png"), "PNG");
    QCOMPARE(fromTif.convertToFormat(QImage::Format_RGB32), TestUtils::makeTestImage(64, 48));
    // A scanner's TIFF holds one sheet per page: each becomes a file of its own.
    QCOMPARE(QImage(taskFolder() + QStringLiteral("two-pages-1.png")).pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(QImage(taskFolder() + QStringLiteral("two-pages-2.png")).pixel(7, 3), qRgb(0, 0, 255));
    for (const QString& name : asTheyAre)
        QVERIFY2(QFileInfo::exists(m_dir->filePath(QStringLiteral("scans/") + name)), "the source stays in place");
    // What cannot be read as an image is named, never left in the folder where nothing would upload it.
    QCOMPARE(m_warnings.size(), 1);
    QVERIFY(m_warnings.first().contains(QStringLiteral("notes.txt")));
    QVERIFY(m_warnings.first().contains(QStringLiteral("NOEXT")));
    QVERIFY(!m_warnings.first().contains(QStringLiteral("e.gif")));
}

void TestImageImport::existingNameIsNotOverwrittenAndReported()
{
    QFETCH(QString, kind);
    QVERIFY(QDir().mkdir(taskFolder()));
    QVERIFY(TestUtils::writeFile(taskFolder() + QStringLiteral("page1.jpg"), "waiting for upload"));
    m_nextPaths << source(QStringLiteral("page1.jpg"), "waiting for upload")
                << source(QStringLiteral("page2.jpg"), "second");
    std::unique_ptr<QWidget> importer(makeImporter(kind));
    QSignalSpy started(importer.get(), SIGNAL(uploadPicStarted()));

    QMetaObject::invokeMethod(importer.get(), "uploadPng");

    QCOMPARE(started.count(), 1);
    QCOMPARE(TestUtils::readFile(taskFolder() + QStringLiteral("page1.jpg")), QByteArray("waiting for upload"));
    QCOMPARE(TestUtils::readFile(taskFolder() + QStringLiteral("page2.jpg")), QByteArray("second"));
    QCOMPARE(QDir(taskFolder()).entryList(QDir::Files).size(), 2);
    QCOMPARE(m_warnings.size(), 1);
    QVERIFY(m_warnings.first().contains(QStringLiteral("page1.jpg")));
    QVERIFY(!m_warnings.first().contains(QStringLiteral("page2.jpg")));
}

void TestImageImport::sameNameOtherSheetGetsAFreeName()
{
    m_nextPaths << source(QStringLiteral("monday/sheet.jpg"), "monday")
                << source(QStringLiteral("tuesday/sheet.jpg"), "tuesday")
                << source(QStringLiteral("wednesday/sheet.jpg"), "monday");
    HomePage page;
    page.setTaskFolders(TaskFolders::inWorkingFolder(TaskId));

    page.uploadPng();

    QCOMPARE(QDir(taskFolder()).entryList(QDir::Files, QDir::Name),
             (QStringList{QStringLiteral("sheet (2).jpg"), QStringLiteral("sheet.jpg")}));
    QCOMPARE(TestUtils::readFile(taskFolder() + QStringLiteral("sheet.jpg")), QByteArray("monday"));
    QCOMPARE(TestUtils::readFile(taskFolder() + QStringLiteral("sheet (2).jpg")), QByteArray("tuesday"));
    // Only the true duplicate (same bytes) is reported.
    QCOMPARE(m_warnings.size(), 1);
    QVERIFY(m_warnings.first().contains(QStringLiteral("sheet.jpg")));
    QVERIFY(!m_warnings.first().contains(QStringLiteral("(2)")));
}

void TestImageImport::unreadableSourceIsReportedAndTheRestCopied()
{
    m_nextPaths << m_dir->filePath(QStringLiteral("scans/gone.jpg")) << source(QStringLiteral("ok.jpg"), "ok");
    DisplayPhotoHead head;
    head.setTaskFolders(TaskFolders::inWorkingFolder(TaskId));
    QSignalSpy started(&head, SIGNAL(uploadPicStarted()));

    head.uploadPng();

    QCOMPARE(started.count(), 1);
    QCOMPARE(QDir(taskFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("ok.jpg")});
    QCOMPARE(m_warnings.size(), 1);
    QVERIFY(m_warnings.first().contains(QStringLiteral("gone.jpg")));
}

void TestImageImport::createsTheMissingTaskFolderOneLevel()
{
    QVERIFY(!QFileInfo::exists(taskFolder()));
    DisplayPhotoFooterReTake footer;
    footer.setTaskFolders(TaskFolders::inWorkingFolder(TaskId));

    footer.uploadPng();

    QVERIFY2(QFileInfo(taskFolder()).isDir(), "created even when the dialog was cancelled");
}

void TestImageImport::withoutTaskNothingIsImportedAndTheTeacherIsTold()
{
    QFETCH(QString, kind);
    // Started without a task: image/ itself is no task's folder and nothing would ever upload from it.
    m_nextPaths << source(QStringLiteral("a.jpg"), "a") << source(QStringLiteral("b.png"), "b");
    std::unique_ptr<QWidget> importer(makeImporter(kind, QString()));

    QMetaObject::invokeMethod(importer.get(), "uploadPng");

    QCOMPARE(QDir(m_dir->filePath(QStringLiteral("image"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(m_warnings, QStringList{QStringLiteral("未获取到考试任务，照片无法上传，请从阅卷网站重新打开本程序")});
    QVERIFY2(m_requests.isEmpty(), "no files are asked for that cannot be uploaded");
}

void TestImageImport::missingImageRootFailsEveryCopy()
{
    QVERIFY(QDir(m_dir->filePath(QStringLiteral("image"))).removeRecursively());
    m_nextPaths << source(QStringLiteral("a.jpg"), "a");
    HomePage page;
    page.setTaskFolders(TaskFolders::inWorkingFolder(TaskId));
    QSignalSpy started(&page, SIGNAL(uploadPicStarted()));

    page.uploadPng();

    QCOMPARE(started.count(), 1);
    QVERIFY2(!QFileInfo::exists(taskFolder()), "only one level is created");
    QCOMPARE(m_warnings.size(), 1);
    QVERIFY(m_warnings.first().contains(QStringLiteral("a.jpg")));
}

void TestImageImport::reportText_data()
{
    QTest::addColumn<QStringList>("skipped");
    QTest::addColumn<QStringList>("failed");
    QTest::addColumn<QStringList>("mustContain");
    QTest::addColumn<QStringList>("mustNotContain");

    QTest::newRow("nothing went wrong") << QStringList() << QStringList() << QStringList() << QStringList();
    QTest::newRow("one skipped") << QStringList{"a.jpg"} << QStringList()
                                 << QStringList{"a.jpg", QStringLiteral("未重复导入")}
                                 << QStringList{QStringLiteral("无法读取")};
    QTest::newRow("one failed") << QStringList() << QStringList{"b.png"}
                                << QStringList{"b.png", QStringLiteral("无法读取")}
                                << QStringList{QStringLiteral("未重复导入")};
    QStringList many;
    for (int i = 1; i <= 12; ++i)
        many << QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    QTest::newRow("long list is cut and counted")
        << many << QStringList() << QStringList{"p01.jpg", "p08.jpg", QStringLiteral("等12张")}
        << QStringList{"p09.jpg", "p12.jpg"};
}

void TestImageImport::reportText()
{
    QFETCH(QStringList, skipped);
    QFETCH(QStringList, failed);
    QFETCH(QStringList, mustContain);
    QFETCH(QStringList, mustNotContain);
    ImageImport::Result result;
    result.skipped = skipped;
    result.failed = failed;

    const QString text = ImageImport::reportText(result);

    QCOMPARE(text.isEmpty(), skipped.isEmpty() && failed.isEmpty());
    for (const QString& part : mustContain)
        QVERIFY2(text.contains(part), qPrintable(part));
    for (const QString& part : mustNotContain)
        QVERIFY2(!text.contains(part), qPrintable(part));
}

QTEST_MAIN(TestImageImport)
#include "tst_imageimport.moc"
