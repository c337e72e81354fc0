#include "upload/UploadLedger.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include "core/AppLog.h"
#include "upload/ImageDigest.h"

namespace {

// An image is known by its name, size and modification time: the three values every statement about it binds, in
// this order.
void bindIdentity(QSqlQuery& query, const UploadLedger::Identity& image)
{
    query.addBindValue(image.name);
    query.addBindValue(image.size);
    query.addBindValue(image.modifiedMs);
}

} // namespace

bool UploadLedger::openForTask(const TaskFolders& folders)
{
    const QString path = folders.databasePath();
    if (!path.isEmpty() && open(path))
        return true;
    AppLog::write(QStringLiteral("upload ledger: kept in memory for this run"));
    return open(QStringLiteral(":memory:"));
}

QString UploadLedger::digestOf(const QString& path)
{
    return ImageDigest::ofFile(path);
}

UploadLedger::Entry UploadLedger::find(const Identity& image) const
{
    Entry entry;
    QSqlQuery& query = prepared(QStringLiteral("SELECT state, object_key, digest, attempts, refused, refusals FROM "
                                               "upload_image WHERE name = ? AND size = ? AND modified_ms = ?"));
    bindIdentity(query, image);
    if (exec(query, "find image") && query.next()) {
        entry.state = State(query.value(0).toInt());
        entry.key = query.value(1).toString();
        entry.digest = query.value(2).toString();
        entry.attempts = query.value(3).toInt();
        entry.refusedReason = query.value(4).toString();
        entry.refusals = query.value(5).toInt();
    }
    query.finish();
    return entry;
}

bool UploadLedger::recordSending(const Identity& image, const QString& key, qint64 keyMs, const QString& digest)
{
    QSqlQuery& query = prepared(QStringLiteral(
        "INSERT INTO upload_image (name, size, modified_ms, object_key, key_ms, state, digest, attempts, refused) "
        "VALUES (?, ?, ?, ?, ?, 0, ?, 0, '') ON CONFLICT (name, size, modified_ms) DO UPDATE SET "
        "object_key = excluded.object_key, key_ms = excluded.key_ms, state = 0, digest = excluded.digest, "
        "attempts = 0, refused = '', refusals = 0"));
    bindIdentity(query, image);
    query.addBindValue(key);
    query.addBindValue(keyMs);
    // A null text would be bound as NULL: no digest is the empty one.
    query.addBindValue(digest.isNull() ? QStringLiteral("") : digest);
    return exec(query, "record sending");
}

void UploadLedger::countOneMore(const Identity& image, const QString& column, const char* what)
{
    QSqlQuery query(database());
    // The column is one of this class's own names, never the caller's text.
    query.prepare(QStringLiteral("UPDATE upload_image SET %1 = %1 + 1 WHERE name = ? AND size = ? AND modified_ms = ?")
                      .arg(column));
    bindIdentity(query, image);
    exec(query, what);
}

int UploadLedger::countAttempt(const Identity& image)
{
    countOneMore(image, QStringLiteral("attempts"), "count attempt");
    return find(image).attempts;
}

int UploadLedger::countRefusal(const Identity& image)
{
    countOneMore(image, QStringLiteral("refusals"), "count refusal");
    return find(image).refusals;
}

bool UploadLedger::markRefused(const Identity& image, const QString& reason)
{
    QSqlQuery query(database());
    query.prepare(
        QStringLiteral("INSERT INTO upload_image (name, size, modified_ms, object_key, key_ms, state, refused) "
                       "VALUES (?, ?, ?, '', 0, -1, ?) ON CONFLICT (name, size, modified_ms) DO UPDATE SET refused = "
                       "excluded.refused"));
    bindIdentity(query, image);
    query.addBindValue(reason);
    return exec(query, "mark refused");
}

bool UploadLedger::clearRefusal(const Identity& image)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("UPDATE upload_image SET refused = '', attempts = 0, refusals = 0 WHERE name = ? AND "
                                 "size = ? AND modified_ms = ?"));
    bindIdentity(query, image);
    return exec(query, "clear refusal");
}

bool UploadLedger::setOwner(const QString& uid)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO meta (name, value) VALUES ('uid', ?)"));
    query.addBindValue(uid);
    return exec(query, "set owner");
}

QString UploadLedger::owner() const
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT value FROM meta WHERE name = 'uid'"));
    if (exec(query, "owner") && query.next())
        return query.value(0).toString();
    return QString();
}

bool UploadLedger::markStored(const Identity& image)
{
    return setState(image, State::Stored);
}

bool UploadLedger::markAnnounced(const Identity& image)
{
    // One statement: each image makes several steps, and each step is a transaction of its own.
    QSqlQuery& query = prepared(QStringLiteral("UPDATE upload_image SET state = ?, refused = '', attempts = 0, "
                                               "refusals = 0 WHERE name = ? AND size = ? AND modified_ms = ?"));
    query.addBindValue(int(State::Announced));
    bindIdentity(query, image);
    return exec(query, "mark announced");
}

bool UploadLedger::markDeleted(const Identity& image)
{
    return setState(image, State::Deleted);
}

bool UploadLedger::setState(const Identity& image, State state)
{
    QSqlQuery& query =
        prepared(QStringLiteral("UPDATE upload_image SET state = ? WHERE name = ? AND size = ? AND modified_ms = ?"));
    query.addBindValue(int(state));
    bindIdentity(query, image);
    return exec(query, "set image state");
}

qint64 UploadLedger::highestKeyMs() const
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT max(key_ms) FROM upload_image"));
    if (exec(query, "highest key") && query.next())
        return query.value(0).toLongLong();
    return 0;
}

QString UploadLedger::signatureOf(const Identity& image)
{
    return image.name + QLatin1Char('\n') + QString::number(image.size) + QLatin1Char('\n') +
           QString::number(image.modifiedMs);
}

QHash<QString, UploadLedger::Entry> UploadLedger::unfinished() const
{
    QHash<QString, Entry> entries;
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT name, size, modified_ms, state, attempts, refused, refusals FROM upload_image "
                                 "WHERE state IN (?, ?) OR attempts > 0 OR refusals > 0 OR refused <> ''"));
    query.addBindValue(int(State::Stored));
    query.addBindValue(int(State::Announced));
    if (!exec(query, "unfinished images"))
        return entries;
    while (query.next()) {
        const Identity image{query.value(0).toString(), query.value(1).toLongLong(), query.value(2).toLongLong()};
        Entry entry;
        entry.state = State(query.value(3).toInt());
        entry.attempts = query.value(4).toInt();
        entry.refusedReason = query.value(5).toString();
        entry.refusals = query.value(6).toInt();
        entries.insert(signatureOf(image), entry);
    }
    return entries;
}
