#pragma once

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

// Runs a test inside a fresh temporary working folder and restores the previous one afterwards.
class ScopedWorkingDirectory
{
public:
    ScopedWorkingDirectory();
    ~ScopedWorkingDirectory();

    bool isValid() const;
    QString path() const;
    // An absolute path inside the folder.
    QString filePath(const QString& relative) const;

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

namespace TestUtils {

// A recognisable test picture: a gradient with a coloured square in each corner, so that rotations and offsets
// can be told apart by the pixels.
QImage makeTestImage(int width, int height);

// makeTestImage encoded as a whole file of the given format ("JPG", "PNG", "BMP"); quality -1: the format's default.
QByteArray encodedTestImage(int width, int height, const char* format, int quality = -1);

// Writes data to a file, creating the folders on the way. Returns false when it could not.
bool writeFile(const QString& path, const QByteArray& data);

QByteArray readFile(const QString& path);

// Sets a file's modification time. Returns false when it could not.
bool setModified(const QString& path, const QDateTime& time);

// Deterministic, non-repeating content for upload and copy tests: the same seed gives the same bytes, and no
// block repeats, so a chunk sent twice or out of place shows up in a byte comparison.
QByteArray patternBytes(int size, quint32 seed = 0);

// patternBytes framed by a JPEG's start and end markers: what the upload worker takes for a whole JPEG.
QByteArray patternJpeg(int size, quint32 seed = 0);

// The first top-level widget of type T that was not among before: a dialog or window a step opened.
template <class T> T* newTopLevel(const QWidgetList& before)
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (!before.contains(widget))
            if (T* found = qobject_cast<T*>(widget))
                return found;
    return nullptr;
}

} // namespace TestUtils
