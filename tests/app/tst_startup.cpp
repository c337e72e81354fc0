#include <QProcess>
#include <QtTest>

#include "EmulatorFixture.h"
#include "FakeProcessPlatform.h"
#include "TestUtils.h"
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
    void helpAndVersionNeedNoDisplay_data();
    void helpAndVersionNeedNoDisplay();
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

void TestStartUp::helpAndVersionNeedNoDisplay_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("expected");
    QTest::newRow("help") << "--help"
                          << "ambrel://";
    QTest::newRow("version") << "--version" << QStringLiteral("AmbrelClient " AMBREL_TEST_VERSION);
}

void TestStartUp::helpAndVersionNeedNoDisplay()
{
    QFETCH(QString, option);
    QFETCH(QString, expected);

    ScopedWorkingDirectory work;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A display the client cannot open: building any window would abort it.
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
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
    client.start(QStringLiteral("unshare"), isolation + QStringList{QStringLiteral(AMBREL_CLIENT_EXECUTABLE), option,
                                                                    QStringLiteral("ambrel://T1_tok_u9_Title/")});
    QVERIFY(client.waitForFinished(30000));
    const QString out = QString::fromLocal8Bit(client.readAllStandardOutput());
    QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    QCOMPARE(client.exitCode(), 0);
    QVERIFY2(out.contains(expected), qPrintable(out));
    QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

AMBREL_TEST_MAIN(TestStartUp)
#include "tst_startup.moc"
