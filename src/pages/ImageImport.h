#pragma once

#include <QString>
#include <QStringList>

class QWidget;
class TaskFolders;

// The image import shared by the home page and the two bars that offer "上传": the teacher picks files, they are
// copied into the task's image folder for the upload worker, and only what went wrong is reported.
namespace ImageImport {

struct Result
{
    // Names placed in the folder (a taken name gets a free one: "sheet1 (2).jpg").
    QStringList copied;
    // Images already waiting in the folder with the same bytes (or chosen twice): not imported again.
    QStringList skipped;
    QStringList failed;
};

// Copies every path, in order, into folder under its last "/" piece. Each copy is atomic (the worker never sees a
// half-written file); existing files are left untouched. JPEG, PNG and BMP files are copied as they are; any other
// image (GIF, every page of a TIFF, ...) is converted to PNG, since the store takes only those; a file that cannot
// be read as an image is reported as failed.
Result copyIntoFolder(const QStringList& paths, const QString& folder);

// The short message for the teacher, or an empty text when everything was copied.
QString reportText(const Result& result);

// The whole import: the open-files dialog with the given (already translated) caption and filter, the copy into
// the task's image folder (created one level when missing) and one warning when anything was skipped or failed.
// Without a task id no dialog is opened and nothing copied: the teacher is told that the program must be opened
// again from the marking site.
Result run(QWidget* parent, const TaskFolders& folders, const QString& caption, const QString& filter);

// The import behind every "上传" button (the home page's and the two bars'): run with the caption "选择图片" and the
// images the program takes, whatever the format.
Result importImages(QWidget* parent, const TaskFolders& folders);

} // namespace ImageImport
