#pragma once

#include <memory>

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The grading service in miniature: the seven API endpoints, the object store's form upload, the stored objects
// and thumbnails over GET, and a simulated analysis of announced images. Runs an HTTP server on 127.0.0.1 on its
// own thread; every public call is thread-safe.
//
// URLs (base = "http://127.0.0.1:PORT", or "https://127.0.0.1:PORT" when Options names a certificate):
//   POST /qiniu/get/token, /collect_after_correct/analyse/answer_image, /collect_after_correct/get/paper_status,
//        /collect_after_correct/get/answer_info                      request text as the body
//   GET  /collect_after_correct/get/zero_proofread_status?..., .../replenish_students/with_fail_info_and_page?...,
//        /collect_after_correct/get/paper_status/with_page?...        request text as the query
//   POST /upload, /upload/, /                                         multipart "token", "key", "file"
//   GET  /files/<key>                                                 stored objects (domain() + key)
//   GET  /thumbs/<taskId>/<studentId>_thumb.jpg                       generated thumbnails
//   GET  any path given to addStaticFile()
class ServiceEmulator
{
public:
    enum class Endpoint
    {
        UploadToken,         // POST /qiniu/get/token
        Analyse,             // POST /collect_after_correct/analyse/answer_image
        PaperStatus,         // POST /collect_after_correct/get/paper_status
        ZeroProofread,       // GET  /collect_after_correct/get/zero_proofread_status?
        ReplenishStudents,   // GET  /collect_after_correct/get/replenish_students/with_fail_info_and_page?
        AnswerInfo,          // POST /collect_after_correct/get/answer_info
        PaperStatusWithPage, // GET  /collect_after_correct/get/paper_status/with_page?
        Upload,              // POST /upload (object store)
        Files,               // GET  /files/..., /thumbs/... and static files
        Other,               // anything else (404)
    };

    // Faults combine: timing faults (Delay, Hang) run first, then Drop, then the status and body faults shape the
    // reply. Each fault applies to the next `times` requests of its endpoint (-1: until cleared). `times` counts
    // requests, not the client's calls: an HTTP stack may send a request again by itself when a connection closes
    // early, so a fault meant to last for a number of calls is held (-1) and cleared once the client has made them.
    struct Fault
    {
        enum Kind
        {
            Delay,          // value: ms to wait before answering normally
            Hang,           // value: ms to hold the connection without a byte, then close it unanswered
            HttpStatus,     // value: HTTP status of the reply; the body stays as it would have been
            NonJson,        // body "<html>service unavailable</html>"
            JsonArray,      // body is a JSON array holding the reply object
            EmptyBody,      // body of zero bytes
            PercentEncoded, // the whole JSON text percent-encoded (braces, quotes, colons... as %XX)
            Drop,           // status line and headers announce a body, then the connection closes without it
            CodeNonZero,    // value: the "code" (default 500 when 0); "desc" is a Chinese error text
            CodeMissing,    // the reply object without "code"
            UploadStatus,   // upload endpoint only: answer value (614, 401, 500...) and store nothing
            Endless,        // a JSON reply whose "desc" grows by value KB before it ends (0: it never ends)
        };
        Kind kind = Delay;
        int value = 0;
        int times = -1;
    };

    struct Options
    {
        quint16 port = 0;         // 0: a free port
        QString storageDir;       // empty: a temporary folder, removed when the emulator is destroyed
        QString acceptedToken;    // empty: any non-empty service token is accepted
        QString acceptedUid;      // empty: any uid is accepted
        int pagesPerStudent = 2;  // announced images, in order, form students of this many pages
        int failEvery = 5;        // every n-th announced image fails analysis (0: none fails)
        int warnEvery = 3;        // every n-th student carries a warning text (0: none)
        int analysePerStep = 1;   // pending images analysed per step
        int proofreadPerStep = 1; // analysed images proofread per step
        int stepMs = 0;           // > 0: a timer advances the analysis every stepMs; 0: only advance() does
        QString tlsCertFile;      // with tlsKeyFile (both PEM): serve HTTPS with this certificate instead of HTTP
        QString tlsKeyFile;
        QString refusedFileName; // the store answers 413 to every upload of a file of this name; empty: none
    };

    // One HTTP exchange, logged when the reply was decided (also for dropped and hung ones).
    struct RequestRecord
    {
        Endpoint endpoint = Endpoint::Other;
        QString method;
        QString path;                   // without the query
        QByteArray query;               // raw query as received (after "?"), percent-encoding intact
        QByteArray body;                // raw body (for uploads: empty; see UploadRecord)
        QMap<QString, QString> params;  // the request text split on "&" and "=" (query parts percent-decoded)
        QMap<QString, QString> headers; // every header, names in lower case
        int status = 0;                 // HTTP status sent (0: dropped or hung)
        int code = -1;                  // "code" of a JSON reply (-1: none)
        qint64 receivedMs = 0;          // ms since the emulator started
    };

    struct UploadPart
    {
        QString name;
        QString fileName;
        QString contentType;
        qint64 size = 0;
    };

    // One multipart upload as received, whatever its outcome.
    struct UploadRecord
    {
        QList<UploadPart> parts; // in the order they arrived
        QString token;
        QString key;
        QString fileName;
        int status = 0;
        QByteArray contentType; // of the whole request, with its boundary
    };

    ServiceEmulator();
    explicit ServiceEmulator(const Options& options);
    ~ServiceEmulator();
    ServiceEmulator(const ServiceEmulator&) = delete;
    ServiceEmulator& operator=(const ServiceEmulator&) = delete;

    // Binds 127.0.0.1 and returns once the server is accepting connections. False when the port is taken or the
    // certificate or key cannot be read.
    bool start();
    // Stops the server and waits for its thread; also ends delays and hangs in progress. Safe to call twice.
    void stop();
    bool isRunning() const;

    quint16 port() const;
    QString baseUrl() const;   // "http://127.0.0.1:PORT" ("https://" with a certificate)
    QString uploadUrl() const; // baseUrl() + "/upload"
    QString domain() const;    // the uploadDomain handed out: baseUrl() + "/files/" unless overridden
    QString storageDir() const;
    const Options& options() const; // as constructed, plus later set* changes; read it from the controlling thread

    // Settings that tests may change at any time.
    void setAcceptedToken(const QString& token);
    void setAcceptedUid(const QString& uid);
    void setDomainOverride(const QString& domain); // empty: back to the default
    void setStepMs(int ms);                        // starts, changes or (0) stops the analysis timer
    void setRefusedFileName(const QString& name);  // see Options::refusedFileName

    // Fault injection.
    void addFault(Endpoint endpoint, const Fault& fault);
    void clearFaults(Endpoint endpoint);
    void clearAllFaults();
    // A canned reply replaces the simulation's answer for an endpoint until cleared; signature and token are still
    // checked first. setCannedData answers {"code":0,"desc":"成功","data":data}; setCannedBody sends the bytes. For the
    // upload endpoint setCannedBody is the upload policy's return body: what a stored upload answers with.
    void setCannedData(Endpoint endpoint, const QJsonObject& data);
    void setCannedBody(Endpoint endpoint, const QByteArray& body, const QByteArray& contentType = "application/json");
    void clearCanned(Endpoint endpoint);

    // Request log.
    QList<RequestRecord> requestLog() const;
    QList<RequestRecord> requests(Endpoint endpoint) const;
    int requestCount(Endpoint endpoint) const;
    int requestCount(const QString& path) const; // GETs and POSTs of this exact path (query excluded)
    void clearRequestLog();

    // Object store.
    QList<UploadRecord> uploads() const;
    QStringList storedKeys() const; // in the order stored
    bool hasObject(const QString& key) const;
    QByteArray objectBytes(const QString& key) const;
    QString objectPath(const QString& key) const; // file on disk, empty when not stored
    // Stores an object directly, as a successful upload would (false when the key exists).
    bool storeObject(const QString& key, const QByteArray& bytes);
    // Upload tokens are handed out by the token endpoint; revoking makes the store answer 401 to all of them.
    QString currentUploadToken() const;
    void revokeUploadTokens();
    // Serves bytes at a GET path (for instance "/a/b/c.png"; a query in the client's URL is ignored).
    void addStaticFile(const QString& path, const QByteArray& bytes,
                       const QByteArray& contentType = "application/octet-stream");

    // Simulated analysis. Announced images wait until a step analyses them; steps also raise the proofread count.
    void advance(int steps = 1);
    void finishAnalysis(const QString& taskId); // analyse and proofread everything announced so far
    // Announce an image as the analyse endpoint would (url must start with domain() to be served).
    void announce(const QString& taskId, const QString& imageUrl);
    // A task that already has 12 analysed students (1-3 generated answer-sheet pages each), two failed students
    // and everything proofread.
    void seedDemo(const QString& taskId, const QString& uid = QStringLiteral("teacher01"));

    struct TaskCounts
    {
        int uploaded = 0;
        int analyseFailed = 0;
        int proofread = 0;
        int pending = 0;
        int analysedStudents = 0;
        int failedStudents = 0;
    };
    TaskCounts counts(const QString& taskId) const;
    QStringList studentIds(const QString& taskId) const;

    static QString endpointName(Endpoint endpoint);
    // "token", "analyse", "paper_status", "zero_proofread", "replenish", "answer_info", "with_page", "upload",
    // "files"; false for an unknown name.
    static bool endpointFromName(const QString& name, Endpoint* endpoint);
    // "KIND[:VALUE[:TIMES]]" with KIND one of delay, hang, status, nonjson, array, empty, percent, drop, code,
    // nocode, upload, endless. False for a malformed text.
    static bool faultFromText(const QString& text, Fault* fault);
    // The signature the service expects: md5hex("7.3.2DesktopKorvex" + t + uid).
    static QString signatureFor(const QByteArray& t, const QByteArray& uid);

private:
    class Private;
    std::unique_ptr<Private> d;
};
