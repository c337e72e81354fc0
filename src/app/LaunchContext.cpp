#include "app/LaunchContext.h"

#include <QStringList>

LaunchContext LaunchContext::parse(const QByteArray& argument)
{
    LaunchContext context;
    // Only "%" escapes are decoded: a "+" in the argument stays a "+".
    const QString text = QString::fromUtf8(QByteArray::fromPercentEncoding(argument, '%'));
    const QStringList pieces = text.split(QLatin1Char('_'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (pieces.size() < 4)
        return context;
    context.token = pieces.at(1);
    context.uid = pieces.at(2);

    const QStringList head = pieces.at(0).split(QStringLiteral("//"), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (head.size() != 2)
        return context;
    context.taskId = head.at(1);
    // An "_" inside the title was consumed by the split: the remaining pieces are joined with nothing.
    context.taskTitle = pieces.mid(3).join(QString());
    return context;
}

QString LaunchContext::displayTitle() const
{
    return taskTitle.left(qMax(0, taskTitle.size() - 1));
}
