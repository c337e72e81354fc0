#include "pages/ImageImport.h"

#include <algorithm>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include "core/LaunchContext.h"
#include "core/TaskFolders.h"
#include "upload/UploadFolder.h"
#include "widgets/FileDialog.h"
#include "widgets/MessageBox.h"

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

bool sameBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.size() == bytes.size() && file.open(QIODevice::ReadOnly) && file.readAll() == bytes;
}

bool sameFiles(const QString& first, const QString& second)
{
    QFile a(first);
    QFile b(second);
    if (a.size() != b.size() || !a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly))
        return false;
    while (!a.atEnd()) {
        if (a.read(1 << 20) != b.read(1 << 20))
            return false;
    }
    return true;
}

// "sheet1.jpg", then "sheet1 (2).jpg", "sheet1 (3).jpg"...
QString candidateName(const QString& name, int n)
{
    if (n == 1)
        return name;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = QStringLiteral(" (%1)").arg(n);
    if (dot > 0)
        return name.left(dot) + suffix + name.mid(dot);
    return name + suffix;
}

// A taken name holding the same bytes is this image already waiting (skipped); one holding other bytes is another
// sheet with the same name, which goes in under the first free name.
template <typename Same, typename Write>
void place(const QString& folder, const QString& name, Same same, Write write, ImageImport::Result* result)
{
    for (int n = 1;; ++n) {
        const QString candidate = candidateName(name, n);
        const QString target = folder + candidate;
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
            if (!same(target))
                continue;
            result->skipped << name;
        } else if (write(candidate)) {
            result->copied << candidate;
        } else {
            result->failed << name;
        }
        return;
    }
}

// The image as PNG files: every page of a multi-page file (a scanner's TIFF), the first frame of anything else
// (an animated GIF's frames are not pages); none when the file cannot be read as an image.
QList<QByteArray> pngPages(const QString& path)
{
    QList<QByteArray> pages;
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const bool multiPage = reader.format() == "tiff";
    const int count = multiPage ? std::max(1, reader.imageCount()) : 1;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        const QImage image = reader.read();
        if (image.isNull())
            break;
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            break;
        pages << png;
    }
    return pages;
}

} // namespace

namespace ImageImport {

Result copyIntoFolder(const QStringList& paths, const QString& folder)
{
    Result result;
    for (const QString& path : paths) {
        const QString name = path.split(QLatin1Char('/')).last();
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
            result.failed << path;
            continue;
        }
        // The upload worker takes these as they are; every other image is converted to PNG.
        if (UploadFolder::isImageName(name)) {
            place(
                folder, name, [&](const QString& target) { return sameFiles(target, path); },
                [&](const QString& candidate) { return UploadFolder::copyFile(path, folder, candidate); }, &result);
            continue;
        }
        const QList<QByteArray> pages = pngPages(path);
        if (pages.isEmpty()) {
            result.failed << name;
            continue;
        }
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        const QString base = dot > 0 ? name.left(dot) : name;
        for (int i = 0; i < pages.size(); ++i) {
            const QString pageName =
                base + (pages.size() > 1 ? QStringLiteral("-%1").arg(i + 1) : QString()) + QStringLiteral(".png");
            const QByteArray& bytes = pages.at(i);
            place(
                folder, pageName, [&](const QString& target) { return sameBytes(target, bytes); },
                [&](const QString& candidate) { return UploadFolder::placeBytes(folder, candidate, bytes); }, &result);
        }
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

Result run(QWidget* parent, const TaskFolders& folders, const QString& caption, const QString& filter)
{
    // Without a task the folder would be image/ itself, which nothing uploads: no files are asked for.
    if (!folders.isValid()) {
        MessageBox::warning(parent, QStringLiteral("提示信息"), LaunchContext::missingTaskText());
        return {};
    }
    const QStringList paths = FileDialog::getOpenFileNames(parent, caption, QStringLiteral("/home"), filter);
    const QString folder = folders.imageFolder();
    folders.ensureImageFolder();
    const Result result = copyIntoFolder(paths, folder);
    const QString text = reportText(result);
    if (!text.isEmpty())
        MessageBox::warning(parent, QStringLiteral("部分图片未导入"), text);
    return result;
}

Result importImages(QWidget* parent, const TaskFolders& folders)
{
    return run(parent, folders, QCoreApplication::translate("ImageImport", "选择图片"),
               QCoreApplication::translate("ImageImport", "图片(*.jpg *.jpeg *.png *.bmp *.gif *.tif);;All(*.*)"));
}

} // namespace ImageImport
