#include "app/StartUp.h"

#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <QStringList>
#include <QTranslator>

#include "app/AmbrelClient.h"
#include "app/CommandLine.h"
#include "app/HandOver.h"
#include "app/Housekeeping.h"
#include "core/AppLog.h"
#include "core/LaunchContext.h"
#include "core/PrivateFiles.h"
#include "core/SecureTransport.h"
#include "core/Settings.h"
#include "core/TaskFolders.h"
#include "widgets/MessageBox.h"

namespace {

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("AmbrelClient"));
    QCoreApplication::setApplicationVersion(QStringLiteral(AMBREL_VERSION));
}

} // namespace

QString StartUp::invalidLinkText()
{
    return QStringLiteral("链接无效，请从阅卷网站重新打开本程序");
}

int StartUp::run(const QByteArrayList& arguments)
{
    nameApplication();
    QStringList texts;
    for (const QByteArray& argument : arguments)
        texts << QString::fromLocal8Bit(argument);
    QCommandLineParser parser;
    CommandLine::describeOptions(parser);
    if (!parser.parse(texts)) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        return UsageError;
    }

    // The link's own bytes, not their conversion to text and back: the parser decodes them itself.
    QByteArray link;
    for (int i = 1; i < arguments.size(); ++i) {
        if (!arguments.at(i).startsWith('-')) {
            link = arguments.at(i);
            break;
        }
    }
    // Checked before the main window exists: it is the window that ends a running copy, starts the worker and
    // creates the folders, and a link without its task and teacher would only make them work for nothing.
    if (!LaunchContext::parse(link).isComplete()) {
        MessageBox::warning(nullptr, QStringLiteral("岚栖"), invalidLinkText());
        return InvalidLink;
    }

    // The link carries the teacher's token: never log it in clear, here or in any later entry.
    AppLog::setToken(LaunchContext::parse(link).token);
    AppLog::write(AppLog::redactLaunchArgument(link));
    AppLog::write(QStringLiteral("settings: ") + Settings::describe(QStringLiteral("api_host")) + QStringLiteral("; ") +
                  Settings::describe(QStringLiteral("upload_host")));
    for (const QString& problem : Settings::problems())
        AppLog::write(QStringLiteral("settings: ") + problem);

    auto* window = new AmbrelClient(link);
    window->show();
    const int result = QApplication::exec();
    delete window;
    return result;
}

HandOver* StartUp::handOver()
{
    // Lives as long as the application object.
    static QPointer<HandOver> channel;
    if (!channel)
        channel = new HandOver(QCoreApplication::instance());
    return channel;
}

bool StartUp::takeOverWorkingFolder()
{
    Housekeeping housekeeping;
    // The running copy is asked to hand over; a copy that holds the folder is never ended: this one waits for it,
    // for as long as it runs, and starts its worker the moment it wins (HandOver::folderWon).
    const bool ownsFolder = handOver()->takeOver(QDir::currentPath());
    if (!housekeeping.isUpdaterRunning())
        housekeeping.launchAsLoggedInUser(housekeeping.updaterPath(), housekeeping.moduleDirectory());
    return ownsFolder;
}

void StartUp::prepareTask(const TaskFolders& folders)
{
    // Before the first folder is made and before the worker's first request.
    PrivateFiles::protectWorkingData();
    SecureTransport::applyTrustedAuthorities();
    SecureTransport::logPlainHosts();
    // Parents first: the roots, there with or without a task, then the task's own folders.
    folders.ensureRoots();
    folders.ensure();
}

bool StartUp::installQtTranslations(QCoreApplication* application)
{
    // The program speaks Chinese whatever the system's language: Qt's dialogs and buttons must too, and so must
    // the few texts of our own that the code writes in English.
    Q_INIT_RESOURCE(translations);
    bool installed = true;
    const auto install = [application, &installed](const QString& name, const QString& folder) {
        auto* translator = new QTranslator(application);
        if (translator->load(name, folder) && QCoreApplication::installTranslator(translator))
            return;
        delete translator;
        installed = false;
    };
    install(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::location(QLibraryInfo::TranslationsPath));
    install(QStringLiteral("ambrelclient_zh_CN"), QStringLiteral(":/i18n"));
    return installed;
}

std::unique_ptr<QApplication> StartUp::createApplication(int& argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // First of all, so that even the log's folder, made by the first entry, is private.
    PrivateFiles::restrictNewFiles();
    auto application = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("AmbrelClient"));
    // The one name people see: beside the task's title in the window's title, as in the desktop entry and the tray.
    QApplication::setApplicationDisplayName(QStringLiteral("岚栖"));
    installQtTranslations(application.get());
    return application;
}
