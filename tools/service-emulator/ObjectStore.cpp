#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include "AnswerSheetImage.h"
#include "EmulatorPrivate.h"

using namespace EmulatorDetail;

namespace EmulatorDetail {

// The store's content hash of a stored object, as the form upload's reply names it.
QString objectHash(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return QString::fromLatin1(hash.result().toBase64(QByteArray::Base64UrlEncoding));
}

QByteArray contentTypeFor(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return "image/jpeg";
    if (suffix == QLatin1String("png"))
        return "image/png";
    if (suffix == QLatin1String("bmp"))
        return "image/bmp";
    return "application/octet-stream";
}

// Object keys become paths under the storage folder: refuse anything that could leave it.
bool isSafeKey(const QString& key)
{
    if (key.isEmpty() || key.startsWith(QLatin1Char('/')) || key.contains(QLatin1Char('\\')) ||
        key.contains(QLatin1Char(':')))
        return false;
    for (const QString& segment : key.split(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return false;
    }
    return true;
}

} // namespace EmulatorDetail

QString ServiceEmulator::Private::storeIncoming(const QString& key, const QString& incomingPath)
{
    const QString target = storage + QStringLiteral("/objects/") + key;
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    if (!QFile::rename(incomingPath, target))
        return QString();
    return target;
}

void ServiceEmulator::Private::handleUpload(const httplib::Request& req, httplib::Response& res,
                                            const httplib::ContentReader& reader)
{
    RequestRecord record = makeRecord(Endpoint::Upload, req, nullptr);
    UploadRecord upload;
    upload.contentType = bytes(req.get_header_value("Content-Type"));

    QString incomingPath;
    {
        std::lock_guard<std::mutex> lock(mutex);
        incomingPath = storage + QStringLiteral("/incoming/%1.part").arg(++incomingSerial);
    }
    QDir().mkpath(storage + QStringLiteral("/incoming"));
    QFile incoming(incomingPath);
    bool fileSeen = false;
    bool writing = false;
    QByteArray value;
    QMap<QString, QByteArray> fields;
    auto finishPart = [&] {
        if (writing)
            incoming.close();
        else if (!upload.parts.isEmpty() && !fields.contains(upload.parts.last().name))
            fields.insert(upload.parts.last().name, value);
        writing = false;
        value.clear();
    };

    int status = 200;
    QByteArray reply;
    if (req.is_multipart_form_data()) {
        reader(
            [&](const httplib::MultipartFormData& part) {
                finishPart();
                UploadPart p;
                p.name = QString::fromStdString(part.name);
                p.fileName = QString::fromStdString(part.filename);
                p.contentType = QString::fromStdString(part.content_type);
                upload.parts.append(p);
                // Only the first "file" part becomes the object; the store ignores later ones.
                if (p.name == QLatin1String("file") && !fileSeen) {
                    fileSeen = true;
                    upload.fileName = p.fileName;
                    writing = incoming.open(QIODevice::WriteOnly | QIODevice::Truncate);
                }
                return true;
            },
            [&](const char* data, size_t length) {
                if (!upload.parts.isEmpty())
                    upload.parts.last().size += qint64(length);
                if (writing)
                    incoming.write(data, qint64(length));
                else if (value.size() < 65536)
                    value.append(data, int(length));
                return true;
            });
        finishPart();
        upload.token = QString::fromUtf8(fields.value(QStringLiteral("token")));
        upload.key = QString::fromUtf8(fields.value(QStringLiteral("key")));
    } else {
        reader([](const char*, size_t) { return true; });
        status = 400;
        reply = R"({"error":"multipart/form-data expected"})";
    }

    const QList<Fault> list = takeFaults(Endpoint::Upload);
    if (!applyTiming(list, res, record)) {
        QFile::remove(incomingPath);
        std::lock_guard<std::mutex> lock(mutex);
        uploads.append(upload);
        return;
    }
    int forced = 0;
    bool portal = false;
    for (const Fault& f : list) {
        if (f.kind == Fault::UploadStatus || f.kind == Fault::HttpStatus)
            forced = f.value;
        else if (f.kind == Fault::NonJson)
            portal = true;
    }

    QByteArray replyType = kJsonType;
    if (status == 200) {
        std::lock_guard<std::mutex> lock(mutex);
        if (portal) {
            // A captive portal's login page: 200 (or the forced status), HTML, nothing stored.
            status = forced != 0 ? forced : 200;
            reply = "<html><body>please log in to the network</body></html>";
            replyType = "text/html";
        } else if (forced != 0) {
            status = forced;
            reply = R"({"error":"injected failure"})";
        } else if (!fileSeen) {
            status = 400;
            reply = R"({"error":"file is required"})";
        } else if (!options.refusedFileName.isEmpty() && upload.fileName == options.refusedFileName) {
            // A file the store will never take, whatever the key or the token.
            status = 413;
            reply = R"({"error":"request entity too large"})";
        } else if (!validUploadTokens.contains(upload.token)) {
            status = 401;
            reply = R"({"error":"bad token"})";
        } else if (!isSafeKey(upload.key)) {
            status = 400;
            reply = R"({"error":"invalid key"})";
        } else if (objects.contains(upload.key)) {
            status = 614;
            reply = R"({"error":"file exists"})";
        } else {
            const QString path = storeIncoming(upload.key, incomingPath);
            if (path.isEmpty()) {
                status = 500;
                reply = R"({"error":"storage failure"})";
            } else {
                objects.insert(upload.key, path);
                keys.append(upload.key);
                // A canned body stands for the upload policy's own return body.
                if (canned.contains(Endpoint::Upload) && !canned.value(Endpoint::Upload).isData)
                    reply = canned.value(Endpoint::Upload).body;
                else
                    reply = compactJson(
                        QJsonObject{{QStringLiteral("hash"), objectHash(path)}, {QStringLiteral("key"), upload.key}});
            }
        }
    }
    if (status != 200)
        QFile::remove(incomingPath);
    upload.status = status;
    record.status = status;
    res.status = status;
    res.set_content(stdString(reply), replyType.constData());
    std::lock_guard<std::mutex> lock(mutex);
    uploads.append(upload);
    log.append(record);
}

void ServiceEmulator::Private::handleFile(const httplib::Request& req, httplib::Response& res)
{
    const QString path = QString::fromStdString(req.path);
    RequestRecord record = makeRecord(Endpoint::Files, req, nullptr);
    QByteArray body;
    QByteArray contentType;
    bool found = false;
    QString thumbnailSource;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const QString filesPrefix = QStringLiteral("/files/");
        const QString thumbsPrefix = QStringLiteral("/thumbs/");
        if (statics.contains(path)) {
            body = statics.value(path).bytes;
            contentType = statics.value(path).contentType;
            found = true;
        } else if (path.startsWith(filesPrefix) && objects.contains(path.mid(filesPrefix.size()))) {
            QFile file(objects.value(path.mid(filesPrefix.size())));
            found = file.open(QIODevice::ReadOnly);
            body = file.readAll();
            contentType = contentTypeFor(path);
        } else if (path.startsWith(thumbsPrefix) && path.endsWith(QLatin1String("_thumb.jpg"))) {
            contentType = "image/jpeg";
            if (thumbnails.contains(path)) {
                body = thumbnails.value(path);
                found = true;
            } else {
                const QStringList parts = path.mid(thumbsPrefix.size()).split(QLatin1Char('/'));
                if (parts.size() == 2 && tasks.count(parts.at(0))) {
                    const QString studentId = parts.at(1).chopped(int(strlen("_thumb.jpg")));
                    const QString pageUrl = tasks.at(parts.at(0))->firstPageUrl(studentId);
                    const QString domain = domainLocked();
                    if (!pageUrl.isEmpty()) {
                        found = true;
                        if (pageUrl.startsWith(domain))
                            thumbnailSource = objects.value(pageUrl.mid(domain.size()));
                    }
                }
            }
        }
    }
    if (found && body.isEmpty() && contentType == "image/jpeg" && path.startsWith(QLatin1String("/thumbs/"))) {
        // Scaling takes a few milliseconds: done outside the lock, then kept.
        QFile source(thumbnailSource);
        const QByteArray original = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
        body = AnswerSheetImage::thumbnail(original);
        std::lock_guard<std::mutex> lock(mutex);
        thumbnails.insert(path, body);
    }
    if (!found)
        record.endpoint = Endpoint::Other;

    const QList<Fault> list = takeFaults(record.endpoint);
    if (!applyTiming(list, res, record))
        return;
    int status = found ? 200 : 404;
    if (!found) {
        body = "not found";
        contentType = "text/plain";
    }
    for (const Fault& f : list) {
        if (f.kind == Fault::HttpStatus)
            status = f.value;
        else if (f.kind == Fault::EmptyBody)
            body.clear();
    }
    res.status = status;
    res.set_content(stdString(body), contentType.constData());
    record.status = status;
    appendLog(record);
}
