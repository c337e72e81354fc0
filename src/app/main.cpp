#include <QApplication>

#include "app/AmbrelClient.h"
#include "app/CommandLine.h"
#include "app/StartUp.h"

int main(int argc, char* argv[])
{
    // Before any application object: help, version, a wrong option and a useless link need no display.
    const CommandLine commandLine = CommandLine::read(argc, argv);
    if (commandLine.ends)
        return commandLine.status;
    // Every local user can read the argument memory (ps, /proc/<pid>/cmdline): the token leaves it at once. The link
    // as given stays in commandLine.arguments.
    if (commandLine.linkIndex > 0)
        CommandLine::hideToken(argv[commandLine.linkIndex]);

    const auto app = StartUp::createApplication(argc, argv);
    return StartUp::run(commandLine.arguments);
}
