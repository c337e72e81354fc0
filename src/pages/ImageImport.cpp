#include "pages/ImageImport.h"

#include <QDir>
#include <QFileInfo>

#include "pages/PageFileDialog.h"
#include "pages/PageMessageBox.h"
#include "service/HttpCommunicationThread.h"
#include "upload/UploadFolder.h"

namespace {

// Long lists would make the box taller than the screen: name a few and count the rest.
constexpr int MaxListedNames = 8;

QString listNames(const QStringList& names)
{
    QStringList shown = names.mid(0, MaxListedNames);
    QString text = shown.join(QStringLiteral("、"));
    if (names.size() > MaxListedNames)
        text += QStringLiteral(" 等%1张").arg(names.size());
    return text;
}

} // namespace

namespace ImageImport {

QString taskImageFolder()
{
    return QDir::currentPath() + QStringLiteral("/image/") + HttpCommunicationThread::getTaskId() + QStringLiteral("/");
}

Result copyIntoFolder(const QStringList& paths, const QString& folder)
{
    Result result;
    for (const QString& path : paths) {
        const QString name = path.split(QLatin1Char('/')).last();
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
            result.failed << path;
            continue;
        }
        if (QFileInfo::exists(folder + name)) {
            result.skipped << name;
            continue;
        }
        if (UploadFolder::copyFile(path, folder, name))
            result.copied << name;
        else
            result.failed << name;
    }
    return result;
}

QString reportText(const Result& result)
{
    QStringList lines;
    if (!result.skipped.isEmpty())
        lines << QStringLiteral("以下图片已在上传队列中，未重复导入：") << listNames(result.skipped);
    if (!result.failed.isEmpty())
        lines << QStringLiteral("以下图片无法读取或复制，未导入：") << listNames(result.failed);
    return lines.join(QLatin1Char('\n'));
}

Result run(QWidget* parent, const QString& caption, const QString& filter)
{
    const QStringList paths = PageFileDialog::getOpenFileNames(parent, caption, QStringLiteral("/home"), filter);
    const QString folder = taskImageFolder();
    if (!QFileInfo::exists(folder))
        QDir().mkdir(folder);
    const Result result = copyIntoFolder(paths, folder);
    const QString text = reportText(result);
    if (!text.isEmpty())
        PageMessageBox::warning(parent, QStringLiteral("部分图片未导入"), text);
    return result;
}

} // namespace ImageImport
