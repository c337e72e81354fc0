#include <QCoreApplication>
#include <QSqlDatabase>

#include "service/HttpCommunicationThread.h"
#include "service/ServiceMessages.h"
#include "upload/CloudUploader.h"
#include "upload/FolderWatchSleeper.h"
#include "upload/WorkerRun.h"

// The worker side of HttpCommunicationThread: the single instance, its life cycle and the upload loop.

namespace {

// A service call in progress ends within its own time bound; the program does not wait that long on its way out.
constexpr unsigned long kStopWaitMs = 3000;

} // namespace

HttpCommunicationThread* HttpCommunicationThread::instance = nullptr;

HttpCommunicationThread* HttpCommunicationThread::getInstance()
{
    if (!instance) {
        instance = new HttpCommunicationThread();
        // The service calls report failures through the worker's signal, from whichever thread made the call.
        ServiceMessages::setReceiver([](const QString& text) { emit instance->message(text); });
        // The worker uses the toolkit and the program's static objects: when the program ends through the
        // application object (not through the immediate exit of a quit), it is stopped while both still exist.
        // Clean-up routines run last added first, and Qt SQL closes every connection in one of its own, added when
        // its driver list is first used: use it now, so that the worker is stopped before its database connection
        // is closed under a query still running.
        if (QCoreApplication::instance()) {
            QSqlDatabase::drivers();
            qAddPostRoutine([] {
                if (instance && instance->isRunning()) {
                    instance->requestInterruption();
                    instance->wait(kStopWaitMs);
                }
            });
        }
    }
    return instance;
}

HttpCommunicationThread::HttpCommunicationThread(QObject* parent) : QThread(parent), m_cloudClient(new CloudUploader())
{
}

void HttpCommunicationThread::setTaskFolders(const TaskFolders& folders)
{
    m_folders = folders;
}

HttpCommunicationThread::~HttpCommunicationThread()
{
    delete m_cloudClient;
}

void HttpCommunicationThread::run()
{
    FolderWatchSleeper watcher;
    // The launch values and the folders were handed over before start and do not change afterwards.
    WorkerRun::run(m_folders, uid, *m_cloudClient, watcher, [this] { return !isInterruptionRequested(); });
}
