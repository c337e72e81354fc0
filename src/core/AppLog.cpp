#include "core/AppLog.h"

#include "core/LaunchContext.h"
#include "core/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace AppLog {

void append(const QByteArray& bytes)
{
    const QString path = Settings::logFile();
    if (path.isEmpty())
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(bytes);
    file.close();
}

QString redactToken(const QString& text)
{
    // "token=" as a parameter name: at the start or after "&" / "?", value up to the next "&" or white space.
    static const QRegularExpression pattern(QStringLiteral("(^|[&?])token=[^&\\s]*"));
    QString out = text;
    out.replace(pattern, QStringLiteral("\\1token=***"));
    return out;
}

QByteArray redactToken(const QByteArray& text)
{
    return redactToken(QString::fromLocal8Bit(text)).toLocal8Bit();
}

QByteArray redactLaunchArgument(const QByteArray& argument)
{
    // The token is the second "_"-separated piece. Redact it even in arguments too short for the parser to take
    // it: a malformed argument may still carry a real token. An argument that is not percent-encoded is logged as
    // received apart from the token; an encoded one is logged decoded, since its "_" may be encoded too.
    const QByteArray text = argument.contains('%') ? LaunchContext::percentDecode(argument) : argument;
    QList<QByteArray> pieces = text.split('_');
    if (pieces.size() < 2)
        return text;
    pieces[1] = "***";
    return pieces.join('_');
}

} // namespace AppLog
