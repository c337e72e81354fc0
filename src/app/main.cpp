#include "app/AmbrelClient.h"
#include "core/AppLog.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // Sharp on high-density screens: layouts scale by the screen's factor, images use their "@2x" drawings.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("AmbrelClient"));
    AmbrelClient::installQtTranslations(&app);

    const QByteArray argument = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    // The argument carries the teacher's token: never log it in clear.
    AppLog::append(AppLog::redactLaunchArgument(argument) + "\n");

    auto* window = new AmbrelClient(argument);
    window->show();
    const int result = app.exec();
    delete window;
    return result;
}
