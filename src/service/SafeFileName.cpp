#include "service/SafeFileName.h"

#include <QRegularExpression>

#include "service/MD5.h"

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
    // Windows opens a device for these names whatever extension follows, and drops spaces before the dot
    // ("nul  .png"); it counts the superscript digits as digits ("COM¹"). Anchored at the very end: "$" alone
    // also matches before a final line end.
    static const QRegularExpression devices(
        QRegularExpression::anchoredPattern(
            QStringLiteral("(con|prn|aux|nul|conin\\$|conout\\$|(com|lpt)[0-9\u00b9\u00b2\u00b3]) *(\\..*)?")),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    return devices.match(name).hasMatch();
}

} // namespace

namespace SafeFileName {

bool isPlain(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.size() > 200)
        return false;
    // A lone surrogate has no spelling on disk, and the patterns below refuse to look at such a text.
    if (!QStringView(name).isValidUtf16())
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
    // Anchored at the very end: with "$" a URL ending in a line end kept the line end in the extension.
    static const QRegularExpression extensionPattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9]{1,8}")));
    QString extension;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && extensionPattern.match(name.mid(dot + 1)).hasMatch())
        extension = name.mid(dot);
    const QString source = attempt == 0 ? url : url + QLatin1Char('\n') + QString::number(attempt);
    return hexDigest(source) + extension;
}

} // namespace SafeFileName
