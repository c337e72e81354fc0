#pragma once

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>
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

// The arguments that make `unshare` run a program in a process table of its own, so that a client started by a
// test never ends nor reaches a client someone else runs (through a user namespace when not root). Empty where no
// such namespace can be made on this machine.
QStringList isolationArguments();

// The status a test program ends with when something it was asked to check cannot be checked on this machine and
// nothing failed: CTest shows the test as skipped (SKIP_RETURN_CODE), not as passed.
constexpr int kSkippedStatus = 77;
void noteEnvironmentSkip();
int exitStatus(int failures);

} // namespace TestUtils

// QSKIP for what this machine cannot do (as opposed to a row that does not apply): the whole run is then reported
// as skipped.
#define AMBREL_SKIP_ENVIRONMENT(reason)                                                                                \
    do {                                                                                                               \
        TestUtils::noteEnvironmentSkip();                                                                              \
        QSKIP(reason);                                                                                                 \
    } while (false)

// QTEST_MAIN and QTEST_GUILESS_MAIN that end with kSkippedStatus after an AMBREL_SKIP_ENVIRONMENT.
#define AMBREL_TEST_MAIN_WITH(Application, TestObject)                                                                 \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        Application app(argc, argv);                                                                                   \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestObject test;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return TestUtils::exitStatus(QTest::qExec(&test, argc, argv));                                                 \
    }
#define AMBREL_TEST_MAIN(TestObject) AMBREL_TEST_MAIN_WITH(QApplication, TestObject)
#define AMBREL_TEST_GUILESS_MAIN(TestObject) AMBREL_TEST_MAIN_WITH(QCoreApplication, TestObject)
