#pragma once

#include <memory>

#include <QString>
#include <QUrl>

#include "upload/UploadInterfaces.h"

class QNetworkAccessManager;

// Our stand-in for the object store's SDK: puts a local file into the store with an upload token and an object key,
// using the store's form upload (multipart POST of "token", "key" and "file"), and returns the store's code.
//
// It keeps the SDK's life cycle: the first client sets up the process-wide state (the upload host), every client
// counts itself, and the last one to go tears the process-wide state down. One client per worker.
class CloudUploader : public Uploader
{
public:
    // A transfer that makes no progress for this long is abandoned and counts as "not stored".
    static constexpr int DefaultTimeoutMs = 60000;

    // Uploads to the process-wide upload host (Settings::uploadHost() when the first client was created).
    explicit CloudUploader(int timeoutMs = DefaultTimeoutMs);
    // Uploads to the given form-upload URL instead.
    explicit CloudUploader(const QUrl& uploadUrl, int timeoutMs = DefaultTimeoutMs);
    // Must run on the thread that made the uploads, or after that thread has finished.
    ~CloudUploader() override;

    CloudUploader(const CloudUploader&) = delete;
    CloudUploader& operator=(const CloudUploader&) = delete;

    // Blocks the calling thread (spinning a local event loop) until the store answers. Returns the HTTP status,
    // NotStored on a network error or timeout, FileUnreadable when the file cannot be opened,
    // Unconfirmed for a 200 whose body does not name the key, SecureConnectionFailed when the
    // store's certificate was refused (nothing was sent).
    int putFile(const QString& uploadToken, const QString& key, const QString& localPath) override;

    static int clientCount();
    static QUrl globalUploadUrl();

private:
    QNetworkAccessManager* manager();

    QUrl m_uploadUrl;
    int m_timeoutMs;
    // Created on the thread of the first upload: a manager serves only the thread it lives in.
    std::unique_ptr<QNetworkAccessManager> m_manager;
};
