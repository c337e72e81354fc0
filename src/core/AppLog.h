#pragma once

#include <QByteArray>
#include <QString>

// The plain-text log: appended to for each entry, no levels, no time stamps. An entry that cannot be written is
// lost and nothing else changes.
namespace AppLog {

// Append raw bytes to the log file (Settings::logFile()); creates the folder when missing.
void append(const QByteArray& bytes);

// The teacher's access token must never reach the log: the value of every "token=" parameter becomes "***".
QString redactToken(const QString& text);
QByteArray redactToken(const QByteArray& text);

// A launch argument carries the token as its second "_"-separated piece (after percent-decoding).
QByteArray redactLaunchArgument(const QByteArray& argument);

} // namespace AppLog
