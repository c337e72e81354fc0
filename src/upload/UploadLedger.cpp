#include "upload/UploadLedger.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include "core/AppLog.h"

bool UploadLedger::openForTask(const QString& taskId)
{
    if (open(pathForTask(taskId)))
        return true;
    AppLog::append(QByteArrayLiteral("upload ledger: kept in memory for this run\n"));
    return open(QStringLiteral(":memory:"));
}

UploadLedger::Entry UploadLedger::find(const Identity& image) const
{
    Entry entry;
    QSqlQuery query(database());
    query.prepare(
        QStringLiteral("SELECT state, object_key FROM upload_image WHERE name = ? AND size = ? AND modified_ms = ?"));
    query.addBindValue(image.name);
    query.addBindValue(image.size);
    query.addBindValue(image.modifiedMs);
    if (exec(query, "find image") && query.next()) {
        entry.state = State(query.value(0).toInt());
        entry.key = query.value(1).toString();
    }
    return entry;
}

bool UploadLedger::recordSending(const Identity& image, const QString& key, qint64 keyMs)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("INSERT INTO upload_image (name, size, modified_ms, object_key, key_ms, state) "
                                 "VALUES (?, ?, ?, ?, ?, 0) ON CONFLICT (name, size, modified_ms) DO UPDATE SET "
                                 "object_key = excluded.object_key, key_ms = excluded.key_ms, state = 0"));
    query.addBindValue(image.name);
    query.addBindValue(image.size);
    query.addBindValue(image.modifiedMs);
    query.addBindValue(key);
    query.addBindValue(keyMs);
    return exec(query, "record sending");
}

bool UploadLedger::markStored(const Identity& image)
{
    return setState(image, State::Stored);
}

bool UploadLedger::markAnnounced(const Identity& image)
{
    return setState(image, State::Announced);
}

bool UploadLedger::markDeleted(const Identity& image)
{
    return setState(image, State::Deleted);
}

bool UploadLedger::setState(const Identity& image, State state)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("UPDATE upload_image SET state = ? WHERE name = ? AND size = ? AND modified_ms = ?"));
    query.addBindValue(int(state));
    query.addBindValue(image.name);
    query.addBindValue(image.size);
    query.addBindValue(image.modifiedMs);
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

QHash<QString, UploadLedger::State> UploadLedger::unfinished() const
{
    QHash<QString, State> states;
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT name, size, modified_ms, state FROM upload_image WHERE state IN (?, ?)"));
    query.addBindValue(int(State::Stored));
    query.addBindValue(int(State::Announced));
    if (!exec(query, "unfinished images"))
        return states;
    while (query.next()) {
        const Identity image{query.value(0).toString(), query.value(1).toLongLong(), query.value(2).toLongLong()};
        states.insert(signatureOf(image), State(query.value(3).toInt()));
    }
    return states;
}
