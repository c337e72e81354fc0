#include "service/SafeFileName.h"

#include "service/MD5.h"

#include <QRegularExpression>

namespace {

QString hexDigest(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    MD5 md5;
    md5.update(bytes.constData(), size_t(bytes.size()));
    return QString::fromStdString(md5.toString());
}

bool isDeviceName(const QString& name)
{
    // Windows opens a device for these names whatever extension follows.
    static const QRegularExpression devices(QStringLiteral("^(con|prn|aux|nul|com[0-9]|lpt[0-9])(\\..*)?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return devices.match(name).hasMatch();
}

} // namespace

namespace SafeFileName {

bool isPlain(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.size() > 200)
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
        if (QStringLiteral("\\/:*?\"<>|").contains(c))
            return false;
    }
    // Windows drops trailing dots and spaces, which could turn "..." into "..".
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return false;
    return !isDeviceName(name);
}

QString fromUrl(const QString& url)
{
    const QString path = url.section(QLatin1Char('?'), 0, 0);
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (isPlain(name))
        return name;
    return derivedName(url);
}

QString folderName(const QString& value)
{
    return isPlain(value) ? value : hexDigest(value);
}

QString derivedName(const QString& url, int attempt)
{
    const QString path = url.section(QLatin1Char('?'), 0, 0);
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    static const QRegularExpression extensionPattern(QStringLiteral("^[A-Za-z0-9]{1,8}$"));
    QString extension;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && extensionPattern.match(name.mid(dot + 1)).hasMatch())
        extension = name.mid(dot);
    const QString source = attempt == 0 ? url : url + QLatin1Char('\n') + QString::number(attempt);
    return hexDigest(source) + extension;
}

} // namespace SafeFileName
