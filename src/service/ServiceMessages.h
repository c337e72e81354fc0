#pragma once

#include <functional>

class QString;

// Where the service calls send the service's "desc" text of a failed call. The upload worker, which carries the
// `message` signal, registers itself here when it is made; the service calls never make it themselves. Without a
// receiver the text is dropped, as a signal nobody is connected to would drop it.
namespace ServiceMessages {

void setReceiver(std::function<void(const QString&)> receiver);
void report(const QString& message);

} // namespace ServiceMessages
