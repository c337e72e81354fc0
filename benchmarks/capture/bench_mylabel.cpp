// Repaint cost of the viewer's image surface during a drag: a 2048 x 1536 JPEG shown at 860 x 540, with the decoded
// image kept between paints beside decoding the file at every paint.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>

#include "widgets/MyLabel.h"

namespace {

QString g_photo;

QString writePhoto(const QTemporaryDir& dir)
{
    QImage image(2048, 1536, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 2048, 1536);
    gradient.setColorAt(0, QColor(250, 250, 246));
    gradient.setColorAt(1, QColor(200, 205, 215));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::black);
    for (int y = 60; y < 1536; y += 48)
        painter.drawLine(80, y, 1968, y);
    painter.end();
    const QString path = dir.filePath(QStringLiteral("sheet.jpg"));
    image.save(path, "JPG", 90);
    return path;
}

void dragRepaint(benchmark::State& state, bool cached)
{
    MyLabel label;
    label.resize(860, 540);
    label.setDecodeCacheEnabled(cached);
    label.OnSelectImage(g_photo);
    label.OnZoomInImage();
    QImage target(860, 540, QImage::Format_ARGB32_Premultiplied);
    label.render(&target); // first decode outside the measurement

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(400, 300), QPointF(400, 300), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&label, &press);
    int x = 400;
    int step = 3;
    for (auto _ : state) {
        x += step;
        if (x > 700 || x < 100)
            step = -step;
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 300), QPointF(x, 300), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(&label, &move);
        label.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}

void BM_MyLabelDragRepaintCached(benchmark::State& state)
{
    dragRepaint(state, true);
}

void BM_MyLabelDragRepaintDecodeEveryPaint(benchmark::State& state)
{
    dragRepaint(state, false);
}

BENCHMARK(BM_MyLabelDragRepaintCached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MyLabelDragRepaintDecodeEveryPaint)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    g_photo = writePhoto(dir);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
