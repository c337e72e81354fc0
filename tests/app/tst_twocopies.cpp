#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QtTest>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "core/TaskFolders.h"
#include "upload/QueueLookup.h"
#include "upload/UploadLedger.h"

// The built client against the in-process emulator, each run in a process namespace of its own so that a client
// someone else runs is never asked to hand over nor ended.

using Endpoint = ServiceEmulator::Endpoint;
using Fault = ServiceEmulator::Fault;

namespace {

const QByteArray kLaunch = QByteArrayLiteral("x//T1_tok_u9_Title/");

QByteArray jpeg(int seed)
{
    return TestUtils::encodedTestImage(40 + seed, 30, "JPG");
}

class TestTwoCopies : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void secondStartTakesOverWithoutRepeats();
    void refusedFilesDoNotHoldUpTheOthers();
    void fullDiskStillDrains();

private:
    // Starts `script` (bash) in a new process namespace, in the working folder, with the client's settings.
    bool startInNamespace(const QString& script);
    QString imagePath(const QString& name) const { return m_work->filePath(QStringLiteral("image/T1/") + name); }
    QStringList waitingImages() const
    {
        return QDir(m_work->filePath(QStringLiteral("image/T1"))).entryList({"*.jpg"}, QDir::Files);
    }

    std::unique_ptr<ScopedWorkingDirectory> m_work;
    std::unique_ptr<EmulatorFixture> m_emulator;
    QProcess m_namespace;
    QString m_log;
};

void TestTwoCopies::init()
{
    m_work = std::make_unique<ScopedWorkingDirectory>();
    m_emulator = std::make_unique<EmulatorFixture>();
    QVERIFY(m_emulator->isRunning());
    m_log = m_work->filePath(QStringLiteral("client.log"));
}

void TestTwoCopies::cleanup()
{
    if (m_namespace.state() != QProcess::NotRunning) {
        m_namespace.kill();
        m_namespace.waitForFinished();
    }
    m_emulator.reset();
    m_work.reset();
}

bool TestTwoCopies::startInNamespace(const QString& script)
{
    const QStringList isolation = TestUtils::isolationArguments();
    if (isolation.isEmpty())
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("AMBREL_LOG_FILE", m_log);
    env.insert("AMBREL_API_HOST", m_emulator->baseUrl());
    env.insert("AMBREL_UPLOAD_HOST", m_emulator->uploadUrl());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("CLIENT", QStringLiteral(AMBREL_CLIENT_EXECUTABLE));
    env.insert("LAUNCH", QString::fromLatin1(kLaunch));
    m_namespace.setProcessEnvironment(env);
    m_namespace.setWorkingDirectory(m_work->path());
    m_namespace.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_namespace.start(QStringLiteral("unshare"),
                      isolation + QStringList{QStringLiteral("bash"), QStringLiteral("-c"), script});
    return m_namespace.waitForStarted();
}

// A second start while the first copy waits for the service's answer to an announcement: the first finishes it,
// closes its database and quits; the second takes the folder over. Every sheet is stored once and announced once.
void TestTwoCopies::secondStartTakesOverWithoutRepeats()
{
    for (int i = 1; i <= 3; ++i)
        QVERIFY(TestUtils::writeFile(imagePath(QStringLiteral("s%1.jpg").arg(i)), jpeg(i)));
    m_emulator->server().addFault(Endpoint::Analyse, Fault{Fault::Delay, 4000, 1});
    // The second copy starts when the test writes a line.
    if (!startInNamespace(QStringLiteral("\"$CLIENT\" \"$LAUNCH\" >/dev/null 2>&1 & first=$!; read go; "
                                         "\"$CLIENT\" \"$LAUNCH\" >/dev/null 2>&1 & wait $first; echo first $?; "
                                         "wait")))
        AMBREL_SKIP_ENVIRONMENT("no process namespace can be made here: the real client is not started");

    // The first sheet is stored: its announcement is under way and the service holds it for a while.
    QTRY_COMPARE_WITH_TIMEOUT(m_emulator->server().storedKeys().size(), 1, 30000);
    m_namespace.write("go\n");

    QTRY_VERIFY_WITH_TIMEOUT(waitingImages().isEmpty(), 60000);
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += m_namespace.readAllStandardOutput()).contains("first 0"), 30000);
    const QByteArray log = TestUtils::readFile(m_log);
    QVERIFY2(log.contains("hand-over: worker stopped, folder released, quitting"), log.constData());
    QCOMPARE(log.count("hand-over: this copy owns"), 2);

    const QStringList stored = m_emulator->server().storedKeys();
    QCOMPARE(stored.size(), 3);
    QStringList announced;
    for (const auto& request : m_emulator->server().requests(Endpoint::Analyse))
        announced << request.params.value(QStringLiteral("imageUrl"));
    QCOMPARE(announced.size(), 3);
    QCOMPARE(QSet<QString>(announced.begin(), announced.end()).size(), 3);
    for (const QString& key : stored)
        QVERIFY2(announced.contains(m_emulator->domain() + key), qPrintable(key));
}

// A file the store refuses and a text file named like an image are kept, with the reason, and are not sent again;
// the sheets behind them go on.
void TestTwoCopies::refusedFilesDoNotHoldUpTheOthers()
{
    QVERIFY(TestUtils::writeFile(imagePath("a.jpg"), jpeg(1)));
    QVERIFY(TestUtils::writeFile(imagePath("b.jpg"), jpeg(2)));
    QVERIFY(TestUtils::writeFile(imagePath("c.jpg"), jpeg(3)));
    QVERIFY(TestUtils::writeFile(imagePath("notes.jpg"), "a text file, not a photograph"));
    m_emulator->server().setRefusedFileName(QStringLiteral("b.jpg"));
    if (!startInNamespace(QStringLiteral("exec \"$CLIENT\" \"$LAUNCH\" >/dev/null 2>&1")))
        AMBREL_SKIP_ENVIRONMENT("no process namespace can be made here: the real client is not started");

    QTRY_COMPARE_WITH_TIMEOUT(waitingImages(), (QStringList{"b.jpg", "notes.jpg"}), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(m_emulator->server().requestCount(Endpoint::Analyse), 2, 30000);

    UploadLedger ledger;
    QVERIFY(ledger.openForTask(TaskFolders::inWorkingFolder(QStringLiteral("T1"))));
    QTRY_COMPARE(QueueLookup::ofFolder(QStringLiteral("T1"),
                                       TaskFolders::inWorkingFolder(QStringLiteral("T1")).imageFolder(), ledger)
                     .refusedImages(),
                 (QStringList{"b.jpg（存储服务拒收（HTTP 413））", "notes.jpg（不是图片文件）"}));
    // Two more sheets, one after the other: each is taken on a pass over the whole folder, and on neither is the
    // refused file sent again, nor the text file ever.
    for (int seed : {4, 5}) {
        const int stored = m_emulator->server().storedKeys().size();
        QVERIFY(TestUtils::writeFile(imagePath(QStringLiteral("d%1.jpg").arg(seed)), jpeg(seed)));
        QTRY_COMPARE_WITH_TIMEOUT(m_emulator->server().storedKeys().size(), stored + 1, 30000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(waitingImages(), (QStringList{"b.jpg", "notes.jpg"}), 30000);
    int uploadsOfB = 0;
    for (const auto& upload : m_emulator->server().uploads()) {
        QVERIFY(upload.fileName != QLatin1String("notes.jpg"));
        uploadsOfB += upload.fileName == QLatin1String("b.jpg") ? 1 : 0;
    }
    QCOMPARE(uploadsOfB, 1);
    QCOMPARE(m_emulator->server().storedKeys().size(), 4);
    QCOMPARE(TestUtils::readFile(imagePath("b.jpg")), jpeg(2));
}

// The working folder on a full disk: the lock file cannot be written there, and the only copy uploads all the same
// (a folder that never drains never frees its disk).
void TestTwoCopies::fullDiskStillDrains()
{
    const int sheets = 14;
    for (int i = 1; i <= sheets; ++i)
        QVERIFY(TestUtils::writeFile(m_work->filePath(QStringLiteral("sheets/s%1.jpg").arg(i)), jpeg(i)));
    // A 6 MB file system in the namespace's own mount table, the sheets on it, then filled to the last byte.
    if (!startInNamespace(QStringLiteral(
            "mkdir -p full && mount -t tmpfs -o size=6m tmpfs full || exit 99; cd full && mkdir -p image/T1 && "
            "cp ../sheets/*.jpg image/T1/ && { head -c 7M /dev/zero > filler; true; } 2>/dev/null; "
            "echo free $(df --output=avail -B1 . | tail -1); \"$CLIENT\" \"$LAUNCH\" >/dev/null 2>&1")))
        QSKIP("no process namespace can be made here: the real client is not started");
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += m_namespace.readAllStandardOutput()).contains("free ") ||
                                 m_namespace.state() == QProcess::NotRunning,
                             30000);
    if (!said.contains("free "))
        QSKIP("no size-limited file system can be mounted here: the full disk is not made");
    QVERIFY2(said.contains("free 0"), said.constData());

    QTRY_COMPARE_WITH_TIMEOUT(m_emulator->server().storedKeys().size(), sheets, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(m_emulator->server().requestCount(Endpoint::Analyse), sheets, 30000);
    const QByteArray log = TestUtils::readFile(m_log);
    QVERIFY2(log.contains("hand-over: cannot write the lock file"), log.constData());
}

} // namespace

AMBREL_TEST_GUILESS_MAIN(TestTwoCopies)
#include "tst_twocopies.moc"
