#include "app/AmbrelClient.h"
#include "core/AppLog.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const auto app = AmbrelClient::createApplication(argc, argv);

    const QByteArray argument = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    // The argument carries the teacher's token: never log it in clear.
    AppLog::write(AppLog::redactLaunchArgument(argument));

    auto* window = new AmbrelClient(argument);
    window->show();
    const int result = app->exec();
    delete window;
    return result;
}
