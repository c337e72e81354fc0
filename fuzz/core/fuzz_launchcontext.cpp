#include <QStringList>

#include "FuzzSupport.h"
#include "core/LaunchContext.h"

// Parsing loses nothing but what the format drops: for an argument that decodes to valid UTF-8 in the full form
// (leading text + "//" + taskId + "_" + token + "_" + uid + "_" + title), the four values put back together give
// the decoded text without the "_" inside the title; an argument whose task id or uid could not serve as a plain
// folder name gives nothing at all. Decoding never makes a NUL byte.
namespace {

bool namesAFolderSafely(const QString& value)
{
    if (value == QLatin1String(".") || value == QLatin1String("..") || value.size() > 128)
        return false;
    for (const QChar c : value) {
        if (c < QLatin1Char(' ') || c == QChar(0x7f) || QStringLiteral("/\\:").contains(c))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray argument = FuzzSupport::bytes(data, size);
    const LaunchContext context = LaunchContext::parse(argument);
    const QByteArray decoded = LaunchContext::percentDecode(argument);

    FUZZ_CHECK(decoded.count('\0') <= argument.count('\0'));
    FUZZ_CHECK(decoded.size() <= argument.size());
    FUZZ_CHECK(!context.taskId.contains(QLatin1Char('_')) && !context.token.contains(QLatin1Char('_')) &&
               !context.uid.contains(QLatin1Char('_')) && !context.taskTitle.contains(QLatin1Char('_')));

    const QString text = QString::fromUtf8(decoded.constData(), decoded.size());
    if (text.toUtf8() != decoded)
        return 0; // not valid UTF-8: replacement characters make the text shorter or longer
    const QStringList pieces = text.split(QLatin1Char('_'));
    if (pieces.size() < 4 || pieces.at(0).count(QStringLiteral("//")) != 1)
        return 0;
    const QString lead = pieces.at(0).left(pieces.at(0).indexOf(QStringLiteral("//")));
    const QString taskId = pieces.at(0).mid(lead.size() + 2);
    if (!namesAFolderSafely(taskId) || !namesAFolderSafely(pieces.at(2))) {
        FUZZ_CHECK(context.taskId.isEmpty() && context.token.isEmpty() && context.uid.isEmpty() &&
                   context.taskTitle.isEmpty());
        return 0;
    }
    const QString rebuilt = lead + QStringLiteral("//") + context.taskId + QLatin1Char('_') + context.token +
                            QLatin1Char('_') + context.uid + QLatin1Char('_') + context.taskTitle;
    QString expected = pieces.mid(0, 3).join(QLatin1Char('_')) + QLatin1Char('_') + pieces.mid(3).join(QString());
    FUZZ_CHECK(rebuilt == expected);
    FUZZ_CHECK(context.displayTitle() == context.taskTitle.left(context.taskTitle.size() - 1));
    return 0;
}
