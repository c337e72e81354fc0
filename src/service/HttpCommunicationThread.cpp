#include "service/HttpCommunicationThread.h"

#include <functional>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include "core/AppLog.h"
#include "core/Settings.h"
#include "core/TaskFolders.h"
#include "service/BaseAPI.h"
#include "service/FileNameClaims.h"
#include "service/RequestSigning.h"
#include "service/SafeFileName.h"
#include "service/ServiceMessages.h"
#include "service/ServiceReplies.h"

// The seven service calls. Each is synchronous (BaseAPI waits in a local event loop), so a GUI-thread call may be
// re-entered by a timer while it waits: nothing here keeps state between the steps of a call except locals.

QString HttpCommunicationThread::uid;
QString HttpCommunicationThread::token;
QString HttpCommunicationThread::taskId;
QString HttpCommunicationThread::uploadToken;
QString HttpCommunicationThread::uploadDomain;
QMap<QString, QString> HttpCommunicationThread::imageCache;

namespace {

const char TOKEN_PATH[] = "/qiniu/get/token";
const char ANALYSE_PATH[] = "/collect_after_correct/analyse/answer_image";
const char PAPER_STATUS_PATH[] = "/collect_after_correct/get/paper_status";
const char ZERO_PROOFREAD_PATH[] = "/collect_after_correct/get/zero_proofread_status?";
const char REPLENISH_PATH[] = "/collect_after_correct/get/replenish_students/with_fail_info_and_page?";
const char ANSWER_INFO_PATH[] = "/collect_after_correct/get/answer_info";
const char PAPER_STATUS_WITH_PAGE_PATH[] = "/collect_after_correct/get/paper_status/with_page?";

QString endpoint(const char* path)
{
    return Settings::apiHost() + QLatin1String(path);
}

QString timestamp()
{
    return QString::number(RequestSigning::currentMSecs());
}

QString indented(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

void reportFailure(const QJsonObject& result)
{
    ServiceMessages::report(ServiceReplies::desc(result));
}

// The folders of the task the launch values name: where the service calls download to.
TaskFolders launchTaskFolders()
{
    return TaskFolders::inWorkingFolder(HttpCommunicationThread::taskId);
}

// A folder that downloads are written into, made by the caller: on its first use in this run, the partial files an
// interrupted download of an earlier run left there are removed (this run's own are only ever in flight).
QString prepareDownloadFolder(const QString& path)
{
    static QSet<QString> cleaned;
    if (!cleaned.contains(path)) {
        cleaned.insert(path);
        BaseAPI::removeStalePartFiles(path);
    }
    return path;
}

// Fetches url into a folder below the task's save folder unless that URL's own copy is there; returns the local
// path. The claims give every URL a file of its own; a URL of another scheme than http(s) gets no path.
class Fetcher
{
public:
    Fetcher(BaseAPI& api, const TaskFolders& folders) : m_api(api), m_folders(folders) {}

    QString fetch(const QString& folderPath, const QString& folderKey, const QString& imageUrl)
    {
        // Refused before a name is claimed for it.
        if (BaseAPI::refuses(imageUrl))
            return QString();
        if (!m_opened) {
            m_opened = true;
            m_claims.open(m_folders.databasePath());
        }
        const FileNameClaims::Claim claim = m_claims.claim(folderKey, imageUrl);
        const QString path = folderPath + claim.fileName;
        const bool exists = QFile::exists(path);
        if (exists && !claim.fresh)
            return path;
        m_api.download(imageUrl, path);
        // A file that was there before the name was claimed came from some other URL, or from nobody (a cache
        // older than the record of names, say). Only a download that succeeded replaces it: without the service
        // it is kept, and the name is claimed afresh next time, so that it is fetched again then.
        if (exists && !m_api.lastDownloadStored())
            m_claims.release(folderKey, imageUrl);
        return path;
    }

private:
    BaseAPI& m_api;
    TaskFolders m_folders;
    FileNameClaims m_claims;
    bool m_opened = false;
};

// POSTs a signed text to path, logs the URL and the text whatever the outcome, and returns the reply.
QJsonObject postLogged(BaseAPI& api, const char* path, const QString& text)
{
    const QString url = endpoint(path);
    QJsonObject result;
    api.post(url, text.toLocal8Bit(), result);
    HttpCommunicationThread::writeLog(url, text);
    return result;
}

// GETs path (ending in "?") with a signed query, logs the URL without the query and the reply as indented JSON.
QJsonObject getLogged(BaseAPI& api, const char* path, const QString& query)
{
    const QString url = endpoint(path);
    QJsonObject result;
    api.get(url + query, result);
    HttpCommunicationThread::writeLog(url, indented(result));
    return result;
}

// A reply the call may use: not empty and with a "code" of 0 (missing reads as 0). A non-zero code is reported
// through the worker's message signal; an empty reply (no answer, not JSON) is reported to nobody.
bool accepted(const QJsonObject& result)
{
    if (result.isEmpty())
        return false;
    if (ServiceReplies::code(result) != 0) {
        reportFailure(result);
        return false;
    }
    return true;
}

} // namespace

void HttpCommunicationThread::setTaskId(const QString& value)
{
    taskId = value;
}

void HttpCommunicationThread::setToken(const QString& value)
{
    token = value;
}

void HttpCommunicationThread::setUid(const QString& value)
{
    uid = value;
}

QString HttpCommunicationThread::getTaskId()
{
    return taskId;
}

bool HttpCommunicationThread::getUploadToken()
{
    BaseAPI api;
    const QJsonObject result = postLogged(api, TOKEN_PATH, RequestSigning::tokenText(uid, token, timestamp()));
    if (!accepted(result))
        return false;
    const ServiceReplies::UploadCredentials credentials = ServiceReplies::uploadCredentials(result);
    uploadToken = credentials.token;
    uploadDomain = credentials.domain;
    return true;
}

bool HttpCommunicationThread::analyseAnswerImage(const QString& key)
{
    return announceAnswerImage(taskId, key) == Announcement::Taken;
}

HttpCommunicationThread::Announcement HttpCommunicationThread::announceAnswerImage(const QString& task,
                                                                                   const QString& key, QString* reason)
{
    BaseAPI api;
    const QString text = RequestSigning::analyseText(uid, token, task, uploadDomain + key, timestamp());
    // On success "data" is a boolean the client has no use for. A JSON body behind an error status (a proxy's
    // answer) is not the service taking the image.
    const QJsonObject result = postLogged(api, ANALYSE_PATH, text);
    if (result.isEmpty())
        return api.lastRequestWentUnanswered() ? Announcement::Unanswered : Announcement::Failed;
    const bool refused = ServiceReplies::code(result) != 0;
    if (refused)
        reportFailure(result);
    if (!api.lastStatusWasSuccess())
        return Announcement::Failed;
    if (refused) {
        if (reason)
            *reason = ServiceReplies::desc(result);
        return Announcement::Refused;
    }
    return Announcement::Taken;
}

bool HttpCommunicationThread::getPaperStatus()
{
    BaseAPI api;
    const QJsonObject result =
        postLogged(api, PAPER_STATUS_PATH, RequestSigning::taskText(uid, token, taskId, timestamp()));
    if (!accepted(result))
        return false;
    return ServiceReplies::hasUploads(result);
}

void HttpCommunicationThread::getZeroProofreadStatus(int* proofreadImageCount, int* totalImageCount)
{
    BaseAPI api;
    const QJsonObject result =
        getLogged(api, ZERO_PROOFREAD_PATH, RequestSigning::taskText(uid, token, taskId, timestamp()));
    if (!accepted(result))
        return;
    const ServiceReplies::ProofreadCounts counts = ServiceReplies::proofreadCounts(result);
    if (proofreadImageCount)
        *proofreadImageCount = counts.proofread;
    if (totalImageCount)
        *totalImageCount = counts.total;
}

void HttpCommunicationThread::getReplenishStudents(QList<ReplenishStudent>& students)
{
    launchTaskFolders().ensureUnCollectionFolder();
    students.clear();

    BaseAPI api;
    const QJsonObject result =
        getLogged(api, REPLENISH_PATH, RequestSigning::taskText(uid, token, taskId, timestamp()));
    if (!accepted(result))
        return;
    students = ServiceReplies::replenishStudents(result);
}

void HttpCommunicationThread::getAnswerInfo(QString studentId, AnswerInfo* info)
{
    if (!info)
        return;
    info->images.clear();
    // Without a task there is no task folder to download into.
    const TaskFolders folders = launchTaskFolders();
    if (!folders.isValid())
        return;
    // The student id comes from the service and names a folder: it must not lead out of the task folder.
    const QString folderKey = SafeFileName::folderName(studentId);
    folders.ensureStudentFolder(folderKey);
    const QString folder = prepareDownloadFolder(folders.studentFolder(folderKey));

    BaseAPI api;
    const QJsonObject result =
        postLogged(api, ANSWER_INFO_PATH, RequestSigning::answerInfoText(uid, token, taskId, studentId, timestamp()));
    if (!accepted(result))
        return;
    const ServiceReplies::AnswerPages pages = ServiceReplies::answerPages(result);
    info->studentName = pages.studentName;
    info->studentId = pages.studentId;
    Fetcher fetcher(api, folders);
    for (const QString& imageUrl : pages.imageUrls) {
        const QString path = fetcher.fetch(folder, folderKey, imageUrl);
        // The viewer shows this list: the student's pages in the service's order, captioned by their position.
        if (QFile::exists(path))
            info->images.append({path, QString::number(info->images.size() + 1)});
    }
}

namespace {

// Replaces the URLs of a student's pages and thumbnail by local files, fetched or remembered from an earlier
// refresh.
void localiseImages(StudentAnswer& answer, const std::function<QString(const QString&)>& fetch)
{
    QMap<QString, QString>& imageCache = HttpCommunicationThread::imageCache;
    for (std::pair<QString, QString>& image : answer.images) {
        const QString imageUrl = image.first;
        if (imageUrl.isEmpty())
            continue;
        const auto cached = imageCache.constFind(imageUrl);
        if (cached != imageCache.constEnd()) {
            image.first = cached.value();
            continue;
        }
        image.first = fetch(imageUrl);
        // Only a file that is really there is remembered: a failed fetch is tried again on the next refresh.
        if (QFile::exists(image.first))
            imageCache.insert(imageUrl, image.first);
    }

    const QString thumb = answer.thumbPath;
    if (!thumb.isEmpty()) {
        const auto cached = imageCache.constFind(thumb);
        answer.thumbPath = cached != imageCache.constEnd() ? cached.value() : fetch(thumb);
    }
}

} // namespace

bool HttpCommunicationThread::getPaperStatusWithPage(PaperStatusPage* page, int* state)
{
    if (!page)
        return false;
    page->studentAnswers.clear();
    page->analyseSuccessStudentCount = 0;
    page->unAnalyseSuccessStudentCount = 0;
    // Without a task there is no task folder to download into: as if the service had not answered.
    const TaskFolders folders = launchTaskFolders();
    if (!folders.isValid())
        return false;
    folders.ensure();
    const QString folder = prepareDownloadFolder(folders.saveFolder());

    BaseAPI api;
    QJsonObject result;
    api.get(endpoint(PAPER_STATUS_WITH_PAGE_PATH) + RequestSigning::taskText(uid, token, taskId, timestamp()), result);

    if (result.isEmpty())
        return false;
    if (ServiceReplies::code(result) != 0) {
        if (state)
            *state = ServiceError;
        return true;
    }
    // The reply names URLs. Students join the page one by one once their URLs are local paths: the page may be
    // looked at while a download waits.
    PaperStatusPage parsed = ServiceReplies::paperStatusPage(result);
    page->analyseSuccessStudentCount = parsed.analyseSuccessStudentCount;
    page->unAnalyseSuccessStudentCount = parsed.unAnalyseSuccessStudentCount;
    if (state)
        *state = ServiceReplies::paperState(parsed);

    Fetcher fetcher(api, folders);
    const auto fetch = [&fetcher, &folder](const QString& imageUrl) {
        return fetcher.fetch(folder, QString(), imageUrl);
    };

    for (StudentAnswer& answer : parsed.studentAnswers) {
        localiseImages(answer, fetch);
        page->studentAnswers.append(answer);
    }
    return true;
}

void HttpCommunicationThread::writeLog(const QString& first, const QString& second)
{
    // The teacher's token must not reach the log file. The exact value goes first, so a token holding "&" or
    // white space is caught whole; then every other "token=" parameter.
    const auto redact = [](QString text) {
        if (!token.isEmpty())
            text.replace(QStringLiteral("token=") + token, QStringLiteral("token=***"));
        return AppLog::redactToken(text);
    };
    AppLog::write(redact(first) + QLatin1Char('\n') + redact(second));
}
