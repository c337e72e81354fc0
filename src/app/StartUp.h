#pragma once

#include <QByteArrayList>

// The program's start: the command line is read before anything else happens, so that a request for help or for
// the version, an unknown option or a link that names no task neither ends a running copy of the program nor
// sends, writes or creates anything.
class StartUp
{
public:
    // Exit statuses besides 0.
    static constexpr int UsageError = 1;
    static constexpr int InvalidLink = 2;

    // What the teacher is told when the program was opened without a usable link.
    static QString invalidLinkText();

    // The client proper, inside an existing QApplication; arguments are the command line's bytes, the program
    // first. Without a usable link it shows a hint and returns InvalidLink; otherwise it logs the start, runs the
    // main window until the program ends and returns the event loop's result.
    static int run(const QByteArrayList& arguments);

private:
    StartUp() = default;
};
