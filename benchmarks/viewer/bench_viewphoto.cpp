// The photo viewer opened on camera-sized pages (6000 x 4000 JPEG): the time from a new page list to the first
// painted frame, the peak memory while paging through 20 such pages, and the memory a hidden viewer still holds.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include "viewer/ViewPhoto.h"

namespace {

using PageList = QList<std::pair<QString, QString>>;

constexpr int kPages = 20;
PageList g_pages;

// A marked answer sheet as a document camera delivers it: lines of writing on a slightly uneven background.
QString writeSheet(const QString& path)
{
    QImage image(6000, 4000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 6000, 4000);
    gradient.setColorAt(0, QColor(250, 250, 246));
    gradient.setColorAt(1, QColor(205, 208, 215));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(QPen(Qt::black, 4));
    for (int y = 150; y < 4000; y += 110)
        painter.drawLine(200, y, 5800 - (y % 700), y);
    painter.setPen(QPen(Qt::red, 10));
    for (int y = 300; y < 4000; y += 600)
        painter.drawEllipse(QPoint(5000, y), 120, 90);
    painter.end();
    image.save(path, "JPG", 90);
    return path;
}

long procStatusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double rssMb()
{
    return procStatusKb("VmRSS") / 1024.0;
}

// Bytes the program holds from the heap: unlike the resident size, not blurred by memory the allocator keeps
// for reuse after a free.
double heapInUseMb()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

double peakRssMb()
{
    return procStatusKb("VmHWM") / 1024.0;
}

// Starts the peak-memory count afresh from the current resident size.
void resetPeakRss()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

// The main window's client area with the viewer laid over it, as the main window opens it.
struct Host
{
    Host(int width, int height)
    {
        window.resize(width, height);
        viewer = new ViewPhoto(&window);
        viewer->hide();
        window.show();
        viewer->setFixedWidth(width);
        viewer->setFixedHeight(height);
    }
    QWidget window;
    ViewPhoto* viewer = nullptr;
};

// Paints the viewer as the screen would show it now.
void paint(QWidget* widget, QImage* target)
{
    QCoreApplication::processEvents();
    widget->render(target);
    benchmark::DoNotOptimize(target->constBits());
}

void BM_ViewerFirstShow6000x4000(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    QImage target(width, height, QImage::Format_ARGB32_Premultiplied);
    int page = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto* host = new Host(width, height);
        QCoreApplication::processEvents();
        state.ResumeTiming();

        host->viewer->setPhotoPath({g_pages.at(page++ % kPages)});
        host->viewer->show();
        paint(host->viewer, &target);

        state.PauseTiming();
        delete host;
        state.ResumeTiming();
    }
}

void BM_ViewerPageThrough20(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    QImage target(width, height, QImage::Format_ARGB32_Premultiplied);
    double peak = 0;
    double before = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto* host = new Host(width, height);
        QCoreApplication::processEvents();
        before = rssMb();
        resetPeakRss();
        state.ResumeTiming();

        host->viewer->setPhotoPath(g_pages);
        host->viewer->show();
        paint(host->viewer, &target);
        for (int i = 1; i < kPages; ++i) {
            host->viewer->rightToViewPhoto();
            paint(host->viewer, &target);
        }

        state.PauseTiming();
        peak = std::max(peak, peakRssMb());
        delete host;
        state.ResumeTiming();
    }
    state.counters["rss_before_MB"] = before;
    state.counters["peak_rss_MB"] = peak;
}

// What the viewer keeps after the teacher closed it: the heap in use above what it was before the page was shown.
void BM_ViewerHiddenKeeps(benchmark::State& state)
{
    QImage target(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::black); // resident before the count starts
    double kept = 0;
    for (auto _ : state) {
        // A first round loads the image plug-ins, fonts and icons, which stay whatever the viewer does.
        for (int round = 0; round < 2; ++round) {
            Host host(1920, 1080);
            QCoreApplication::processEvents();
            const double before = heapInUseMb();
            host.viewer->setPhotoPath({g_pages.at(round)});
            host.viewer->show();
            paint(host.viewer, &target);
            host.viewer->hide();
            QCoreApplication::processEvents();
            kept = heapInUseMb() - before;
        }
    }
    state.counters["kept_after_hide_MB"] = kept;
}

BENCHMARK(BM_ViewerFirstShow6000x4000)->Args({860, 543})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewerPageThrough20)->Args({860, 543})->Args({1920, 1080})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewerHiddenKeeps)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString first = writeSheet(dir.filePath(QStringLiteral("page00.jpg")));
    g_pages.append({first, QStringLiteral("1-1")});
    // Twenty files of the same content: every page is read and decoded from its own file.
    for (int i = 1; i < kPages; ++i) {
        const QString path = dir.filePath(QStringLiteral("page%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
        QFile::copy(first, path);
        g_pages.append({path, QStringLiteral("%1-%1").arg(i + 1)});
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
