#include <QtTest>

#include "core/LaunchContext.h"

class TestLaunchContext : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void hostileArgumentsDoNotCrash_data();
    void hostileArgumentsDoNotCrash();
    void displayTitle_data();
    void displayTitle();
};

void TestLaunchContext::parse_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QString>("taskId");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("taskTitle");

    QTest::newRow("plain") << QByteArray("ambrel://T1_tok123_u9_Title/") << "T1"
                           << "tok123"
                           << "u9"
                           << "Title/";
    QTest::newRow("percent-encoded") << QByteArray("ambrel%3A%2F%2FT1%5Ftok123%5Fu9%5FTitle%2F") << "T1"
                                     << "tok123"
                                     << "u9"
                                     << "Title/";
    QTest::newRow("underscore inside the title is lost") << QByteArray("x//T1_tok_u9_My_Task!") << "T1"
                                                         << "tok"
                                                         << "u9"
                                                         << "MyTask!";
    QTest::newRow("chinese title") << QByteArray("x//T1_tok_u9_%E6%9C%9F%E4%B8%AD%E8%80%83%E8%AF%95%21") << "T1"
                                   << "tok"
                                   << "u9" << QString::fromUtf8("期中考试!");
    QTest::newRow("plus stays plus") << QByteArray("x//T1_a+b_u9_1+1=2!") << "T1"
                                     << "a+b"
                                     << "u9"
                                     << "1+1=2!";
    QTest::newRow("three pieces leave everything empty") << QByteArray("x//T1_tok_u9") << ""
                                                         << ""
                                                         << ""
                                                         << "";
    QTest::newRow("double // sets only token and uid") << QByteArray("a//b//T1_tok_u9_Title/") << ""
                                                       << "tok"
                                                       << "u9"
                                                       << "";
    QTest::newRow("no // sets only token and uid") << QByteArray("T1_tok_u9_Title/") << ""
                                                   << "tok"
                                                   << "u9"
                                                   << "";
    QTest::newRow("empty pieces are kept") << QByteArray("x//T1___Title/") << "T1"
                                           << ""
                                           << ""
                                           << "Title/";
    QTest::newRow("empty argument") << QByteArray() << ""
                                    << ""
                                    << ""
                                    << "";
    QTest::newRow("NUL escape keeps the rest of the title") << QByteArray("x//T1_tok_u9_My%00Title") << "T1"
                                                            << "tok"
                                                            << "u9"
                                                            << "My%00Title";
    QTest::newRow("leading text dropped") << QByteArray("http://T7_k_u_t") << "T7"
                                          << "k"
                                          << "u"
                                          << "t";
    const QString kept128(128, QLatin1Char('t'));
    QTest::newRow("task id of 128 characters") << "x//" + kept128.toLatin1() + "_k_u_t" << kept128 << "k"
                                               << "u"
                                               << "t";

    // A task id or uid that is no plain folder name makes the whole argument malformed.
    const QStringList hostile{"ambrel://../../victim_tok_u9_T/",
                              "ambrel:%2F%2F..%2F..%2Fvictim_tok_u9_T/",
                              "x//..\\..\\victim_tok_u9_T/",
                              "x//C:victim_tok_u9_T/",
                              "x//.._tok_u9_T/",
                              "x//._tok_u9_T/",
                              "x//T%091_tok_u9_T/",
                              "x//T1_tok_../u9_T/",
                              "T1_tok_..\\u9_T/",
                              "x//T1_tok_u%0A9_T/",
                              "x//" + QString(129, QLatin1Char('t')) + "_tok_u9_T/"};
    for (const QString& argument : hostile)
        QTest::newRow(qPrintable(QStringLiteral("malformed: ") + argument.left(40))) << argument.toLatin1() << ""
                                                                                     << ""
                                                                                     << ""
                                                                                     << "";
}

void TestLaunchContext::parse()
{
    QFETCH(QByteArray, argument);
    const LaunchContext context = LaunchContext::parse(argument);
    QTEST(context.taskId, "taskId");
    QTEST(context.token, "token");
    QTEST(context.uid, "uid");
    QTEST(context.taskTitle, "taskTitle");
}

void TestLaunchContext::hostileArgumentsDoNotCrash_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QString>("expectedTaskId");

    QTest::newRow("malformed escape %zz") << QByteArray("x//T%zz_tok_u9_Title/") << "T%zz";
    QTest::newRow("trailing %") << QByteArray("x//T1_tok_u9_Title%") << "T1";
    QTest::newRow("lone % keeps the separator after it") << QByteArray("x//%_tok_u9_Title/") << "%";
    QTest::newRow("lower-case hex escape") << QByteArray("x//%4a_tok_u9_Title/") << "J";
    QTest::newRow("invalid utf-8") << QByteArray("x//T1_tok_u9_%FF%FE%C3") << "T1";
    QByteArray big = "x//T1_tok_u9_";
    big.append(QByteArray(100 * 1024, 'a'));
    QTest::newRow("escape at the very end %4") << QByteArray("x//T1_tok_u9_Title%4") << "T1";
    QTest::newRow("100 KB argument") << big << "T1";
    QByteArray manyUnderscores = "x//T1";
    manyUnderscores.append(QByteArray(100 * 1024, '_'));
    QTest::newRow("100 KB of underscores") << manyUnderscores << "T1";
}

void TestLaunchContext::hostileArgumentsDoNotCrash()
{
    QFETCH(QByteArray, argument);
    const LaunchContext context = LaunchContext::parse(argument);
    QTEST(context.taskId, "expectedTaskId");
}

void TestLaunchContext::displayTitle_data()
{
    QTest::addColumn<QString>("taskTitle");
    QTest::addColumn<QString>("display");
    QTest::newRow("drops the last character") << "Title/"
                                              << "Title";
    QTest::newRow("one character") << "a"
                                   << "";
    QTest::newRow("empty stays empty") << ""
                                       << "";
    QTest::newRow("chinese") << QString::fromUtf8("数学测验/") << QString::fromUtf8("数学测验");
}

void TestLaunchContext::displayTitle()
{
    QFETCH(QString, taskTitle);
    LaunchContext context;
    context.taskTitle = taskTitle;
    QTEST(context.displayTitle(), "display");
}

QTEST_GUILESS_MAIN(TestLaunchContext)
#include "tst_launchcontext.moc"
