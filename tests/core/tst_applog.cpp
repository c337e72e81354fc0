#include "core/AppLog.h"
#include "core/Settings.h"

#include "TestUtils.h"

#include <QtTest>

class TestAppLog : public QObject
{
    Q_OBJECT

private slots:
    void redactToken_data();
    void redactToken();
    void redactLaunchArgument_data();
    void redactLaunchArgument();
    void appendsToConfiguredFile();
    void unwritablePathIsIgnored();
};

void TestAppLog::redactToken_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("common query") << "userType=1&uid=u9&v=5.1.0&f=windows&t=17&token=secret&s=abc"
                                  << "userType=1&uid=u9&v=5.1.0&f=windows&t=17&token=***&s=abc";
    QTest::newRow("token first") << "token=secret&x=1"
                                 << "token=***&x=1";
    QTest::newRow("token last") << "a=1&token=secret"
                                << "a=1&token=***";
    QTest::newRow("in a url") << "http://h/p?taskId=1&token=s3&s=9"
                              << "http://h/p?taskId=1&token=***&s=9";
    QTest::newRow("upload token key is not the token") << "uploadToken=keep&token=x"
                                                       << "uploadToken=keep&token=***";
    QTest::newRow("empty token") << "a=1&token=&s=2"
                                 << "a=1&token=***&s=2";
    QTest::newRow("lone surrogate before the token")
        << QString(QStringLiteral("a") + QChar(0xD800) + QStringLiteral("&token=secret&s=1"))
        << QString(QStringLiteral("a") + QChar(0xD800) + QStringLiteral("&token=***&s=1"));
    QTest::newRow("no token") << "a=1&b=2"
                              << "a=1&b=2";
}

void TestAppLog::redactToken()
{
    QFETCH(QString, text);
    QTEST(AppLog::redactToken(text), "expected");
}

void TestAppLog::redactLaunchArgument_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << QByteArray("x//T1_tok_u9_Title/") << QByteArray("x//T1_***_u9_Title/");
    QTest::newRow("token equal to another piece")
        << QByteArray("x//T1_u9_u9_Title/") << QByteArray("x//T1_***_u9_Title/");
    QTest::newRow("percent-encoded") << QByteArray("x%2F%2FT1%5Fsecret%5Fu9%5FTitle")
                                     << QByteArray("x//T1_***_u9_Title");
    QTest::newRow("short argument still redacted") << QByteArray("x//T1_secret") << QByteArray("x//T1_***");
    QTest::newRow("NUL escape is not decoded into the line")
        << QByteArray("x//T1_tok_u9_My%00Title") << QByteArray("x//T1_***_u9_My%00Title");
    QTest::newRow("decoded line end is written escaped")
        << QByteArray("x//T1_tok_u9_A%0AB%09") << QByteArray("x//T1_***_u9_A%0AB%09");
    QTest::newRow("no underscore") << QByteArray("hello") << QByteArray("hello");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestAppLog::redactLaunchArgument()
{
    QFETCH(QByteArray, argument);
    const QByteArray redacted = AppLog::redactLaunchArgument(argument);
    QTEST(redacted, "expected");
}

void TestAppLog::appendsToConfiguredFile()
{
    ScopedWorkingDirectory work;
    QVERIFY(work.isValid());
    const QString path = work.filePath("logs/sub/log.txt");
    qputenv("AMBREL_LOG_FILE", path.toLocal8Bit());
    Settings::reload();
    AppLog::append("first\n");
    AppLog::append("second");
    QCOMPARE(TestUtils::readFile(path), QByteArray("first\nsecond"));
}

void TestAppLog::unwritablePathIsIgnored()
{
    ScopedWorkingDirectory work;
    // A folder where the file should be: the entry is lost, nothing else happens.
    QVERIFY(QDir().mkpath(work.filePath("log.txt")));
    qputenv("AMBREL_LOG_FILE", work.filePath("log.txt").toLocal8Bit());
    Settings::reload();
    AppLog::append("lost\n");
    QVERIFY(QFileInfo(work.filePath("log.txt")).isDir());
}

QTEST_GUILESS_MAIN(TestAppLog)
#include "tst_applog.moc"
