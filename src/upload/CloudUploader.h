#pragma once

#include <QString>
#include <QUrl>

#include "upload/UploadInterfaces.h"

// Our stand-in for the object store's SDK: puts a local file into the store with an upload token and an object key,
// using the store's form upload (multipart POST of "token", "key" and "file"), and returns the store's code.
//
// Like the SDK it sends with libcurl, on the calling thread: Qt's HTTP client runs every request on a thread of its
// own and hands an upload's body over to it in 16 KB pieces, two thread switches each, which cost more processor
// time than everything else the worker does for an image. The trust is Qt's (SecureTransport), handed to curl as
// PEM text, so both transports verify certificates against the same authorities.
//
// It keeps the SDK's life cycle: the first client sets up the process-wide state (the upload host and curl's global
// state), every client counts itself, and the last one to go tears the process-wide state down. One client per
// worker; the connection to the store is kept open from one upload to the next.
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

    // Blocks the calling thread until the store answers. Returns the HTTP status,
    // NotStored on a network error or timeout, FileUnreadable when the file cannot be opened,
    // Unconfirmed for a 200 whose body does not name the key, SecureConnectionFailed when the
    // store's certificate was refused (nothing was sent).
    int putFile(const QString& uploadToken, const QString& key, const QString& localPath) override;

    void setWhileSending(std::function<void()> whileSending) override;

    static int clientCount();
    static QUrl globalUploadUrl();

private:
    QUrl m_uploadUrl;
    int m_timeoutMs;
    std::function<void()> m_whileSending;
    // curl's handle (a CURL*), made on the first upload; it holds the kept-alive connection.
    void* m_handle = nullptr;
};
