#include <QApplication>

#include "app/AmbrelClient.h"
#include "app/StartUp.h"

int main(int argc, char* argv[])
{
    // Help and version need no display and must not reach the start-up of the client.
    if (StartUp::asksForText(argc, argv)) {
        QCoreApplication application(argc, argv);
        return StartUp::printText(application);
    }

    const auto app = AmbrelClient::createApplication(argc, argv);
    // What the application left of the command line once it took its own options (-platform, ...).
    QByteArrayList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    return StartUp::run(arguments);
}
