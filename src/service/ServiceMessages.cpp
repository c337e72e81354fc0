#include "service/ServiceMessages.h"

#include <QString>

namespace ServiceMessages {

namespace {

// Set once, by the worker's construction on the GUI thread, before any call on the worker thread reports.
std::function<void(const QString&)>& receiver()
{
    static std::function<void(const QString&)> registered;
    return registered;
}

} // namespace

void setReceiver(std::function<void(const QString&)> receiverFunction)
{
    receiver() = std::move(receiverFunction);
}

void report(const QString& message)
{
    if (receiver())
        receiver()(message);
}

} // namespace ServiceMessages
