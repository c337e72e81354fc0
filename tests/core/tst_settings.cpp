#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include "TestUtils.h"
#include "core/Settings.h"

namespace {

// The package's system settings file as installed, with the line of one key uncommented and set to a value.
QString conffileWith(const QString& key, const QString& value)
{
    QString text = QString::fromUtf8(TestUtils::readFile(QStringLiteral(AMBREL_TEST_CONFFILE)));
    text.replace(
        QRegularExpression(QStringLiteral("^#") + key + QStringLiteral("=.*$"), QRegularExpression::MultilineOption),
        key + QLatin1Char('=') + value);
    return text;
}

} // namespace

// Where each setting comes from: the environment, then the user's file, then the system's file, then the build.
class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void firstPlaceHoldingTheKeyWins_data();
    void firstPlaceHoldingTheKeyWins();
};

void TestSettings::cleanup()
{
    qunsetenv("AMBREL_API_HOST");
    qunsetenv("AMBREL_UPLOAD_HOST");
    Settings::reload();
}

void TestSettings::firstPlaceHoldingTheKeyWins_data()
{
    QTest::addColumn<QString>("key");
    // A null environment value leaves the variable unset; a null file text writes no file.
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("userFile");
    QTest::addColumn<QString>("systemFile");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("source");
    // A text that one of Settings::problems() holds; empty: the files were read without a problem.
    QTest::addColumn<QString>("problem");

    const QString userHost = QStringLiteral("[General]\napi_host=http://user.example:1\n");
    const QString systemHost = QStringLiteral("[General]\napi_host=http://school.example:2\n");
    const QString defaultHost = QStringLiteral(AMBREL_TEST_DEFAULT_API_HOST);
    QTest::newRow("environment over both files")
        << "api_host"
        << "http://env.example:3" << userHost << systemHost << "http://env.example:3"
        << int(Settings::Source::Environment) << QString();
    QTest::newRow("user file over the system file")
        << "api_host" << QString() << userHost << systemHost << "http://user.example:1"
        << int(Settings::Source::UserFile) << QString();
    QTest::newRow("system file alone") << "api_host" << QString() << QString() << systemHost
                                       << "http://school.example:2" << int(Settings::Source::SystemFile) << QString();
    QTest::newRow("a user file without the key does not hide the system's")
        << "api_host" << QString() << "[General]\nupload_host=http://store.example\n"
        << systemHost << "http://school.example:2" << int(Settings::Source::SystemFile) << QString();
    QTest::newRow("nothing set: build default") << "api_host" << QString() << QString() << QString() << defaultHost
                                                << int(Settings::Source::BuildDefault) << QString();
    QTest::newRow("a key outside [General] is not read")
        << "api_host" << QString() << "[Other]\napi_host=http://user.example:1\n"
        << QString() << defaultHost << int(Settings::Source::BuildDefault) << QString();
    QTest::newRow("keys without a group are in [General]")
        << "upload_host" << QString() << QString() << "upload_host=http://store.example/up\n"
        << "http://store.example/up" << int(Settings::Source::SystemFile) << QString();
    QTest::newRow("a comma in a file value stays in the text")
        << "upload_host" << QString() << "upload_host=http://a.example/x,y\n"
        << QString() << "http://a.example/x,y" << int(Settings::Source::UserFile) << QString();
    QTest::newRow("an empty environment value still wins") << "upload_host"
                                                           << "" << QString() << "upload_host=http://store.example\n"
                                                           << "" << int(Settings::Source::Environment) << QString();
    QTest::newRow("the API host loses its trailing slashes from a file too")
        << "api_host" << QString() << QString() << "api_host=http://school.example/api//\n"
        << "http://school.example/api" << int(Settings::Source::SystemFile) << QString();

    QTest::newRow("comment and blank lines around the keys")
        << "upload_host" << QString() << QString()
        << "# the school's store\n\n; written by hand\n[General]\n\n# api_host=http://old.example\n"
           "  upload_host = http://store.example/up  \n"
        << "http://store.example/up" << int(Settings::Source::SystemFile) << QString();
    QTest::newRow("a line that cannot be read hides no other key")
        << "upload_host" << QString() << QString()
        << "[General]\napi_host=http://school.example:2\nthis is no setting\nupload_host=http://store.example/up\n"
        << "http://store.example/up" << int(Settings::Source::SystemFile)
        << "AmbrelClient.conf line 3 not read: this is no setting";
    QTest::newRow("keep_days that is no number is named")
        << "keep_days" << QString() << QString() << "keep_days=thirty\n"
        << "thirty" << int(Settings::Source::SystemFile) << "keep_days=thirty is not a number of days";
    QTest::newRow("a value in quotes, as Qt writes one with spaces")
        << "camera" << QString() << "[General]\ncamera=\" virtual\"\n"
        << QString() << " virtual" << int(Settings::Source::UserFile) << QString();

    // The package's settings file, each key uncommented in turn, as a school's IT person would.
    const QList<QPair<QString, QString>> conffileKeys{
        {"api_host", "http://grading.school.example"},
        {"upload_host", "https://upload.school.example/form"},
        {"ca_file", "/etc/ssl/certs/school-proxy.pem"},
        {"log_file", ""},
        {"camera", "desk"},
        {"keep_days", "7"},
        {"auto_shot", "true"},
        {"instance", "school-desk"},
    };
    for (const auto& [key, value] : conffileKeys)
        QTest::newRow(qPrintable(QStringLiteral("package settings file: ") + key))
            << key << QString() << QString() << conffileWith(key, value) << value << int(Settings::Source::SystemFile)
            << QString();
}

void TestSettings::firstPlaceHoldingTheKeyWins()
{
    QFETCH(QString, key);
    QFETCH(QString, environment);
    QFETCH(QString, userFile);
    QFETCH(QString, systemFile);
    ScopedWorkingDirectory work;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, work.filePath(QStringLiteral("user")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, work.filePath(QStringLiteral("system")));
    const QString userPath = work.filePath(QStringLiteral("user/AmbrelClient/AmbrelClient.conf"));
    const QString systemPath = work.filePath(QStringLiteral("system/AmbrelClient/AmbrelClient.conf"));
    if (!userFile.isNull())
        QVERIFY(TestUtils::writeFile(userPath, userFile.toUtf8()));
    if (!systemFile.isNull())
        QVERIFY(TestUtils::writeFile(systemPath, systemFile.toUtf8()));
    const QByteArray variable = "AMBREL_" + key.toUtf8().toUpper();
    if (environment.isNull())
        qunsetenv(variable.constData());
    else
        qputenv(variable.constData(), environment.toUtf8());

    Settings::reload();

    QTEST(Settings::value(key), "expected");
    QTEST(int(Settings::source(key)), "source");
    QFETCH(QString, problem);
    const QStringList problems = Settings::problems();
    if (problem.isEmpty())
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    else
        QVERIFY2(problems.join(QLatin1Char('\n')).contains(problem), qPrintable(problems.join(QLatin1Char('\n'))));
    // The start-up log line names the place, so that an IT person can find the file that set it.
    const QString described = Settings::describe(key);
    QVERIFY2(described.startsWith(key + QLatin1Char('=') + Settings::value(key) + QStringLiteral(" (")),
             qPrintable(described));
    switch (Settings::source(key)) {
    case Settings::Source::Environment:
        QVERIFY2(described.contains(QString::fromUtf8(variable)), qPrintable(described));
        break;
    case Settings::Source::UserFile:
        QVERIFY2(described.contains(userPath), qPrintable(described));
        break;
    case Settings::Source::SystemFile:
        QVERIFY2(described.contains(systemPath), qPrintable(described));
        break;
    case Settings::Source::BuildDefault:
        QVERIFY2(described.contains(QStringLiteral("build default")), qPrintable(described));
        break;
    }
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
