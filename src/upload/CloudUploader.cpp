#include "upload/CloudUploader.h"

#include <chrono>

#include <curl/curl.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include "core/AppLog.h"
#include "core/SecureTransport.h"
#include "core/Settings.h"

namespace {

struct GlobalState
{
    QUrl uploadUrl;
};

int s_clientCount = 0;
GlobalState* s_global = nullptr;

void globalInit()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    s_global = new GlobalState{QUrl(Settings::uploadHost())};
}

void globalCleanup()
{
    delete s_global;
    s_global = nullptr;
    curl_global_cleanup();
}

// Counted on construction, so that the first client sets up and the last one tears down.
void addClient()
{
    if (s_clientCount++ == 0)
        globalInit();
}

void removeClient()
{
    if (--s_clientCount == 0)
        globalCleanup();
}

// The store answers a form upload with a small JSON object: a body larger than this is nothing it sent.
constexpr qint64 kLargestAnswer = 1024 * 1024;

using SteadyClock = std::chrono::steady_clock;

// One upload's exchange with curl's callbacks: the file read as the request goes out, the answer, and when the
// transfer last moved.
struct Exchange
{
    QFile* file = nullptr;
    QByteArray answer;
    bool answerTooLarge = false;
    int timeoutMs = 0;
    const std::function<void()>* whileSending = nullptr;
    curl_off_t lastMoved = -1;
    SteadyClock::time_point lastMovedAt = SteadyClock::now();
};

size_t readBody(char* buffer, size_t size, size_t count, void* data)
{
    auto* exchange = static_cast<Exchange*>(data);
    const qint64 read = exchange->file->read(buffer, qint64(size * count));
    return read < 0 ? CURL_READFUNC_ABORT : size_t(read);
}

int seekBody(void* data, curl_off_t offset, int origin)
{
    auto* exchange = static_cast<Exchange*>(data);
    if (origin != SEEK_SET)
        return CURL_SEEKFUNC_CANTSEEK;
    return exchange->file->seek(qint64(offset)) ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

size_t keepAnswer(char* buffer, size_t size, size_t count, void* data)
{
    auto* exchange = static_cast<Exchange*>(data);
    const size_t bytes = size * count;
    if (exchange->answer.size() + qint64(bytes) > kLargestAnswer) {
        exchange->answerTooLarge = true;
        return 0;
    }
    exchange->answer.append(buffer, int(bytes));
    return bytes;
}

// A transfer that moves no byte either way for the timeout is abandoned, as Qt's transfer timeout does.
int watchProgress(void* data, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
{
    auto* exchange = static_cast<Exchange*>(data);
    if (exchange->whileSending && *exchange->whileSending)
        (*exchange->whileSending)();
    const SteadyClock::time_point now = SteadyClock::now();
    if (downloaded + uploaded != exchange->lastMoved) {
        exchange->lastMoved = downloaded + uploaded;
        exchange->lastMovedAt = now;
        return 0;
    }
    const auto still = std::chrono::duration_cast<std::chrono::milliseconds>(now - exchange->lastMovedAt).count();
    return still >= exchange->timeoutMs ? 1 : 0;
}

bool isTlsFailure(CURLcode code)
{
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return true;
    default:
        return false;
    }
}

// A quote or a line end in a file name would end the header value early; browsers escape them the same way.
QByteArray headerSafe(const QString& fileName)
{
    QByteArray bytes = fileName.toUtf8();
    bytes.replace('"', "%22");
    bytes.replace('\r', "%0D");
    bytes.replace('\n', "%0A");
    return bytes;
}

} // namespace

CloudUploader::CloudUploader(int timeoutMs) : m_timeoutMs(timeoutMs)
{
    addClient();
    m_uploadUrl = s_global->uploadUrl;
}

CloudUploader::CloudUploader(const QUrl& uploadUrl, int timeoutMs) : m_uploadUrl(uploadUrl), m_timeoutMs(timeoutMs)
{
    addClient();
}

CloudUploader::~CloudUploader()
{
    if (m_handle)
        curl_easy_cleanup(static_cast<CURL*>(m_handle));
    removeClient();
}

void CloudUploader::setWhileSending(std::function<void()> whileSending)
{
    m_whileSending = std::move(whileSending);
}

int CloudUploader::clientCount()
{
    return s_clientCount;
}

QUrl CloudUploader::globalUploadUrl()
{
    return s_global ? s_global->uploadUrl : QUrl();
}

int CloudUploader::putFile(const QString& uploadToken, const QString& key, const QString& localPath)
{
    // The part reads the file as the request goes out: a large image is never held in memory whole.
    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly))
        return FileUnreadable;

    if (!m_handle)
        m_handle = curl_easy_init();
    CURL* curl = static_cast<CURL*>(m_handle);
    // Out of memory: the file stays and is sent on a later attempt, which makes the handle again.
    if (!curl) {
        AppLog::write(
            QStringLiteral("upload: no transfer could be set up for %1, kept for a later attempt").arg(localPath));
        return NotStored;
    }
    curl_easy_reset(curl);

    Exchange exchange;
    exchange.file = &file;
    exchange.timeoutMs = m_timeoutMs;
    exchange.whileSending = &m_whileSending;

    curl_mime* form = curl_mime_init(curl);
    const QByteArray token = uploadToken.toUtf8();
    const QByteArray keyBytes = key.toUtf8();
    curl_mimepart* part = curl_mime_addpart(form);
    curl_mime_name(part, "token");
    curl_mime_data(part, token.constData(), size_t(token.size()));
    part = curl_mime_addpart(form);
    curl_mime_name(part, "key");
    curl_mime_data(part, keyBytes.constData(), size_t(keyBytes.size()));
    part = curl_mime_addpart(form);
    curl_mime_name(part, "file");
    curl_mime_filename(part, headerSafe(QFileInfo(localPath).fileName()).constData());
    curl_mime_type(part, "application/octet-stream");
    curl_mime_data_cb(part, curl_off_t(file.size()), readBody, seekBody, nullptr, &exchange);

    const QByteArray url = m_uploadUrl.toEncoded();
    const bool secure = m_uploadUrl.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    QByteArray authorities;
    char reason[CURL_ERROR_SIZE] = {};
    // No "Expect: 100-continue": a store that does not answer it would hold every large form for a second.
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, reason);
    // Qt's network classes use no proxy unless told to: neither does this.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_timeoutMs));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keepAnswer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, watchProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &exchange);
    if (secure) {
        authorities = SecureTransport::trustedAuthoritiesPem();
        curl_blob blob{authorities.data(), size_t(authorities.size()), CURL_BLOB_NOCOPY};
        curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    }

    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_mime_free(form);
    curl_slist_free_all(headers);

    const bool failedSecurely = secure && isTlsFailure(result);
    if (secure) {
        const QString why = QString::fromUtf8(reason[0] ? reason : curl_easy_strerror(result));
        SecureTransport::noteExchange(m_uploadUrl, failedSecurely, status != 0, why);
    }
    if (failedSecurely)
        return SecureConnectionFailed;
    // Whatever status line may have arrived, an exchange that did not complete (refused, closed early, timed out)
    // stored nothing we can rely on: the file counts as not stored and is sent again rather than deleted on a half
    // answer.
    if (result != CURLE_OK || status == 0)
        return NotStored;
    // The form upload answers {"hash":...,"key":...}, or whatever JSON body the upload policy asks for (a custom
    // return body, a callback's answer), which need not name the key. A 200 that is no JSON object (a captive
    // portal's page), names another key or reports an error came from something else and stored nothing.
    if (status == Stored) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(exchange.answer, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return Unconfirmed;
        // The store's own failures say "error".
        const QJsonObject body = document.object();
        const QJsonValue storedKey = body.value(QStringLiteral("key"));
        if (body.contains(QStringLiteral("error")) ||
            (!storedKey.isUndefined() && (!storedKey.isString() || storedKey.toString() != key)))
            return Unconfirmed;
    }
    return int(status);
}
