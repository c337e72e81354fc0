#include "capture/StillCheck.h"

#include <algorithm>

#include <QBuffer>
#include <QImageReader>

#include "capture/AutoShot.h"

namespace {

constexpr int kCheckWidth = 512;
constexpr int kClippedLevel = 254;
// The run's sharpness is the median of its last stills; at least this many make a judgement.
constexpr int kHistory = 20;
constexpr int kMinHistory = 2;

// Sheet or not, on a grid of samples across the picture.
constexpr int kGridWidth = 160;
constexpr int kGridHeight = 120;
// Paper is at least this share of the brightness of the picture's brightest part (its 95th percentile)...
constexpr double kPaperLevel = 0.6;
// ...and marks on it (and the desk around it) at most this share.
constexpr double kMarkLevel = 0.5;
// Below this the brightest part is black: nothing to judge, no sheet.
constexpr int kMinBrightest = 12;
// A sheet covers at least this share of the picture with paper...
constexpr double kMinPaperShare = 0.25;
// ...and shows at least this share of marks (a plain surface is no sheet).
constexpr double kMinMarkShare = 0.003;

// The reduced still stretched to a mean of 128: a retake in other light (the exposure still settling, a lamp
// switched on) is compared by its content.
QImage normalised(const QImage& small)
{
    QImage out = small.convertToFormat(QImage::Format_Grayscale8);
    const double mean = AutoShot::meanOf(out);
    if (mean <= 0)
        return out;
    const double gain = 128.0 / mean;
    for (int y = 0; y < out.height(); ++y) {
        uchar* line = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x)
            line[x] = uchar(std::min(255.0, line[x] * gain));
    }
    return out;
}

} // namespace

QImage StillCheck::decode(const QByteArray& encoded)
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
    return reader.read();
}

bool StillCheck::showsSheet(const QImage& picture)
{
    if (picture.isNull())
        return false;
    const QImage rgb = picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
                           ? picture
                           : picture.convertToFormat(QImage::Format_RGB32);
    const int w = rgb.width();
    const int h = rgb.height();
    QVector<uchar> luma;
    QVector<bool> colourless;
    luma.reserve(kGridWidth * kGridHeight);
    colourless.reserve(kGridWidth * kGridHeight);
    int histogram[256] = {};
    for (int gy = 0; gy < kGridHeight; ++gy) {
        const QRgb* line =
            reinterpret_cast<const QRgb*>(rgb.constScanLine(std::min(h - 1, (2 * gy + 1) * h / (2 * kGridHeight))));
        for (int gx = 0; gx < kGridWidth; ++gx) {
            const QRgb p = line[std::min(w - 1, (2 * gx + 1) * w / (2 * kGridWidth))];
            const int high = std::max({qRed(p), qGreen(p), qBlue(p)});
            const int low = std::min({qRed(p), qGreen(p), qBlue(p)});
            const int y = (qRed(p) * 77 + qGreen(p) * 150 + qBlue(p) * 29) >> 8;
            luma.append(uchar(y));
            // Skin and wood have colour; paper under any white light has little.
            colourless.append(high - low <= high / 5 + 10);
            ++histogram[y];
        }
    }
    const int n = luma.size();
    int brightest = 255;
    for (int seen = 0; brightest > 0; --brightest) {
        seen += histogram[brightest];
        if (seen >= n / 20)
            break;
    }
    if (brightest < kMinBrightest)
        return false;
    int paper = 0;
    int marks = 0;
    for (int i = 0; i < n; ++i) {
        if (luma.at(i) >= kPaperLevel * brightest && colourless.at(i))
            ++paper;
        else if (luma.at(i) <= kMarkLevel * brightest)
            ++marks;
    }
    return paper >= kMinPaperShare * n && marks >= kMinMarkShare * n;
}

StillCheck::Result StillCheck::measure(const QImage& picture)
{
    Result r;
    if (picture.isNull() || picture.width() < 3 || picture.height() < 3)
        return r;
    r.sheet = showsSheet(picture);
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
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
    // The empty desk is no dark sheet: it is said as what it is.
    if (!r.sheet)
        r.problem = Problem::NoSheet;
    else if (r.mean < kDarkMean)
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
    if (result.problem == Problem::Blurred || result.problem == Problem::NoSheet)
        return;
    m_sharpness.append(result.sharpness);
    if (m_sharpness.size() > kHistory)
        m_sharpness.removeFirst();
}

bool StillCheck::better(const Result& a, const Result& b)
{
    if (a.sheet != b.sheet)
        return a.sheet;
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

StillCheck::Retake StillCheck::afterRetake(const Result& first, const QImage& firstSmall, const Result& retake,
                                           const QImage& retakeSmall)
{
    // The desk or a hand is never kept in place of a sheet.
    if (!retake.sheet)
        return Retake::KeepFirst;
    if (!first.sheet)
        return Retake::KeepRetake;
    // The sheet was swapped meanwhile: the first still is the only one of its sheet. Told as auto shot tells a new
    // sheet from the last one shot (another student's sheet of the same form differs in about 2 % of the reduced
    // picture), in light made equal: a retake a moment later may be lit otherwise.
    const AutoShot compare;
    if (compare.shiftedChangedShare(normalised(firstSmall), normalised(retakeSmall)) >= AutoShot::Tuning().sameShare)
        return Retake::KeepBoth;
    return better(retake, first) ? Retake::KeepRetake : Retake::KeepFirst;
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
    case Problem::NoSheet:
        return QStringLiteral("未拍到答题卡");
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
