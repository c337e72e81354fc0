#include <QProcess>
#include <QtTest>

#include "EmulatorFixture.h"
#include "FakeProcessPlatform.h"
#include "TestUtils.h"
#include "app/CommandLine.h"
#include "app/Housekeeping.h"
#include "app/StartUp.h"
#include "core/Settings.h"
#include "widgets/MessageBox.h"

// What the program does with its command line before the main window exists.
class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void unusableCommandLineTouchesNothing_data();
    void unusableCommandLineTouchesNothing();
    void commandLineEndsWithoutDisplay_data();
    void commandLineEndsWithoutDisplay();
    void tokenLeavesArgumentMemory_data();
    void tokenLeavesArgumentMemory();
};

void TestStartUp::unusableCommandLineTouchesNothing_data()
{
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("hints");

    const QStringList hint{StartUp::invalidLinkText()};
    const auto withLink = [](const QByteArray& link) { return QByteArrayList{"AmbrelClient", link}; };
    QTest::newRow("no link") << QByteArrayList{"AmbrelClient"} << int(StartUp::InvalidLink) << hint;
    QTest::newRow("link naming nothing") << withLink("ambrel://garbage/") << int(StartUp::InvalidLink) << hint;
    QTest::newRow("link without uid") << withLink("ambrel://T1_tok/") << int(StartUp::InvalidLink) << hint;
    QTest::newRow("empty token") << withLink("ambrel://T1__u9_Title/") << int(StartUp::InvalidLink) << hint;
    QTest::newRow("empty task") << withLink("ambrel://_tok_u9_Title/") << int(StartUp::InvalidLink) << hint;
    QTest::newRow("task after a second //")
        << withLink("ambrel://a//T1_tok_u9_Title/") << int(StartUp::InvalidLink) << hint;
    QTest::newRow("task climbing out of the folder")
        << withLink("ambrel:%2F%2F..%2F..%2Fvictim_tok_u9_T/") << int(StartUp::InvalidLink) << hint;
    QTest::newRow("unknown option before a good link")
        << QByteArrayList{"AmbrelClient", "--frobnicate", "ambrel://T1_tok_u9_Title/"} << int(StartUp::UsageError)
        << QStringList();
}

void TestStartUp::unusableCommandLineTouchesNothing()
{
    QFETCH(QByteArrayList, arguments);

    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    const QByteArray previousLog = qgetenv("AMBREL_LOG_FILE");
    qputenv("AMBREL_LOG_FILE", work.filePath(QStringLiteral("log/log.txt")).toLocal8Bit());
    Settings::reload();
    // A good copy of the program is running.
    FakeProcessPlatform processes;
    processes.addProcess(1, L"init");
    processes.addProcess(77, L"AmbrelClient");
    processes.addProcess(78, L"AmbrelClient.exe");
    Housekeeping::setDefaultPlatform(&processes);
    QStringList hints;
    MessageBox::setAnswerer([&hints](const MessageBox::Shown& box) {
        hints << box.text;
        return QMessageBox::Ok;
    });

    const int status = StartUp::run(arguments);

    MessageBox::setAnswerer({});
    Housekeeping::setDefaultPlatform(nullptr);
    qputenv("AMBREL_LOG_FILE", previousLog);
    Settings::reload();

    QTEST(status, "status");
    // Told at once, before anything else happened.
    QTEST(hints, "hints");
    QVERIFY(processes.calls.empty());
    QCOMPARE(emulator->requestLog().size(), 0);
    // No folder, no task database, no log.
    QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestStartUp::commandLineEndsWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    // QT_QPA_PLATFORM: "xcb" without a display to connect to, or "offscreen", where nobody could click a box away.
    QTest::addColumn<QString>("platform");
    QTest::addColumn<int>("status");
    // What the program prints: on stdout for status 0, on stderr otherwise.
    QTest::addColumn<QString>("expected");

    const QString link = QStringLiteral("ambrel://T1_tok_u9_Title/");
    const QString xcb = QStringLiteral("xcb");
    const QString offscreen = QStringLiteral("offscreen");
    QTest::newRow("help") << QStringList{"--help", link} << xcb << 0 << "ambrel://";
    QTest::newRow("version") << QStringList{"--version", link} << xcb << 0
                             << QStringLiteral("AmbrelClient " AMBREL_TEST_VERSION);
    QTest::newRow("unknown option") << QStringList{"--bogus", link} << xcb << int(StartUp::UsageError) << "bogus";
    QTest::newRow("no link") << QStringList() << xcb << int(StartUp::InvalidLink) << StartUp::invalidLinkText();
    QTest::newRow("link naming nothing, offscreen")
        << QStringList{"ambrel://garbage/"} << offscreen << int(StartUp::InvalidLink) << StartUp::invalidLinkText();
    QTest::newRow("Qt's own option chooses the offscreen platform")
        << QStringList{"-platform", "offscreen", "ambrel://T1_tok/"} << xcb << int(StartUp::InvalidLink)
        << StartUp::invalidLinkText();
}

void TestStartUp::commandLineEndsWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, platform);
    QFETCH(int, status);
    QFETCH(QString, expected);

    ScopedWorkingDirectory work;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A display the client cannot open: building any window would abort it.
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    env.insert(QStringLiteral("AMBREL_LOG_FILE"), work.filePath(QStringLiteral("log.txt")));
    env.insert(QStringLiteral("AMBREL_API_HOST"), QStringLiteral("http://127.0.0.1:9"));
    // A client that got past its command line would end the others it sees: in a process table of its own it sees
    // none.
    const QStringList isolation = TestUtils::isolationArguments();
    if (isolation.isEmpty())
        AMBREL_SKIP_ENVIRONMENT("no process namespace can be made here: the real client is not started");
    QProcess client;
    client.setProcessEnvironment(env);
    client.setWorkingDirectory(work.path());
    client.start(QStringLiteral("unshare"),
                 isolation + QStringList{QStringLiteral(AMBREL_CLIENT_EXECUTABLE)} + arguments);
    // A hint box waiting for a click that never comes would hold the process here.
    QVERIFY(client.waitForFinished(30000));
    const QString out = QString::fromLocal8Bit(client.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(client.readAllStandardError());
    QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    QVERIFY2(client.exitCode() == status, qPrintable(QString::number(client.exitCode()) + QLatin1Char(' ') + err));
    const QString printed = status == 0 ? out : err;
    QVERIFY2(printed.contains(expected), qPrintable(out + err));
    QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestStartUp::tokenLeavesArgumentMemory_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << QByteArray("ambrel://T1_secret_u9_My_Title/")
                           << QByteArray("ambrel://T1_******_u9_My_Title/");
    QTest::newRow("percent-encoded, escapes in the token too")
        << QByteArray("x%2F%2FT1%5Fsec%2Bret%5Fu9%5FT") << QByteArray("x%2F%2FT1%5F*********%5Fu9%5FT");
    QTest::newRow("no piece after the token") << QByteArray("ambrel://T1_secret") << QByteArray("ambrel://T1_******");
    QTest::newRow("%00 does not end the token") << QByteArray("a_se%00cret_u9") << QByteArray("a_*********_u9");
    QTest::newRow("no token") << QByteArray("ambrel://nothing") << QByteArray("ambrel://nothing");
}

void TestStartUp::tokenLeavesArgumentMemory()
{
    QFETCH(QByteArray, argument);
    QByteArray memory = argument;
    CommandLine::hideToken(memory.data());
    QTEST(memory, "expected");
}

AMBREL_TEST_MAIN(TestStartUp)
#include "tst_startup.moc"
