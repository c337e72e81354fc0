#include <chrono>

#include "EmulatorPrivate.h"

using namespace EmulatorDetail;

namespace EmulatorDetail {

void dropConnection(httplib::Response& res)
{
    // The headers promise a body that never comes: the client sees the connection closed mid-reply.
    res.status = 200;
    res.set_content_provider(
        64, kJsonType, [](size_t, size_t, httplib::DataSink&) { return false; }, nullptr);
}

} // namespace EmulatorDetail

QList<Fault> ServiceEmulator::Private::takeFaults(Endpoint endpoint)
{
    std::lock_guard<std::mutex> lock(mutex);
    QList<Fault> taken;
    QList<Fault>& list = faults[endpoint];
    for (int i = 0; i < list.size();) {
        taken.append(list.at(i));
        if (list[i].times > 0 && --list[i].times == 0) {
            list.removeAt(i);
            continue;
        }
        ++i;
    }
    return taken;
}

void ServiceEmulator::Private::sleepFor(int ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
}

void ServiceEmulator::Private::sendEndless(httplib::Response& res, qint64 paddingBytes)
{
    // Chunked, so that no length tells the client in advance how much is coming.
    res.status = 200;
    res.set_chunked_content_provider(kJsonType, [this, paddingBytes](size_t offset, httplib::DataSink& sink) {
        static const std::string head = R"({"code":0,"desc":")";
        static const std::string chunk(64 * 1024, 'x');
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                return false;
        }
        if (offset == 0)
            return sink.write(head.data(), head.size());
        const qint64 sent = qint64(offset - head.size());
        if (paddingBytes > 0 && sent >= paddingBytes) {
            sink.write("\"}", 2);
            sink.done();
            return true;
        }
        const size_t size =
            paddingBytes > 0 ? size_t(std::min<qint64>(qint64(chunk.size()), paddingBytes - sent)) : chunk.size();
        return sink.write(chunk.data(), size);
    });
}

bool ServiceEmulator::Private::applyTiming(const QList<Fault>& list, httplib::Response& res, RequestRecord& record)
{
    for (const Fault& f : list) {
        if (f.kind == Fault::Delay)
            sleepFor(f.value);
    }
    for (const Fault& f : list) {
        if (f.kind == Fault::Hang || f.kind == Fault::Drop) {
            // Logged on arrival, so that a test can see the exchange is being held.
            record.status = 0;
            appendLog(record);
            if (f.kind == Fault::Hang)
                sleepFor(f.value);
            dropConnection(res);
            return false;
        }
    }
    return true;
}
