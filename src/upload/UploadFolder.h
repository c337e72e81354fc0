#pragma once

#include <functional>

#include <QByteArray>
#include <QFileInfoList>
#include <QString>

// Hands files over to the upload worker. The worker uploads and deletes every image it finds in the task's image
// folder, so a file must never be visible there under its final name before it is complete: producers write under
// a temporary name that the worker's filters do not match and rename it into place when done.
namespace UploadFolder {

// Writes data to folder/fileName atomically. An existing file of that name is replaced.
bool placeBytes(const QString& folder, const QString& fileName, const QByteArray& data, QString* error = nullptr);

// Copies source to folder/fileName atomically, streaming it (never loading it whole). An existing file of that
// name is replaced; callers that must not overwrite check first.
bool copyFile(const QString& source, const QString& folder, const QString& fileName, QString* error = nullptr);

// The images waiting in folder, as the worker sees them: regular files (never symbolic links) named *.bmp, *.jpg,
// *.jpeg or *.png in any letter case, readable and not hidden, sorted by name.
QFileInfoList listImages(const QString& folder);
// Whether the worker takes a file of this name: *.bmp, *.jpg, *.jpeg or *.png in any letter case.
bool isImageName(const QString& fileName);

// Whether the file holds a whole image, judged by its bytes whatever its name: a JPEG ends with its end-of-image
// marker, a PNG with its IEND chunk, a BMP is as long as its header says. Anything else counts as not whole.
bool isWholeImage(const QString& path);
// The same judgement over a file's bytes already read.
bool isWholeImageData(const QByteArray& bytes);

// Whether the file's first bytes may start a JPEG, PNG or BMP (false only when they begin something else).
bool mayBeImage(const QString& path);
// The same judgement over a file's first bytes already read.
bool mayBeImageData(const QByteArray& head);

// Runs just before a finished file is renamed to its final path, with that path; an empty function removes it.
// Tests put something in the way there to make the rename fail.
void setBeforeRename(std::function<void(const QString& finalPath)> hook);

} // namespace UploadFolder
