#include "core/AppLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QUrl>

#include "core/LaunchContext.h"
#include "core/Settings.h"

namespace {

// A log entry is one line of text: control bytes (a NUL, a line end) are written as "%XX".
QByteArray escapeControlBytes(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text) {
        const uchar byte = uchar(c);
        if (byte < 0x20 || byte == 0x7f)
            out.append('%').append(QByteArray::number(byte, 16).rightJustified(2, '0').toUpper());
        else
            out.append(c);
    }
    return out;
}

// The password of every "scheme://user:password@" in the text becomes "***". Scanned by hand for the reason given
// in redactToken().
QString redactUrlPasswords(const QString& text)
{
    const auto endsAuthority = [](QChar c) {
        const ushort u = c.unicode();
        return u == '/' || u == '?' || u == '#' || u == ' ' || u == '"' || u == '\'' || (u >= '\t' && u <= '\r');
    };
    QString out;
    out.reserve(text.size());
    int from = 0;
    // The next search starts one back: in "a://http://u:pw@h" the first authority ends on the second URL's ":".
    for (int scheme = text.indexOf(QLatin1String("://")); scheme >= 0;
         scheme = text.indexOf(QLatin1String("://"), from - 1)) {
        const int start = scheme + 3;
        int end = start;
        while (end < text.size() && !endsAuthority(text.at(end)))
            ++end;
        // The last "@" ends the user information: a password may hold an "@" of its own.
        const int at = text.lastIndexOf(QLatin1Char('@'), end - 1);
        const int colon = at >= start ? text.indexOf(QLatin1Char(':'), start) : -1;
        out.append(QStringView(text).mid(from, start - from));
        if (colon >= 0 && colon < at) {
            out.append(QStringView(text).mid(start, colon + 1 - start));
            out.append(QLatin1String("***"));
            out.append(QStringView(text).mid(at, end - at));
        } else {
            out.append(QStringView(text).mid(start, end - start));
        }
        from = end;
    }
    out.append(QStringView(text).mid(from));
    return out;
}

constexpr int kShortestHiddenToken = 8;

// Both threads write; the size check and the renames of a rotation must not interleave with another entry.
QMutex s_mutex;
// Read by both threads under s_mutex.
QString s_token;

void rotate(const QString& path)
{
    const auto old = [&path](int n) -> QString { return path + QLatin1Char('.') + QString::number(n); };
    QFile::remove(old(AppLog::KeptOldFiles));
    for (int n = AppLog::KeptOldFiles - 1; n >= 1; --n)
        QFile::rename(old(n), old(n + 1));
    QFile::rename(path, old(1));
}

// Each entry on one line, so every line of the file starts with its time stamp: a request's body or an indented
// reply is joined to the entry's first line with " | ", each continuation line without its indentation.
QString oneLine(const QString& text)
{
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = unified.split(QLatin1Char('\n'));
    while (lines.size() > 1 && lines.last().trimmed().isEmpty())
        lines.removeLast();
    for (int i = 1; i < lines.size(); ++i)
        lines[i] = lines[i].trimmed();
    lines.removeAll(QString());
    return lines.join(QStringLiteral(" | "));
}

} // namespace

namespace AppLog {

void write(const QString& text)
{
    const QString path = Settings::logFile();
    if (path.isEmpty())
        return;
    QByteArray entry = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toLatin1() + ' ' +
                       redact(oneLine(text)).toLocal8Bit() + '\n';

    const QMutexLocker lock(&s_mutex);
    QFile file(path);
    // The folder is made only when the file cannot be opened: the worker writes a few entries per image.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
    }
    if (file.size() > 0 && file.size() + entry.size() > RotateBytes) {
        file.close();
        rotate(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
    }
    file.write(entry);
    file.close();
}

void setToken(const QString& token)
{
    const QMutexLocker lock(&s_mutex);
    s_token = token;
}

QString redact(const QString& text)
{
    QString out = redactUrlPasswords(redactToken(text));
    QString token;
    {
        const QMutexLocker lock(&s_mutex);
        token = s_token;
    }
    if (token.size() >= kShortestHiddenToken) {
        out.replace(token, QLatin1String("***"));
        // As it stands in a URL's query or a form.
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(token));
        if (encoded != token)
            out.replace(encoded, QLatin1String("***"));
    }
    return out;
}

QString redactToken(const QString& text)
{
    // "token=" as a parameter name: at the start or after "&" / "?", its value running up to the next "&" or ASCII
    // white space. Scanned by hand rather than with a pattern: a pattern refuses text that is not valid UTF-16 (a
    // lone surrogate) and would then let the whole text through unredacted.
    const QLatin1String key("token=");
    const auto endsValue = [](QChar c) {
        const ushort u = c.unicode();
        return u == '&' || u == ' ' || (u >= '\t' && u <= '\r');
    };
    QString out;
    out.reserve(text.size());
    int i = 0;
    while (i < text.size()) {
        const bool parameterStart = i == 0 || text.at(i - 1) == QLatin1Char('&') || text.at(i - 1) == QLatin1Char('?');
        if (!parameterStart || !QStringView(text).mid(i).startsWith(key)) {
            out.append(text.at(i));
            ++i;
            continue;
        }
        out.append(QLatin1String("token=***"));
        i += key.size();
        while (i < text.size() && !endsValue(text.at(i)))
            ++i;
    }
    return out;
}

QByteArray redactToken(const QByteArray& text)
{
    // Byte for byte: Latin-1 maps every byte to one character and back.
    return redactToken(QString::fromLatin1(text)).toLatin1();
}

QString redactLaunchArgument(const QByteArray& argument)
{
    // The token is the second "_"-separated piece. Redact it even in arguments too short for the parser to take
    // it: a malformed argument may still carry a real token. An argument that is not percent-encoded is logged as
    // received apart from the token; an encoded one is logged decoded, since its "_" may be encoded too.
    const bool encoded = argument.contains('%');
    const QByteArray text = encoded ? LaunchContext::percentDecode(argument) : argument;
    QList<QByteArray> pieces = text.split('_');
    if (pieces.size() >= 2)
        pieces[1] = "***";
    const QByteArray line = escapeControlBytes(pieces.join('_'));
    return encoded ? QString::fromUtf8(line) : QString::fromLocal8Bit(line);
}

} // namespace AppLog
