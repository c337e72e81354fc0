// Walks the real client window through every screen and saves each one as a PNG, for the tour in the README:
//   ambrel-screenshots OUTPUT_FOLDER LAUNCH_ARGUMENT [--first NAME | --auto-shot NAME]
// Everything is reached the way a teacher reaches it: buttons found by object name and clicked, file choices given
// through the import's own seam. With --first only the screen the window opens on is saved, as NAME. With --auto-shot
// the home page's take button opens the capture page, auto shot is switched on, and once the camera's scripted desk
// (AMBREL_CAMERA=desk) has had a sheet photographed hands-free, the page is saved as NAME while the next sheet settles.
// scripts/screenshots.sh runs it against the service emulator's demo task, under Xvfb and in a process namespace of
// its own (the window ends other copies of the program at start).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

#include "AnswerSheetImage.h"
#include "app/AmbrelClient.h"
#include "app/QueueWindow.h"
#include "app/ShutDownDialog.h"
#include "app/StartUp.h"
#include "app/TitleBar.h"
#include "widgets/CircleButton.h"
#include "widgets/FileDialog.h"

namespace {

QString s_outputFolder;

void print(const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

// The upload worker never stops, so the process ends at once, as the client itself does.
[[noreturn]] void finish(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

[[noreturn]] void fail(const QString& what)
{
    std::fputs(("ambrel-screenshots: " + what + "\n").toLocal8Bit().constData(), stderr);
    finish(1);
}

// Lets the program work (paint, answer the service, run its timers) until done() holds or the time is up.
bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return true;
}

void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

template <typename T> T* find(QObject* parent, const char* name)
{
    T* child = parent->findChild<T*>(QLatin1String(name));
    if (!child)
        fail(QStringLiteral("no %1 in %2").arg(QLatin1String(name), parent->objectName()));
    return child;
}

QWidget* findByClass(QObject* parent, const char* className)
{
    for (QWidget* widget : parent->findChildren<QWidget*>())
        if (widget->inherits(className))
            return widget;
    fail(QStringLiteral("no %1").arg(QLatin1String(className)));
}

void save(QWidget* widget, const QString& name, int settleMs = 400)
{
    settle(settleMs);
    const QPixmap shot = widget->grab();
    const QString path = s_outputFolder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (shot.isNull() || !shot.save(path))
        fail(QStringLiteral("cannot save ") + path);
    print(QStringLiteral("saved %1 (%2 x %3)").arg(path).arg(shot.width()).arg(shot.height()));
}

void click(QAbstractButton* button)
{
    if (!button->isVisible() || !button->isEnabled())
        fail(QStringLiteral("%1 cannot be clicked").arg(button->objectName()));
    button->click();
}

// A press and release of the left button in the middle of the widget, for widgets that answer the mouse rather
// than click(): the tiles, and the take button, which only answers releases inside its circle.
void pressAndRelease(QWidget* widget)
{
    const QPointF centre(widget->width() / 2.0, widget->height() / 2.0);
    const QPoint global = widget->mapToGlobal(centre.toPoint());
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

// A click that opens a modal dialog only returns once the dialog closed: what happens inside the dialog is
// scheduled before the click and runs from the dialog's own event loop.
void whenModal(const char* className, const std::function<void(QWidget*)>& then)
{
    QTimer::singleShot(300, [className, then] {
        QWidget* modal = nullptr;
        if (!waitUntil(
                [&] {
                    modal = QApplication::activeModalWidget();
                    return modal && modal->inherits(className) && modal->isVisible();
                },
                15000))
            fail(QStringLiteral("no %1 opened").arg(QLatin1String(className)));
        then(modal);
    });
}

// Answer sheets for the import, the way a scanner leaves them in a folder.
QStringList writeSheets(const QString& folder, int count)
{
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        const QString path = folder + QStringLiteral("/scan-%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(AnswerSheetImage::render(QStringLiteral("学生%1").arg(i), 1, 1, QStringLiteral("90"))) < 0)
            fail(QStringLiteral("cannot write ") + path);
        paths << path;
    }
    return paths;
}

// The queue status as the worker publishes it for the emulator's faults (the demo's store takes everything, so the
// states are handed to the title bar as the worker would send them), and the queue window it opens.
void queueStates(AmbrelClient& window, const QStringList& sheets)
{
    auto* bar = findByClass(&window, "TitleBar");
    auto* titleBar = static_cast<TitleBar*>(bar);
    const QString task = QStringLiteral("demo-task");
    const auto stateWith = [&](int waiting, int refused, QueueState::Link link) {
        QueueState state;
        state.published = true;
        state.link = link;
        state.lastSuccessMs = QDateTime::currentMSecsSinceEpoch() - 10 * 60 * 1000;
        state.tasks << QueueState::Task{task, std::max(waiting - 1, 0), waiting > 0 ? 1 : 0, 0, refused};
        for (int i = 0; i < sheets.size() && i < waiting + refused; ++i) {
            QueueState::Image image;
            image.taskId = task;
            image.path = sheets.at(i);
            image.name = QFileInfo(image.path).fileName();
            if (i < refused) {
                image.state = QueueState::ImageState::Refused;
                image.attempts = 3;
                image.reason = QStringLiteral("存储服务拒收（HTTP 403）");
            } else if (i == refused) {
                image.state = QueueState::ImageState::InFlight;
            } else if (link != QueueState::Link::Ok) {
                image.attempts = 2;
                image.reason = QStringLiteral("无法连接存储服务");
            }
            state.images << image;
        }
        return state;
    };
    titleBar->setQueueState(stateWith(12, 0, QueueState::Link::Ok));
    save(bar, QStringLiteral("status-uploading"));
    titleBar->setQueueState(stateWith(12, 0, QueueState::Link::StoreUnreachable));
    save(bar, QStringLiteral("status-offline"));
    const QueueState refused = stateWith(5, 3, QueueState::Link::Ok);
    titleBar->setQueueState(stateWith(0, 3, QueueState::Link::Ok));
    save(bar, QStringLiteral("status-refused"));

    // A click on the status opens the queue window.
    auto* queue = window.findChild<QueueWindow*>();
    if (!queue)
        fail(QStringLiteral("no queue window"));
    queue->setQueueState(refused);
    click(find<QAbstractButton>(bar, "queueStatusButton"));
    if (!waitUntil([&] { return queue->isVisible(); }, 10000))
        fail(QStringLiteral("the queue window did not open"));
    settle(1000);
    save(queue, QStringLiteral("queue-window"));
    queue->close();
    titleBar->setQueueState(QueueState());
}

void tour(AmbrelClient& window)
{
    // The demo task has analysed students: the window opens on the progress page.
    auto* progress = findByClass(&window, "DisplayPhoto");
    auto* tiles = find<QListWidget>(progress, "listWidget");
    if (!waitUntil([&] { return progress->isVisible() && tiles->count() > 0; }, 20000))
        fail(QStringLiteral("the progress page shows no students"));
    settle(1500);
    save(&window, QStringLiteral("progress"));

    // A tile opens the viewer on that student's pages.
    pressAndRelease(findByClass(progress, "PhotoTableWidgetItem"));
    auto* viewer = findByClass(&window, "ViewPhoto");
    if (!waitUntil([&] { return viewer->isVisible(); }, 10000))
        fail(QStringLiteral("the viewer did not open"));
    settle(1000);
    save(&window, QStringLiteral("viewer"));
    click(find<QAbstractButton>(viewer, "quanping"));
    if (!waitUntil([&] { return viewer->isFullScreen(); }, 10000))
        fail(QStringLiteral("the viewer did not go full screen"));
    settle(1000);
    save(viewer, QStringLiteral("viewer-fullscreen"));
    click(find<QAbstractButton>(viewer, "pushButton"));
    if (!waitUntil([&] { return !viewer->isFullScreen(); }, 10000))
        fail(QStringLiteral("the viewer stayed full screen"));
    click(find<QAbstractButton>(viewer, "guanbi"));
    if (!waitUntil([&] { return !viewer->isVisible(); }, 10000))
        fail(QStringLiteral("the viewer did not close"));

    // The footer's process-now button lists the students to photograph again.
    click(find<QAbstractButton>(find<QWidget>(progress, "footer"), "pushButton"));
    auto* reTake = findByClass(&window, "ReTakePhoto");
    if (!waitUntil([&] { return reTake->isVisible() && find<QListWidget>(reTake, "listWidget")->count() > 0; }, 20000))
        fail(QStringLiteral("the re-take page lists nobody"));
    settle(1000);
    save(&window, QStringLiteral("retake"));

    // Importing scans, one of which is gone: the import says so, then the wait dialog shows the uploads and the
    // proofreading; "等待" there leads to the home page.
    QStringList paths = writeSheets(QDir::currentPath() + QStringLiteral("/scans"), 12);
    paths << QDir::currentPath() + QStringLiteral("/scans/removed-meanwhile.jpg");
    FileDialog::setNextFileNames(paths);
    whenModal("QMessageBox", [](QWidget* box) {
        save(box, QStringLiteral("import-message"));
        whenModal("ShutDownDialog", [](QWidget* modal) {
            auto* dialog = static_cast<ShutDownDialog*>(modal);
            auto* bar = find<QProgressBar>(dialog, "progressBar");
            // Each phase is shown once its first poll moved the bar (its polls are 3 s apart).
            waitUntil([&] { return bar->value() > 0 || !dialog->isUploadPhase(); }, 8000);
            if (!dialog->isUploadPhase())
                fail(QStringLiteral("the uploads ended before the wait dialog showed them"));
            save(dialog, QStringLiteral("wait-upload"));
            if (!waitUntil([&] { return !dialog->isUploadPhase(); }, 40000))
                fail(QStringLiteral("the uploads did not finish"));
            waitUntil([&] { return bar->value() > 0; }, 8000);
            save(dialog, QStringLiteral("wait-recognition"));
            click(find<QAbstractButton>(dialog, "waitButton"));
        });
        static_cast<QMessageBox*>(box)->accept();
    });
    click(find<QAbstractButton>(find<QWidget>(reTake, "footer"), "pushButton_2"));

    auto* home = findByClass(&window, "HomePage");
    if (!waitUntil([&] { return home->isVisible(); }, 10000))
        fail(QStringLiteral("the home page did not show"));
    settle(500);
    save(&window, QStringLiteral("home"));

    // Start photographing: the live picture of the (simulated) document camera, two sheets taken.
    click(find<QAbstractButton>(home, "pushButton"));
    auto* capture = findByClass(&window, "TakePhoto");
    if (!waitUntil([&] { return capture->isVisible(); }, 10000))
        fail(QStringLiteral("the capture page did not show"));
    settle(1500);
    auto* take = find<QWidget>(capture, "circle");
    auto* counter = find<QLabel>(capture, "label_2");
    for (const QString& count : {QStringLiteral("1"), QStringLiteral("2")}) {
        // The take button ignores presses within a second of the last one; a still takes a moment to arrive.
        settle(1100);
        pressAndRelease(take);
        if (!waitUntil([&] { return counter->text() == count; }, 15000))
            fail(QStringLiteral("the counter shows %1 instead of %2").arg(counter->text(), count));
    }
    settle(1000);
    save(&window, QStringLiteral("capture"));

    queueStates(window, paths);
}

// Hands-free capture of the scripted desk: a sheet photographed without a press, the next one settling.
void autoShot(AmbrelClient& window, const QString& name)
{
    click(find<QAbstractButton>(findByClass(&window, "HomePage"), "pushButton"));
    auto* capture = findByClass(&window, "TakePhoto");
    if (!waitUntil([&] { return capture->isVisible(); }, 10000))
        fail(QStringLiteral("the capture page did not show"));
    auto* box = find<QCheckBox>(capture, "autoShotBox");
    if (!box->isChecked())
        click(box);
    auto* counter = find<QLabel>(capture, "label_2");
    if (!waitUntil([&] { return counter->text() == QLatin1String("1"); }, 30000))
        fail(QStringLiteral("no sheet was photographed hands-free (the counter shows %1)").arg(counter->text()));
    // Saved at once: the ring is full within the steady time.
    auto* ring = find<CircleButton>(capture, "circle");
    if (!waitUntil([&] { return ring->ringProgress() > 0.4; }, 20000))
        fail(QStringLiteral("the next sheet did not settle"));
    save(&window, name, 0);
}

} // namespace

int main(int argc, char* argv[])
{
    const auto app = StartUp::createApplication(argc, argv);

    QStringList arguments = QCoreApplication::arguments().mid(1);
    QString first;
    const int firstAt = arguments.indexOf(QStringLiteral("--first"));
    if (firstAt >= 0 && firstAt + 1 < arguments.size()) {
        first = arguments.at(firstAt + 1);
        arguments.erase(arguments.begin() + firstAt, arguments.begin() + firstAt + 2);
    }
    QString autoShotName;
    const int autoShotAt = arguments.indexOf(QStringLiteral("--auto-shot"));
    if (autoShotAt >= 0 && autoShotAt + 1 < arguments.size()) {
        autoShotName = arguments.at(autoShotAt + 1);
        arguments.erase(arguments.begin() + autoShotAt, arguments.begin() + autoShotAt + 2);
    }
    if (arguments.size() != 2)
        fail(QStringLiteral(
            "usage: ambrel-screenshots OUTPUT_FOLDER LAUNCH_ARGUMENT [--first NAME | --auto-shot NAME]"));
    s_outputFolder = QDir(arguments.at(0)).absolutePath();
    QDir().mkpath(s_outputFolder);

    auto* window = new AmbrelClient(arguments.at(1).toUtf8());
    window->move(0, 0);
    window->show();
    // The window asks the service for its first page once it is shown, waiting in an event loop of its own. The tour
    // waits in event loops too: started inside the window's wait it would hold that wait up, so it starts only from
    // the application's own loop, once the window is up.
    auto* start = new QTimer(window);
    start->setInterval(50);
    QElapsedTimer sinceShow;
    sinceShow.start();
    QObject::connect(start, &QTimer::timeout, [window, first, autoShotName, start, sinceShow] {
        if (QThread::currentThread()->loopLevel() > 1 || !window->isVisible()) {
            if (sinceShow.elapsed() > 20000)
                fail(QStringLiteral("the window did not show"));
            return;
        }
        start->stop();
        if (!first.isEmpty()) {
            settle(1500);
            save(window, first);
        } else if (!autoShotName.isEmpty()) {
            autoShot(*window, autoShotName);
        } else {
            tour(*window);
        }
        finish(0);
    });
    start->start();
    return app->exec();
}
