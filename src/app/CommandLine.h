#pragma once

#include <QByteArrayList>

class QCommandLineParser;

// The command line, read before the application object exists: a request for help or for the version, an unknown
// option and a link that names no task are answered without a display, and so end at once wherever the program is
// started (a terminal without a display, a server, a test with the offscreen platform).
struct CommandLine
{
    // Whether the program ends here, and with which status (0, StartUp::UsageError or StartUp::InvalidLink).
    bool ends = false;
    int status = 0;
    // The command line's bytes without the options Qt's application object takes for itself (-platform offscreen,
    // -style ...), the program first; the link as it was given.
    QByteArrayList arguments;
    // Where the link is in argv (0: no link).
    int linkIndex = 0;

    // Reads argv and prints what it asks for: the help or the version on stdout, a wrong option or a link that names
    // no task on stderr. A link that names no task ends the program here only where no window can be shown; with a
    // display the start-up shows the teacher the hint as well.
    static CommandLine read(int argc, char** argv);

    // The options the program knows, for every parser of its command line.
    static void describeOptions(QCommandLineParser& parser);

    // Overwrites the token inside a link argument in place, byte for byte, with '*': the process's argument memory is
    // what ps and /proc/<pid>/cmdline show to every local user. The link keeps its length and its other pieces.
    static void hideToken(char* argument);
};
