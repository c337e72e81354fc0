#include "service/HttpCommunicationThread.h"

// The worker side of HttpCommunicationThread: the single instance, its life cycle and the upload loop.

HttpCommunicationThread* HttpCommunicationThread::instance = nullptr;

HttpCommunicationThread* HttpCommunicationThread::getInstance()
{
    if (!instance)
        instance = new HttpCommunicationThread();
    return instance;
}

HttpCommunicationThread::HttpCommunicationThread(QObject* parent) : QThread(parent) {}

HttpCommunicationThread::~HttpCommunicationThread() = default;

void HttpCommunicationThread::run()
{
    // Placeholder until the upload loop is built: the worker idles.
    exec();
}
