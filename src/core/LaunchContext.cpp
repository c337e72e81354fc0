#include "core/LaunchContext.h"

#include <QStringList>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The task id and the uid name folders and object keys: they must be plain folder names, or the argument could
// point the program at folders outside its own (taskId "../../victim"). Empty is allowed: the program then runs
// without a task.
bool isPlainName(const QString& value)
{
    if (value == QLatin1String(".") || value == QLatin1String("..") || value.size() > 128)
        return false;
    for (const QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QLatin1Char('/') || c == QLatin1Char('\\') ||
            c == QLatin1Char(':'))
            return false;
    }
    return true;
}

} // namespace

QByteArray LaunchContext::percentDecode(const QByteArray& text)
{
    // Unlike QByteArray::fromPercentEncoding, a "%" not followed by two hex digits stays as it is: decoding it
    // anyway would invent a byte and could swallow a following "_" separator. "%00" stays too: a NUL byte ends
    // the text for C strings and for Qt's conversions, cutting off whatever follows, and must not reach the log.
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() ? hexValue(text.at(i + 1)) : -1;
        const int low = high >= 0 ? hexValue(text.at(i + 2)) : -1;
        if (text.at(i) == '%' && low >= 0 && high * 16 + low != 0) {
            out.append(char(high * 16 + low));
            i += 2;
        } else {
            out.append(text.at(i));
        }
    }
    return out;
}

LaunchContext LaunchContext::parse(const QByteArray& argument)
{
    LaunchContext context;
    // Only "%" escapes are decoded: a "+" in the argument stays a "+".
    // With an explicit size: fromUtf8(QByteArray) stops at the first NUL byte.
    const QByteArray decoded = percentDecode(argument);
    const QString text = QString::fromUtf8(decoded.constData(), decoded.size());
    const QStringList pieces = text.split(QLatin1Char('_'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (pieces.size() < 4)
        return context;
    // A task id or uid that is not a plain name makes the argument malformed: nothing of it is used.
    if (!isPlainName(pieces.at(2)))
        return context;
    context.token = pieces.at(1);
    context.uid = pieces.at(2);

    const QStringList head = pieces.at(0).split(QStringLiteral("//"), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (head.size() != 2)
        return context;
    if (!isPlainName(head.at(1)))
        return LaunchContext();
    context.taskId = head.at(1);
    // An "_" inside the title was consumed by the split: the remaining pieces are joined with nothing.
    context.taskTitle = pieces.mid(3).join(QString());
    return context;
}

bool LaunchContext::isComplete() const
{
    return !taskId.isEmpty() && !token.isEmpty() && !uid.isEmpty();
}

QString LaunchContext::displayTitle() const
{
    return taskTitle.left(qMax(0, taskTitle.size() - 1));
}

QString LaunchContext::missingTaskText()
{
    return QStringLiteral("未获取到考试任务，照片无法上传，请从阅卷网站重新打开本程序");
}
