#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <httplib.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include "ServiceEmulator.h"
#include "SimulatedTask.h"

// What the emulator's parts share: the request texts and replies (ApiHandlers.cpp), the faults shaped into the
// exchanges (FaultShaping.cpp), the object store behind the form upload (ObjectStore.cpp), and the state they work
// on, held by ServiceEmulator::Private.
namespace EmulatorDetail {

using Endpoint = ServiceEmulator::Endpoint;
using Fault = ServiceEmulator::Fault;
using RawParams = QList<QPair<QByteArray, QByteArray>>;

extern const char kJsonType[];

QByteArray bytes(const std::string& text);
std::string stdString(const QByteArray& data);
// The request texts are "a=b&c=d" with values inserted raw: split on "&", then on the first "=". Query strings
// arrive percent-encoded by the client's URL handling, bodies do not.
RawParams splitRequestText(const QByteArray& text, bool percentDecode);
QByteArray paramValue(const RawParams& params, const char* name);
QJsonObject replyObject(int code, const QString& desc);
QJsonObject successReply(const QJsonValue& data);
QByteArray compactJson(const QJsonObject& object);
// The store's content hash of a stored object, as the form upload's reply names it.
QString objectHash(const QString& path);
QByteArray contentTypeFor(const QString& path);
// Object keys become paths under the storage folder: refuse anything that could leave it.
bool isSafeKey(const QString& key);
void dropConnection(httplib::Response& res);

} // namespace EmulatorDetail

class ServiceEmulator::Private
{
public:
    struct Canned
    {
        bool isData = false;
        QJsonObject data;
        QByteArray body;
        QByteArray contentType;
    };
    struct StaticFile
    {
        QByteArray bytes;
        QByteArray contentType;
    };

    explicit Private(const Options& o) : options(o), stepMs(o.stepMs)
    {
        if (o.tlsCertFile.isEmpty())
            server = std::make_unique<httplib::Server>();
        else
            server = std::make_unique<httplib::SSLServer>(QFile::encodeName(o.tlsCertFile).constData(),
                                                          QFile::encodeName(o.tlsKeyFile).constData());
    }

    QString baseUrl() const
    {
        return (options.tlsCertFile.isEmpty() ? QStringLiteral("http://127.0.0.1:%1")
                                              : QStringLiteral("https://127.0.0.1:%1"))
            .arg(port);
    }
    QString domainLocked() const
    {
        return domainOverride.isEmpty() ? baseUrl() + QStringLiteral("/files/") : domainOverride;
    }
    SimulatedTask& task(const QString& taskId)
    {
        auto it = tasks.find(taskId);
        if (it == tasks.end()) {
            SimulatedTask::Rules rules;
            rules.pagesPerStudent = options.pagesPerStudent;
            rules.failEvery = options.failEvery;
            rules.warnEvery = options.warnEvery;
            rules.analysePerStep = options.analysePerStep;
            rules.proofreadPerStep = options.proofreadPerStep;
            it = tasks.emplace(taskId, std::make_unique<SimulatedTask>(taskId, rules)).first;
        }
        return *it->second;
    }

    void handleGet(const httplib::Request& req, httplib::Response& res);
    void handlePost(const httplib::Request& req, httplib::Response& res);
    void handleApi(Endpoint endpoint, bool expectGet, const httplib::Request& req, httplib::Response& res);
    void handleUpload(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader);
    void handleFile(const httplib::Request& req, httplib::Response& res);

    ServiceEmulator::RequestRecord makeRecord(Endpoint endpoint, const httplib::Request& req,
                                              EmulatorDetail::RawParams* params);
    QList<Fault> takeFaults(Endpoint endpoint);
    // Delay, hang and drop. False when the exchange ended here (the record is logged).
    bool applyTiming(const QList<Fault>& faults, httplib::Response& res, ServiceEmulator::RequestRecord& record);
    QJsonObject answer(Endpoint endpoint, const EmulatorDetail::RawParams& params, bool* canned, Canned* cannedReply);
    void appendLog(const ServiceEmulator::RequestRecord& record);
    void sleepFor(int ms);
    void sendEndless(httplib::Response& res, qint64 paddingBytes);
    QString storeIncoming(const QString& key, const QString& incomingPath);
    void stepperLoop();

    Options options;
    // An SSLServer when a certificate is given.
    std::unique_ptr<httplib::Server> server;
    std::thread serverThread;
    std::thread stepper;
    quint16 port = 0;
    bool running = false;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    int stepMs = 0;
    int stepGeneration = 0;
    QElapsedTimer clock;
    std::unique_ptr<QTemporaryDir> tempDir;
    QString storage;
    QString domainOverride;
    QMap<Endpoint, QList<Fault>> faults;
    QMap<Endpoint, Canned> canned;
    QList<ServiceEmulator::RequestRecord> log;
    QList<ServiceEmulator::UploadRecord> uploads;
    QStringList keys;
    QMap<QString, QString> objects; // key -> file
    QMap<QString, StaticFile> statics;
    QMap<QString, QByteArray> thumbnails;
    std::map<QString, std::unique_ptr<SimulatedTask>> tasks;
    QStringList validUploadTokens;
    int tokenSerial = 0;
    int incomingSerial = 0;
};
