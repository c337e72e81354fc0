#include "ServiceEmulator.h"

#include <chrono>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include "AnswerSheetImage.h"
#include "EmulatorPrivate.h"

using namespace EmulatorDetail;

namespace {

struct EndpointName
{
    Endpoint endpoint;
    const char* name;
};

const EndpointName kEndpointNames[] = {
    {Endpoint::UploadToken, "token"},
    {Endpoint::Analyse, "analyse"},
    {Endpoint::PaperStatus, "paper_status"},
    {Endpoint::ZeroProofread, "zero_proofread"},
    {Endpoint::ReplenishStudents, "replenish"},
    {Endpoint::AnswerInfo, "answer_info"},
    {Endpoint::PaperStatusWithPage, "with_page"},
    {Endpoint::Upload, "upload"},
    {Endpoint::Files, "files"},
    {Endpoint::Other, "other"},
};

struct FaultName
{
    Fault::Kind kind;
    const char* name;
};

const FaultName kFaultNames[] = {
    {Fault::Delay, "delay"},
    {Fault::Hang, "hang"},
    {Fault::HttpStatus, "status"},
    {Fault::NonJson, "nonjson"},
    {Fault::JsonArray, "array"},
    {Fault::EmptyBody, "empty"},
    {Fault::PercentEncoded, "percent"},
    {Fault::Drop, "drop"},
    {Fault::CodeNonZero, "code"},
    {Fault::CodeMissing, "nocode"},
    {Fault::UploadStatus, "upload"},
    {Fault::Endless, "endless"},
};

} // namespace

void ServiceEmulator::Private::stepperLoop()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        if (stepMs <= 0) {
            wake.wait(lock, [this] { return stopping || stepMs > 0; });
            continue;
        }
        const int generation = stepGeneration;
        const bool interrupted = wake.wait_for(lock, std::chrono::milliseconds(stepMs),
                                               [&] { return stopping || stepGeneration != generation; });
        if (interrupted)
            continue;
        for (auto& entry : tasks)
            entry.second->step();
    }
}

ServiceEmulator::ServiceEmulator() : ServiceEmulator(Options()) {}

ServiceEmulator::ServiceEmulator(const Options& options) : d(std::make_unique<Private>(options))
{
    if (options.storageDir.isEmpty()) {
        d->tempDir = std::make_unique<QTemporaryDir>();
        d->storage = d->tempDir->path();
    } else {
        d->storage = QDir(options.storageDir).absolutePath();
        QDir().mkpath(d->storage);
    }
    d->clock.start();

    // Hung exchanges and the client's keep-alive connections each hold a worker: more than the default few.
    d->server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    d->server->set_keep_alive_timeout(2);
    // The library closes a kept-alive connection after 5 requests by default: a worker sending hundreds of images
    // would then pay a new connection every fifth upload, which the real store does not make it do.
    d->server->set_keep_alive_max_count(100000);
    // Headers and body leave in separate writes: with Nagle on, a kept-alive client's delayed ACK holds every
    // reply body back by ~40 ms.
    d->server->set_tcp_nodelay(true);
    // The library's default adds SO_REUSEPORT, which would let two emulators share a port given with --port.
    d->server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
    });
    d->server->Get(".*", [this](const httplib::Request& req, httplib::Response& res) { d->handleGet(req, res); });
    d->server->Post(R"(/upload/?|/)",
                    [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                        d->handleUpload(req, res, reader);
                    });
    d->server->Post(".*", [this](const httplib::Request& req, httplib::Response& res) { d->handlePost(req, res); });
}

ServiceEmulator::~ServiceEmulator()
{
    stop();
}

bool ServiceEmulator::start()
{
    if (d->running)
        return true;
    // An SSLServer whose certificate or key could not be read.
    if (!d->server->is_valid())
        return false;
    int bound = -1;
    if (d->options.port != 0)
        bound = d->server->bind_to_port("127.0.0.1", d->options.port) ? d->options.port : -1;
    else
        bound = d->server->bind_to_any_port("127.0.0.1");
    if (bound <= 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->port = quint16(bound);
        d->stopping = false;
    }
    d->serverThread = std::thread([this] { d->server->listen_after_bind(); });
    // stop() is ignored until the listening thread has marked the server running; wait for that.
    QElapsedTimer waited;
    waited.start();
    while (!d->server->is_running() && waited.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->running = true;
    d->stepper = std::thread([this] { d->stepperLoop(); });
    return d->server->is_running();
}

void ServiceEmulator::stop()
{
    if (!d->running)
        return;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_all();
    d->server->stop();
    if (d->serverThread.joinable())
        d->serverThread.join();
    if (d->stepper.joinable())
        d->stepper.join();
    d->running = false;
}

bool ServiceEmulator::isRunning() const
{
    return d->running && d->server->is_running();
}

quint16 ServiceEmulator::port() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->port;
}

QString ServiceEmulator::baseUrl() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->baseUrl();
}

QString ServiceEmulator::uploadUrl() const
{
    return baseUrl() + QStringLiteral("/upload");
}

QString ServiceEmulator::domain() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->domainLocked();
}

QString ServiceEmulator::storageDir() const
{
    return d->storage;
}

const ServiceEmulator::Options& ServiceEmulator::options() const
{
    return d->options;
}

void ServiceEmulator::setAcceptedToken(const QString& token)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->options.acceptedToken = token;
}

void ServiceEmulator::setAcceptedUid(const QString& uid)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->options.acceptedUid = uid;
}

void ServiceEmulator::setDomainOverride(const QString& domain)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->domainOverride = domain;
}

void ServiceEmulator::setStepMs(int ms)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stepMs = ms;
        d->options.stepMs = ms;
        ++d->stepGeneration;
    }
    d->wake.notify_all();
}

void ServiceEmulator::setRefusedFileName(const QString& name)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->options.refusedFileName = name;
}

void ServiceEmulator::addFault(Endpoint endpoint, const Fault& fault)
{
    if (fault.times == 0)
        return;
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults[endpoint].append(fault);
}

void ServiceEmulator::clearFaults(Endpoint endpoint)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults.remove(endpoint);
}

void ServiceEmulator::clearAllFaults()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults.clear();
}

void ServiceEmulator::setCannedData(Endpoint endpoint, const QJsonObject& data)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Private::Canned c;
    c.isData = true;
    c.data = data;
    d->canned.insert(endpoint, c);
}

void ServiceEmulator::setCannedBody(Endpoint endpoint, const QByteArray& body, const QByteArray& contentType)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Private::Canned c;
    c.body = body;
    c.contentType = contentType;
    d->canned.insert(endpoint, c);
}

void ServiceEmulator::clearCanned(Endpoint endpoint)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->canned.remove(endpoint);
}

QList<ServiceEmulator::RequestRecord> ServiceEmulator::requestLog() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->log;
}

QList<ServiceEmulator::RequestRecord> ServiceEmulator::requests(Endpoint endpoint) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    QList<RequestRecord> matching;
    for (const RequestRecord& r : d->log) {
        if (r.endpoint == endpoint)
            matching.append(r);
    }
    return matching;
}

int ServiceEmulator::requestCount(Endpoint endpoint) const
{
    return requests(endpoint).size();
}

int ServiceEmulator::requestCount(const QString& path) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    int n = 0;
    for (const RequestRecord& r : d->log)
        n += r.path == path ? 1 : 0;
    return n;
}

void ServiceEmulator::clearRequestLog()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->log.clear();
    d->uploads.clear();
}

QList<ServiceEmulator::UploadRecord> ServiceEmulator::uploads() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->uploads;
}

QStringList ServiceEmulator::storedKeys() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->keys;
}

bool ServiceEmulator::hasObject(const QString& key) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->objects.contains(key);
}

QByteArray ServiceEmulator::objectBytes(const QString& key) const
{
    const QString path = objectPath(key);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString ServiceEmulator::objectPath(const QString& key) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->objects.value(key);
}

bool ServiceEmulator::storeObject(const QString& key, const QByteArray& data)
{
    if (!isSafeKey(key) || hasObject(key))
        return false;
    QString incomingPath;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        incomingPath = d->storage + QStringLiteral("/incoming/%1.part").arg(++d->incomingSerial);
    }
    QDir().mkpath(d->storage + QStringLiteral("/incoming"));
    QFile file(incomingPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return false;
    file.close();
    std::lock_guard<std::mutex> lock(d->mutex);
    const QString path = d->storeIncoming(key, incomingPath);
    if (path.isEmpty())
        return false;
    d->objects.insert(key, path);
    d->keys.append(key);
    return true;
}

QString ServiceEmulator::currentUploadToken() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->validUploadTokens.isEmpty() ? QString() : d->validUploadTokens.last();
}

void ServiceEmulator::revokeUploadTokens()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->validUploadTokens.clear();
}

void ServiceEmulator::addStaticFile(const QString& path, const QByteArray& data, const QByteArray& contentType)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->statics.insert(path, Private::StaticFile{data, contentType});
}

void ServiceEmulator::advance(int steps)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (int i = 0; i < steps; ++i) {
        for (auto& entry : d->tasks)
            entry.second->step();
    }
}

void ServiceEmulator::finishAnalysis(const QString& taskId)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->task(taskId).finish();
}

void ServiceEmulator::announce(const QString& taskId, const QString& imageUrl)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->task(taskId).announce(imageUrl);
}

void ServiceEmulator::seedDemo(const QString& taskId, const QString& uid)
{
    // 12 students with 1, 2 or 3 pages, then one whose second page failed and one whose only page failed.
    struct Seed
    {
        int pages;
        QList<int> failed;
    };
    QList<Seed> seeds;
    for (int i = 0; i < 12; ++i)
        seeds.append(Seed{i % 3 + 1, {}});
    seeds.append(Seed{2, {1}});
    seeds.append(Seed{1, {0}});

    int first = 0;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        first = d->task(taskId).studentIds().size();
    }
    qint64 ms = 1764547200000;
    for (int s = 0; s < seeds.size(); ++s) {
        const int index = first + s;
        QStringList urls;
        for (int page = 1; page <= seeds.at(s).pages; ++page) {
            const QByteArray jpeg = AnswerSheetImage::render(SimulatedTask::studentName(index), page, seeds.at(s).pages,
                                                             SimulatedTask::scoreText(index));
            QString key;
            do {
                ms += 1371;
                key = QStringLiteral("paper/origin/%1/%2/%3.jpg").arg(uid, taskId).arg(ms);
            } while (!storeObject(key, jpeg) && hasObject(key));
            urls.append(domain() + key);
        }
        std::lock_guard<std::mutex> lock(d->mutex);
        d->task(taskId).addAnalysedStudent(urls, seeds.at(s).failed);
    }
}

ServiceEmulator::TaskCounts ServiceEmulator::counts(const QString& taskId) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    TaskCounts c;
    auto it = d->tasks.find(taskId);
    if (it == d->tasks.end())
        return c;
    const SimulatedTask& t = *it->second;
    c.uploaded = t.uploadedCount();
    c.analyseFailed = t.failedCount();
    c.proofread = t.proofreadCount();
    c.pending = t.pendingCount();
    c.analysedStudents = t.analysedStudentCount();
    c.failedStudents = t.failedStudentCount();
    return c;
}

QStringList ServiceEmulator::studentIds(const QString& taskId) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    auto it = d->tasks.find(taskId);
    return it == d->tasks.end() ? QStringList() : it->second->studentIds();
}

QString ServiceEmulator::endpointName(Endpoint endpoint)
{
    for (const EndpointName& e : kEndpointNames) {
        if (e.endpoint == endpoint)
            return QString::fromLatin1(e.name);
    }
    return QString();
}

bool ServiceEmulator::endpointFromName(const QString& name, Endpoint* endpoint)
{
    for (const EndpointName& e : kEndpointNames) {
        if (name == QLatin1String(e.name)) {
            *endpoint = e.endpoint;
            return true;
        }
    }
    return false;
}

bool ServiceEmulator::faultFromText(const QString& text, Fault* fault)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.isEmpty() || parts.size() > 3)
        return false;
    Fault parsed;
    bool known = false;
    for (const FaultName& f : kFaultNames) {
        if (parts.at(0) == QLatin1String(f.name)) {
            parsed.kind = f.kind;
            known = true;
        }
    }
    if (!known)
        return false;
    bool ok = true;
    if (parts.size() > 1)
        parsed.value = parts.at(1).toInt(&ok);
    if (ok && parts.size() > 2)
        parsed.times = parts.at(2).toInt(&ok);
    if (!ok || parsed.times == 0 || parsed.value < 0)
        return false;
    const bool needsValue = parsed.kind == Fault::Delay || parsed.kind == Fault::Hang ||
                            parsed.kind == Fault::HttpStatus || parsed.kind == Fault::UploadStatus;
    if (needsValue && parts.size() < 2)
        return false;
    *fault = parsed;
    return true;
}

QString ServiceEmulator::signatureFor(const QByteArray& t, const QByteArray& uid)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayLiteral("7.3.2DesktopKorvex") + t + uid, QCryptographicHash::Md5).toHex());
}
