#include <QApplication>
#include <QBuffer>
#include <QtTest>

#include "EmulatorFixture.h"
#include "FakeProcessPlatform.h"
#include "TestUtils.h"
#include "app/AmbrelClient.h"
#include "app/Housekeeping.h"
#include "app/ShutDownDialog.h"
#include "upload/UploadFolder.h"

namespace {

FakeProcessPlatform s_processes;
int s_exitCalls = 0;

void recordExit(int)
{
    ++s_exitCalls;
}

ShutDownDialog* newDialog(const QWidgetList& before)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!before.contains(widget)) {
            if (auto* dialog = qobject_cast<ShutDownDialog*>(widget))
                return dialog;
        }
    }
    return nullptr;
}

} // namespace

// The whole way out: the real upload worker empties the image folder into the emulator while the wait dialog
// watches, then the emulator's analysis proofreads the images and the dialog closes by itself.
class TestShutDownDialogEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void quitWaitsForUploadsThenProofreading();
};

void TestShutDownDialogEndToEnd::initTestCase()
{
    AmbrelClient::setExitFunction(recordExit);
    Housekeeping::setDefaultPlatform(&s_processes);
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestShutDownDialogEndToEnd::quitWaitsForUploadsThenProofreading()
{
    ScopedWorkingDirectory work;
    ServiceEmulator::Options options;
    options.stepMs = 50;
    options.failEvery = 0;
    EmulatorFixture emulator(options);
    QVERIFY(emulator.isRunning());
    const QWidgetList before = QApplication::topLevelWidgets();
    AmbrelClient window("x//T1_tok_u9_Title/");
    ShutDownDialog* dialog = newDialog(before);
    QVERIFY(dialog);
    dialog->setPollInterval(50);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(TestUtils::makeTestImage(64, 48).save(&buffer, "JPG"));
    const QString folder = work.filePath(QStringLiteral("image/T1"));
    for (const QString& name : {QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")})
        QVERIFY(UploadFolder::placeBytes(folder, name, jpeg));

    // Which phases the open dialog went through, as the teacher would have seen them.
    QStringList phases;
    QTimer watcher;
    watcher.setInterval(10);
    connect(&watcher, &QTimer::timeout, dialog, [&] {
        if (!dialog->isVisible())
            return;
        const QString phase = dialog->isUploadPhase() ? QStringLiteral("upload") : QStringLiteral("recognition");
        if (phases.isEmpty() || phases.last() != phase)
            phases << phase;
    });
    watcher.start();
    // Safety net: a dialog that never closes would otherwise hang the test; it would show as rejected.
    QTimer::singleShot(30000, dialog, &QDialog::reject);
    // What the tray menu's "退出" runs.
    window.closeInterface();

    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(phases, (QStringList{QStringLiteral("upload"), QStringLiteral("recognition")}));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    const ServiceEmulator::TaskCounts counts = emulator->counts(QStringLiteral("T1"));
    QCOMPARE(counts.uploaded, 3);
    QCOMPARE(counts.proofread, 3);
    // Finished by itself: the program keeps running.
    QCOMPARE(s_exitCalls, 0);
}

QTEST_MAIN(TestShutDownDialogEndToEnd)
#include "tst_shutdowndialog_endtoend.moc"
