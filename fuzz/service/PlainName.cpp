#include "PlainName.h"

#include <QString>
#include <QStringList>

namespace {

// The stem Windows looks at: up to the first dot, without the spaces before it, superscript digits as digits.
QString windowsStem(const QString& name)
{
    QString stem = name.section(QLatin1Char('.'), 0, 0);
    while (stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    for (QChar& c : stem) {
        const ushort u = c.unicode();
        if (u == 0xb9)
            c = QLatin1Char('1');
        else if (u == 0xb2 || u == 0xb3)
            c = QChar(u - 0xb2 + '2');
        else if (u >= 'A' && u <= 'Z')
            c = QChar(u + ('a' - 'A'));
    }
    return stem;
}

bool isDevice(const QString& stem)
{
    static const QStringList fixed = {QStringLiteral("con"), QStringLiteral("prn"),    QStringLiteral("aux"),
                                      QStringLiteral("nul"), QStringLiteral("conin$"), QStringLiteral("conout$")};
    const bool numbered =
        stem.size() == 4 && (stem.startsWith(QLatin1String("com")) || stem.startsWith(QLatin1String("lpt")));
    return fixed.contains(stem) || (numbered && stem.at(3) >= QLatin1Char('1') && stem.at(3) <= QLatin1Char('9'));
}

} // namespace

namespace PlainName {

bool staysInFolder(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (int i = 0; i < name.size(); ++i) {
        const ushort u = name.at(i).unicode();
        if (u < 0x20 || u == 0x7f || u == '/' || u == '\\' || u == ':')
            return false;
        // Every surrogate must be half of a pair.
        if (QChar::isHighSurrogate(u) && !(i + 1 < name.size() && name.at(i + 1).isLowSurrogate()))
            return false;
        if (QChar::isLowSurrogate(u) && !(i > 0 && name.at(i - 1).isHighSurrogate()))
            return false;
    }
    // Windows drops trailing dots and spaces: "... " would become "..".
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return false;
    return !isDevice(windowsStem(name));
}

} // namespace PlainName
