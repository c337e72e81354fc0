#include "service/RequestSigning.h"

#include "core/Clock.h"
#include "service/MD5.h"

namespace RequestSigning {

const char SIGNATURE_KEY[] = "7.3.2DesktopKorvex";

qint64 currentMSecs()
{
    return Clock::current().currentMSecsSinceEpoch();
}

QString signature(const QString& t, const QString& uid)
{
    const QByteArray bytes = (QLatin1String(SIGNATURE_KEY) + t + uid).toLocal8Bit();
    MD5 md5;
    md5.update(bytes.constData(), size_t(bytes.size()));
    return QString::fromStdString(md5.toString());
}

QString commonQuery(const QString& uid, const QString& token, const QString& t)
{
    return QStringLiteral("userType=1&uid=") + uid + QStringLiteral("&v=5.1.0&f=windows&t=") + t +
           QStringLiteral("&token=") + token + QStringLiteral("&s=") + signature(t, uid);
}

QString tokenText(const QString& uid, const QString& token, const QString& t)
{
    return commonQuery(uid, token, t);
}

QString analyseText(const QString& uid, const QString& token, const QString& taskId, const QString& imageUrl,
                    const QString& t)
{
    return commonQuery(uid, token, t) + QStringLiteral("&taskId=") + taskId + QStringLiteral("&imageUrl=") + imageUrl +
           QStringLiteral("&ts=") + t;
}

QString taskText(const QString& uid, const QString& token, const QString& taskId, const QString& t)
{
    return QStringLiteral("taskId=") + taskId + QLatin1Char('&') + commonQuery(uid, token, t);
}

QString answerInfoText(const QString& uid, const QString& token, const QString& taskId, const QString& studentId,
                       const QString& t)
{
    return QStringLiteral("taskId=") + taskId + QStringLiteral("&studentId=") + studentId + QLatin1Char('&') +
           commonQuery(uid, token, t);
}

} // namespace RequestSigning
