#pragma once

#include <memory>

#include <QByteArrayList>

class HandOver;
class QApplication;
class QCoreApplication;
class TaskFolders;

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

    // Loads Qt's own Chinese texts (file dialogs, message box buttons) and the program's own into the application;
    // false when a translation file is missing. Called once at start, before any window is built.
    static bool installQtTranslations(QCoreApplication* application);

    // The application as the client runs it: sharp on high-density screens (layouts scale by the screen's factor,
    // images use their "@2x" drawings), named, with Qt's own Chinese texts. argc must outlive the application.
    static std::unique_ptr<QApplication> createApplication(int& argc, char** argv);

    // The steps before the first page, which the main window's construction takes in this order.
    // The working folder taken over from a running copy of the program (asked to hand over, never ended; a copy
    // that does not let go is waited for in the background), then the updater started when it is not running. True
    // when this copy holds the folder's lock now.
    static bool takeOverWorkingFolder();
    // The channel over which a later start asks this one to hand over; one per process.
    static HandOver* handOver();
    // What the task's files and requests need before the first of them: files private to the teacher, the trusted
    // certificate authorities, then the working folder's and the task's folders.
    static void prepareTask(const TaskFolders& folders);

private:
    StartUp() = default;
};
