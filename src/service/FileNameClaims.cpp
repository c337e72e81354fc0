#include "service/FileNameClaims.h"

#include <QSqlQuery>
#include <QVariant>

#include "service/SafeFileName.h"

namespace {

// The URL's own name first, then names derived from the whole URL.
constexpr int kDerivedAttempts = 4;

// The database lives in the task folder: a URL named after it (or its journal) must not replace it.
bool isReserved(const QString& folder, const QString& name)
{
    return folder.isEmpty() && name.startsWith(QLatin1String(TaskDatabase::FileName), Qt::CaseInsensitive);
}

} // namespace

QString FileNameClaims::recorded(const QString& folder, const QString& url) const
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT file_name FROM url_file_names WHERE folder = ? AND url = ?"));
    query.addBindValue(folder);
    query.addBindValue(url);
    if (!exec(query, "reading a file name claim") || !query.next())
        return QString();
    return query.value(0).toString();
}

void FileNameClaims::release(const QString& folderName, const QString& url)
{
    if (!isOpen())
        return;
    QSqlQuery remove(database());
    remove.prepare(QStringLiteral("DELETE FROM url_file_names WHERE folder = ? AND url = ?"));
    remove.addBindValue(folderName.isNull() ? QStringLiteral("") : folderName);
    remove.addBindValue(url);
    exec(remove, "releasing a file name claim");
}

FileNameClaims::Claim FileNameClaims::claim(const QString& folderName, const QString& url)
{
    // A null QString binds as NULL, which the table refuses (and INSERT OR IGNORE would drop silently).
    const QString folder = folderName.isNull() ? QStringLiteral("") : folderName;
    if (!isOpen())
        return Claim{SafeFileName::derivedName(url), false};
    const QString known = recorded(folder, url);
    if (!known.isEmpty())
        return Claim{known, false};

    for (int attempt = -1; attempt < kDerivedAttempts; ++attempt) {
        const QString candidate = attempt < 0 ? SafeFileName::fromUrl(url) : SafeFileName::derivedName(url, attempt);
        if (isReserved(folder, candidate))
            continue;
        QSqlQuery insert(database());
        // Ignored when the name is taken in this folder by another URL.
        insert.prepare(
            QStringLiteral("INSERT OR IGNORE INTO url_file_names (folder, url, file_name) VALUES (?, ?, ?)"));
        insert.addBindValue(folder);
        insert.addBindValue(url);
        insert.addBindValue(candidate);
        if (!exec(insert, "recording a file name claim"))
            break;
        if (insert.numRowsAffected() == 1)
            return Claim{candidate, true};
    }
    // Another connection may have recorded this URL meanwhile.
    const QString late = recorded(folder, url);
    return Claim{late.isEmpty() ? SafeFileName::derivedName(url) : late, false};
}
