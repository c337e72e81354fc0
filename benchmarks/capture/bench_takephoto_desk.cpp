// The capture page, hands-free, against the scripted desk of desk-scenes.txt (beside this file): over a hundred sheet
// swaps with hands lingering, fast swaps, the light changing, the empty desk and the pedal pressed as the hand swaps
// the sheets. The real page with the simulated camera's scripted desk (the camera of AMBREL_CAMERA=desk, here playing
// these scenes) at the tests' clock, moved on frame by frame, so the run takes a fraction of the desk's time.
// Counters: photographs per sheet (fewest and most), sheets missing, photographs of the empty desk, photographs
// with a hand, and the time from a sheet lying still to its photograph being saved (mean, max).
#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include "TestClock.h"
#include "capture/CameraBackend.h"
#include "capture/CameraComponent.h"
#include "capture/CaptureSession.h"
#include "capture/ScriptedDesk.h"
#include "capture/TakePhoto.h"
#include "capture/VideoOverlay.h"
#include "capture/VirtualCameraBackend.h"
#include "widgets/SliderImageList.h"

namespace {

constexpr qint64 kFrameMs = 66;
constexpr qint64 kStart = 1'700'000'000'000;

struct Scenes
{
    ScriptedDesk desk;
    QVector<qint64> pedal; // desk times of the presses
    qint64 autoShotOn = 0; // desk time auto shot is switched on; -1: never (the pedal alone)
    QString error;
};

ScriptedDesk::Look lookOf(const QString& word)
{
    if (word == QLatin1String("dark"))
        return ScriptedDesk::Look::Dark;
    if (word == QLatin1String("blurred"))
        return ScriptedDesk::Look::Blurred;
    return ScriptedDesk::Look::Sharp;
}

Scenes readScenes(const QString& path)
{
    Scenes s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        s.error = QStringLiteral("cannot read ") + path;
        return s;
    }
    QVector<qint64> pedalOffsets;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QStringList w = in.readLine().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (w.isEmpty() || w.first().startsWith(QLatin1Char('#')))
            continue;
        const QString step = w.first();
        const auto number = [&w](int i, double otherwise) { return i < w.size() ? w.at(i).toDouble() : otherwise; };
        const qint64 begins = s.desk.durationMs();
        if (step == QLatin1String("pedal")) {
            pedalOffsets.append(qint64(number(1, 0)));
            continue;
        }
        if (step == QLatin1String("autoshot")) {
            s.autoShotOn = begins;
            continue;
        }
        if (step == QLatin1String("manual")) {
            s.autoShotOn = -1;
            continue;
        }
        for (qint64 offset : qAsConst(pedalOffsets))
            s.pedal.append(begins + offset);
        pedalOffsets.clear();
        const ScriptedDesk::Look look = lookOf(w.value(2));
        if (step == QLatin1String("wait"))
            s.desk.wait(int(number(1, 0)));
        else if (step == QLatin1String("place"))
            s.desk.place(int(number(1, 0)), look, int(number(w.size() > 3 ? 3 : 2, 1400)));
        else if (step == QLatin1String("swap"))
            s.desk.swap(int(number(1, 0)), look, int(number(w.size() > 3 ? 3 : 2, 1800)));
        else if (step == QLatin1String("remove"))
            s.desk.remove(int(number(1, 1200)));
        else if (step == QLatin1String("linger"))
            s.desk.linger(int(number(1, 0)));
        else if (step == QLatin1String("nudge"))
            s.desk.nudge(number(1, 0), number(2, 0), int(number(3, 1000)));
        else if (step == QLatin1String("lights"))
            s.desk.lights(number(1, 1), int(number(2, 0)));
        else if (step == QLatin1String("noise"))
            s.desk.noise(int(number(1, 0)));
        else
            s.error = QStringLiteral("unknown step: ") + step;
    }
    return s;
}

// The scripted desk's camera, noting the desk time of every still it delivers (by the still's digest).
class NotingBackend : public CameraBackend
{
public:
    struct Notes
    {
        std::mutex mutex;
        qint64 startedAt = 0;
        std::map<QByteArray, qint64> stillAt;
    };

    NotingBackend(std::shared_ptr<const ScriptedDesk> desk, std::shared_ptr<Notes> notes)
        : m_inner(1, true, std::move(desk)), m_notes(std::move(notes))
    {
    }
    int deviceCount() override { return m_inner.deviceCount(); }
    bool deviceIds(int index, int* vendorId, int* productId) override
    {
        return m_inner.deviceIds(index, vendorId, productId);
    }
    QVector<ResolutionEntry> resolutions(int index, int list) override { return m_inner.resolutions(index, list); }
    std::unique_ptr<CameraStream> open(int index, const CameraOpenParams& params) override
    {
        auto inner = m_inner.open(index, params);
        return inner ? std::make_unique<Stream>(std::move(inner), m_notes) : nullptr;
    }

private:
    class Stream : public CameraStream
    {
    public:
        Stream(std::unique_ptr<CameraStream> inner, std::shared_ptr<Notes> notes)
            : m_inner(std::move(inner)), m_notes(std::move(notes))
        {
        }
        bool start() override
        {
            std::lock_guard<std::mutex> lock(m_notes->mutex);
            m_notes->startedAt = Clock::current().monotonicMSecs();
            return m_inner->start();
        }
        void stop() override { m_inner->stop(); }
        bool nextFrame(QImage* frame, QSize size, int timeoutMs) override
        {
            return m_inner->nextFrame(frame, size, timeoutMs);
        }
        QByteArray captureStill() override
        {
            const qint64 now = Clock::current().monotonicMSecs();
            QByteArray still = m_inner->captureStill();
            std::lock_guard<std::mutex> lock(m_notes->mutex);
            m_notes->stillAt[QCryptographicHash::hash(still, QCryptographicHash::Md5)] = now - m_notes->startedAt;
            return still;
        }

    private:
        std::unique_ptr<CameraStream> m_inner;
        std::shared_ptr<Notes> m_notes;
    };

    VirtualCameraBackend m_inner;
    std::shared_ptr<Notes> m_notes;
};

// Runs the event loop until pred holds or five seconds have passed.
template <typename Pred> bool runUntil(Pred pred)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return true;
}

void BM_TakePhotoHandsFreeDeskSwaps(benchmark::State& state)
{
    // DESK_SCENES plays other scenes (a fault replayed) in place of those beside this file.
    const QString path = qEnvironmentVariableIsSet("DESK_SCENES") ? qEnvironmentVariable("DESK_SCENES")
                                                                  : QStringLiteral(AMBREL_DESK_SCENES);
    const Scenes scenes = readScenes(path);
    if (!scenes.error.isEmpty()) {
        state.SkipWithError(qPrintable(scenes.error));
        return;
    }
    const auto desk = std::make_shared<const ScriptedDesk>(scenes.desk);
    QSet<int> sheets;
    int swaps = 0;
    for (const ScriptedDesk::Rest& rest : desk->rests())
        sheets.insert(rest.sheet);
    for (qint64 t = 0, lastSheet = -1; t <= desk->durationMs(); t += kFrameMs) {
        const int sheet = desk->sceneAt(t).sheet;
        if (sheet >= 0 && lastSheet >= 0 && sheet != lastSheet)
            ++swaps;
        if (sheet >= 0)
            lastSheet = sheet;
    }

    const bool slowStills = qEnvironmentVariableIsSet("SLOW_STILLS");
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        // The auto shot choice is remembered: not in the user's settings.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        TestClock clock(kStart);
        CaptureSession::process().reset();
        auto notes = std::make_shared<NotingBackend::Notes>();
        CameraComponent::setBackend(std::make_unique<NotingBackend>(desk, notes));

        QVector<qint64> savedAt; // desk time each photograph was saved
        int frames = 0;
        bool stalled = false;
        {
            TakePhoto page;
            page.resize(860, 518);
            page.initTaskFolder(TaskFolders::inWorkingFolder(QStringLiteral("bench")));
            page.show();
            QCoreApplication::processEvents();
            page.startPNG();
            // Frames are counted as the video shows them (and the page has looked at each).
            auto* video = page.findChild<QLabel*>(QStringLiteral("label"))->findChild<VideoOverlay*>();
            if (!video) {
                state.SkipWithError("the camera did not start");
                break;
            }
            // A photograph is saved when its cell joins the strip.
            auto* cells = page.findChild<SliderImageList*>()->findChild<QListWidget*>();
            QObject::connect(cells->model(), &QAbstractItemModel::rowsInserted, &page,
                             [&savedAt, &clock] { savedAt.append(clock.now() - kStart); });
            int pedal = 0;
            for (qint64 t = 0; t <= desk->durationMs() && !stalled; t += kFrameMs) {
                clock.set(kStart + t);
                if (scenes.autoShotOn >= 0 && t >= scenes.autoShotOn)
                    page.setAutoShot(true);
                for (; pedal < scenes.pedal.size() && scenes.pedal.at(pedal) <= t; ++pedal) {
                    QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
                    QCoreApplication::sendEvent(&page, &press);
                }
                const int before = video->framesShown();
                // The scripted camera delivers a still asked for before its next frame (with SLOW_STILLS set, a frame
                // or two later, while the desk plays on).
                stalled = !runUntil([&] {
                    return video->framesShown() > before &&
                           (slowStills || CaptureSession::process().stillsPending() == 0);
                });
                frames = video->framesShown();
            }
            // The last stills and their retakes.
            stalled = stalled || !runUntil([] { return CaptureSession::process().stillsPending() == 0; });

            // What each photograph shows, found by its bytes among the stills the camera delivered.
            std::map<int, int> photosOf;
            int emptyDesk = 0;
            int withHand = 0;
            int unknown = 0;
            int marked = 0;
            qint64 latencySum = 0;
            qint64 latencyMax = 0;
            const QStringList photos = page.findChild<SliderImageList*>()->imageFiles();
            for (int i = 0; i < photos.size(); ++i) {
                QFile file(photos.at(i));
                file.open(QIODevice::ReadOnly);
                const QByteArray digest = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5);
                marked += cells->item(i)->toolTip().isEmpty() ? 0 : 1;
                const auto found = notes->stillAt.find(digest);
                if (found == notes->stillAt.end()) {
                    ++unknown;
                    continue;
                }
                const qint64 at = found->second % desk->durationMs();
                const ScriptedDesk::Scene scene = desk->sceneAt(at);
                withHand += scene.hand ? 1 : 0;
                if (scene.sheet < 0) {
                    ++emptyDesk;
                    continue;
                }
                ++photosOf[scene.sheet];
                qint64 rest = 0;
                for (const ScriptedDesk::Rest& r : desk->rests())
                    if (r.fromMs <= at && r.sheet == scene.sheet)
                        rest = std::max(r.fromMs, scenes.autoShotOn);
                if (scenes.autoShotOn < 0)
                    continue;
                const qint64 latency = savedAt.value(i, at) - rest;
                latencySum += latency;
                latencyMax = std::max(latencyMax, latency);
            }
            int fewest = photos.isEmpty() ? 0 : int(photos.size());
            int most = 0;
            int missing = 0;
            for (int sheet : qAsConst(sheets)) {
                const int n = photosOf.count(sheet) ? photosOf.at(sheet) : 0;
                missing += n == 0 ? 1 : 0;
                fewest = std::min(fewest, n);
                most = std::max(most, n);
            }
            const int ofSheets = int(photos.size()) - emptyDesk - unknown;
            state.counters["sheets"] = sheets.size();
            state.counters["swaps"] = swaps;
            state.counters["pedalPresses"] = scenes.pedal.size();
            state.counters["deskMinutes"] = desk->durationMs() / 60000.0;
            state.counters["photos"] = photos.size();
            state.counters["photosPerSheetMin"] = fewest;
            state.counters["photosPerSheetMax"] = most;
            state.counters["sheetsMissing"] = missing;
            state.counters["emptyDeskPhotos"] = emptyDesk;
            state.counters["photosWithHand"] = withHand;
            state.counters["photosUnknown"] = unknown;
            state.counters["photosMarked"] = marked;
            state.counters["latencyMeanMs"] = ofSheets > 0 ? double(latencySum) / ofSheets : 0.0;
            state.counters["latencyMaxMs"] = double(latencyMax);
            state.counters["frames"] = frames;
            // The strip follows the camera: its newest cell is in view.
            const int last = cells->count() - 1;
            state.counters["newestInView"] =
                last >= 0 && cells->viewport()->rect().contains(cells->visualItemRect(cells->item(last))) ? 1 : 0;
        }
        CaptureSession::process().reset();
        QDir::setCurrent(previous);
        if (stalled) {
            state.SkipWithError("the page stopped answering");
            break;
        }
    }
}
BENCHMARK(BM_TakePhotoHandsFreeDeskSwaps)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("AMBREL_CAMERA", "desk");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
