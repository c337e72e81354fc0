#pragma once

#include <QMap>
#include <QString>
#include <QThread>

#include "core/TaskFolders.h"
#include "service/ServiceRecords.h"

class CloudUploader;

// The single upload worker, and the home of the service client's class-level state: the launch values, the upload
// credentials and the image cache. The service calls are class-level so any page calls them without the worker.
// Its service side is defined here; its worker side (the instance, its life cycle, run) where the worker lives, in
// the upload folder, which hands the service calls a receiver for their failure texts (ServiceMessages): nothing
// here makes the worker.
class HttpCommunicationThread : public QThread
{
    Q_OBJECT

public:
    static HttpCommunicationThread* getInstance();

    // Launch values, set once by the main window before the worker starts.
    static void setTaskId(const QString& taskId);
    static void setToken(const QString& token);
    static void setUid(const QString& uid);
    static QString getTaskId();
    // The task's folders the worker empties (and, besides, the other tasks' below the same working folder); handed
    // by the main window before the worker starts.
    void setTaskFolders(const TaskFolders& folders);

    // The seven service calls.
    static bool getUploadToken();
    // True only when the service took it: HTTP 2xx, a JSON object, "code" absent or 0.
    static bool analyseAnswerImage(const QString& key);

    enum class Announcement
    {
        Taken,      // HTTP 2xx, a JSON object, "code" absent or 0
        Refused,    // the service answered with a non-zero "code"; its "desc" is the reason
        Unanswered, // sent, but no answer came back: the service may have taken it
        Failed,     // not sent, or answered with something that is not the service's answer
    };
    // analyseAnswerImage for the image of any task of the teacher, telling how it ended; the refusal's "desc" goes
    // to *reason.
    static Announcement announceAnswerImage(const QString& taskId, const QString& key, QString* reason = nullptr);
    static bool getPaperStatus();
    static void getZeroProofreadStatus(int* proofreadImageCount, int* totalImageCount);
    static void getReplenishStudents(QList<ReplenishStudent>& students);
    static void getAnswerInfo(QString studentId, AnswerInfo* info);
    static bool getPaperStatusWithPage(PaperStatusPage* page, int* state);

    // One log entry (AppLog::write): first, then second on the same line; the token never appears in either.
    static void writeLog(const QString& first, const QString& second);

    static QString uid;
    static QString token;
    static QString taskId;
    static QString uploadToken;
    static QString uploadDomain;
    static QMap<QString, QString> imageCache;

    ~HttpCommunicationThread() override;

signals:
    void message(const QString& message);

protected:
    void run() override;

private:
    explicit HttpCommunicationThread(QObject* parent = nullptr);

    static HttpCommunicationThread* instance;

    // The worker's cloud client, created with the worker and living as long as it.
    CloudUploader* m_cloudClient = nullptr;
    TaskFolders m_folders;
};
