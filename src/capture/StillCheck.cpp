#include "capture/StillCheck.h"

#include <algorithm>

#include <QBuffer>
#include <QImageReader>

namespace {

constexpr int kCheckWidth = 512;
constexpr int kClippedLevel = 254;
// The run's sharpness is the median of its last stills; at least this many make a judgement.
constexpr int kHistory = 20;
constexpr int kMinHistory = 2;

} // namespace

QImage StillCheck::decodeGrey(const QByteArray& encoded)
{
    QBuffer buffer;
    buffer.setData(encoded);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.width() > kCheckWidth) {
        // A power of two: the JPEG decoder then scales while decoding, almost for free.
        int factor = 1;
        while (size.width() / (factor * 2) >= kCheckWidth)
            factor *= 2;
        reader.setScaledSize(size / factor);
    }
    const QImage image = reader.read();
    return image.isNull() ? QImage() : image.convertToFormat(QImage::Format_Grayscale8);
}

StillCheck::Result StillCheck::measure(const QImage& grey)
{
    Result r;
    if (grey.isNull() || grey.width() < 3 || grey.height() < 3)
        return r;
    const int w = grey.width();
    const int h = grey.height();
    qint64 sum = 0;
    qint64 clipped = 0;
    for (int y = 0; y < h; ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            sum += line[x];
            clipped += line[x] >= kClippedLevel ? 1 : 0;
        }
    }
    const double n = double(w) * h;
    r.mean = sum / n;
    r.clipped = clipped / n;

    double lapSum = 0;
    double lapSquares = 0;
    for (int y = 1; y < h - 1; ++y) {
        const uchar* up = grey.constScanLine(y - 1);
        const uchar* line = grey.constScanLine(y);
        const uchar* down = grey.constScanLine(y + 1);
        for (int x = 1; x < w - 1; ++x) {
            const int lap = up[x] + down[x] + line[x - 1] + line[x + 1] - 4 * line[x];
            lapSum += lap;
            lapSquares += double(lap) * lap;
        }
    }
    const double m = double(w - 2) * (h - 2);
    const double variance = lapSquares / m - (lapSum / m) * (lapSum / m);
    r.sharpness = variance / std::max(1.0, r.mean * r.mean);
    return r;
}

StillCheck::Result StillCheck::judge(const Result& measured) const
{
    Result r = measured;
    const double typical = typicalSharpness();
    if (r.mean < kDarkMean)
        r.problem = Problem::Dark;
    else if (r.clipped > kGlareShare)
        r.problem = Problem::Glare;
    else if (typical > 0 && r.sharpness < kBlurRatio * typical)
        r.problem = Problem::Blurred;
    else
        r.problem = Problem::None;
    return r;
}

void StillCheck::remember(const Result& result)
{
    if (result.problem == Problem::Blurred)
        return;
    m_sharpness.append(result.sharpness);
    if (m_sharpness.size() > kHistory)
        m_sharpness.removeFirst();
}

bool StillCheck::better(const Result& a, const Result& b)
{
    if (a.passed() != b.passed())
        return a.passed();
    // Among failed stills the one in better light, then the sharper one.
    const auto exposure = [](const Result& r) {
        return std::min(r.mean, StillCheck::kDarkMean) - 1000 * std::max(0.0, r.clipped - StillCheck::kGlareShare);
    };
    if (exposure(a) != exposure(b))
        return exposure(a) > exposure(b);
    return a.sharpness > b.sharpness;
}

double StillCheck::typicalSharpness() const
{
    if (m_sharpness.size() < kMinHistory)
        return 0;
    QVector<double> sorted = m_sharpness;
    std::sort(sorted.begin(), sorted.end());
    return sorted.at(sorted.size() / 2);
}

QString StillCheck::reasonText(Problem problem)
{
    switch (problem) {
    case Problem::Blurred:
        return QStringLiteral("照片可能模糊");
    case Problem::Dark:
        return QStringLiteral("光线过暗");
    case Problem::Glare:
        return QStringLiteral("反光过强");
    case Problem::None:
        break;
    }
    return QString();
}
