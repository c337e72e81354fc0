#include "capture/AutoShot.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "capture/StillCheck.h"

namespace {

// Samples per cell side at most when reducing: enough to average camera noise away, few enough to stay well under
// a millisecond for a 1280 × 720 frame.
constexpr int kSamplesPerSide = 3;

// The camera's exposure and the room's light scale the whole picture: the factor (in 1/256) that matches b's
// brightness to a's.
int brightnessScale(const QImage& a, const QImage& b)
{
    const double meanB = AutoShot::meanOf(b);
    const double gain = meanB > 1.0 ? std::clamp(AutoShot::meanOf(a) / meanB, 0.5, 2.0) : 1.0;
    return int(gain * 256);
}

} // namespace

AutoShot::AutoShot(const Tuning& tuning) : m_tuning(tuning) {}

double AutoShot::meanOf(const QImage& grey)
{
    qint64 sum = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            sum += line[x];
    }
    const qint64 n = qint64(grey.width()) * grey.height();
    return n > 0 ? double(sum) / n : 0.0;
}

QImage AutoShot::reduce(const QImage& frame)
{
    QImage small(kWidth, kHeight, QImage::Format_Grayscale8);
    if (frame.isNull()) {
        small.fill(0);
        return small;
    }
    const QImage rgb = (frame.format() == QImage::Format_RGB32 || frame.format() == QImage::Format_ARGB32)
                           ? frame
                           : frame.convertToFormat(QImage::Format_RGB32);
    const int w = rgb.width();
    const int h = rgb.height();
    // The columns sampled, each with the cell it falls in: the same for every row.
    std::vector<std::pair<int, int>> columns;
    std::vector<int> perCell(kWidth, 0);
    columns.reserve(kWidth * kSamplesPerSide);
    for (int cx = 0; cx < kWidth; ++cx) {
        const int x0 = cx * w / kWidth;
        const int x1 = std::max(x0 + 1, (cx + 1) * w / kWidth);
        const int step = std::max(1, (x1 - x0) / kSamplesPerSide);
        for (int x = x0; x < x1 && x < w; x += step) {
            columns.emplace_back(x, cx);
            ++perCell[cx];
        }
    }
    std::vector<int> sums(kWidth);
    for (int cy = 0; cy < kHeight; ++cy) {
        const int y0 = cy * h / kHeight;
        const int y1 = std::max(y0 + 1, (cy + 1) * h / kHeight);
        const int step = std::max(1, (y1 - y0) / kSamplesPerSide);
        std::fill(sums.begin(), sums.end(), 0);
        int rows = 0;
        for (int y = y0; y < y1 && y < h; y += step, ++rows) {
            const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
            for (const auto& column : columns) {
                const QRgb p = line[column.first];
                sums[column.second] += (qRed(p) * 77 + qGreen(p) * 150 + qBlue(p) * 29) >> 8;
            }
        }
        uchar* out = small.scanLine(cy);
        for (int cx = 0; cx < kWidth; ++cx) {
            const int n = perCell[cx] * rows;
            out[cx] = uchar(n > 0 ? sums[cx] / n : 0);
        }
    }
    return small;
}

double AutoShot::changedShare(const QImage& a, const QImage& b, int dx, int dy) const
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    const int scaled = brightnessScale(a, b);
    const int limit = m_tuning.pixelChange;
    const int w = a.width();
    const int h = a.height();
    int changed = 0;
    int compared = 0;
    for (int y = std::max(0, -dy); y < std::min(h, h - dy); ++y) {
        const uchar* la = a.constScanLine(y);
        const uchar* lb = b.constScanLine(y + dy);
        for (int x = std::max(0, -dx); x < std::min(w, w - dx); ++x) {
            const int pb = (lb[x + dx] * scaled) >> 8;
            if (std::abs(int(la[x]) - pb) > limit)
                ++changed;
            ++compared;
        }
    }
    return compared > 0 ? double(changed) / compared : 1.0;
}

// Pixels of b that no pixel around the same place in a explains: a shift by a fraction of a pixel only moves values
// between neighbours, a new mark or another sheet brings values that are not there.
double AutoShot::unexplainedShare(const QImage& a, const QImage& b, int dx, int dy) const
{
    const int scaled = brightnessScale(a, b);
    const int limit = m_tuning.pixelChange;
    const int w = a.width();
    const int h = a.height();
    int unexplained = 0;
    int compared = 0;
    for (int y = std::max(1, 1 - dy); y < std::min(h - 1, h - 1 - dy); ++y) {
        const uchar* rows[3] = {a.constScanLine(y - 1), a.constScanLine(y), a.constScanLine(y + 1)};
        const uchar* lb = b.constScanLine(y + dy);
        for (int x = std::max(1, 1 - dx); x < std::min(w - 1, w - 1 - dx); ++x) {
            int low = 255;
            int high = 0;
            for (const uchar* row : rows) {
                low = std::min({low, int(row[x - 1]), int(row[x]), int(row[x + 1])});
                high = std::max({high, int(row[x - 1]), int(row[x]), int(row[x + 1])});
            }
            const int pb = (lb[x + dx] * scaled) >> 8;
            if (pb < low - limit || pb > high + limit)
                ++unexplained;
            ++compared;
        }
    }
    return compared > 0 ? double(unexplained) / compared : 1.0;
}

double AutoShot::shiftedChangedShare(const QImage& a, const QImage& b) const
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    double best = 1.0;
    for (int dy = -m_tuning.maxShift; dy <= m_tuning.maxShift && best > 0; ++dy) {
        for (int dx = -m_tuning.maxShift; dx <= m_tuning.maxShift && best > 0; ++dx) {
            // Both ways: a mark that came and a mark that went.
            best = std::min(best, std::max(unexplainedShare(a, b, dx, dy), unexplainedShare(b, a, -dx, -dy)));
        }
    }
    return best;
}

bool AutoShot::sameAs(const QImage& reference, const QImage& small) const
{
    return !reference.isNull() && shiftedChangedShare(reference, small) < m_tuning.sameShare;
}

bool AutoShot::step(const QImage& frame, qint64 timeMs)
{
    const QImage small = reduce(frame);
    if (m_previous.isNull()) {
        m_previous = small;
        m_state = State::Moving;
        return false;
    }
    const double change = changedShare(m_previous, small);
    m_previous = small;

    switch (m_state) {
    case State::Waiting:
    case State::CoolDown:
        if (change > m_tuning.moveShare)
            m_state = State::Moving;
        return false;
    case State::Moving:
        if (change < m_tuning.stillShare) {
            m_state = State::Settling;
            m_anchor = small;
            m_settleStart = timeMs;
        }
        return false;
    case State::Settling:
        break;
    }

    // A hand creeping slowly changes little from frame to frame but much since settling began.
    if (change >= m_tuning.stillShare || changedShare(m_anchor, small) >= 2 * m_tuning.stillShare) {
        m_state = State::Moving;
        return false;
    }
    if (timeMs - m_settleStart < m_tuning.steadyMs)
        return false;
    return settled(frame, small);
}

// The picture has stayed still for the steady time: the desk, the sheet shot last, or a new sheet.
bool AutoShot::settled(const QImage& frame, const QImage& small)
{
    // Nothing lies there: follow the desk as the light changes. A picture without a sheet (before the first sheet,
    // after one left) is the desk; a press while it settled finds nothing to photograph.
    if (sameAs(m_desk, small) || !StillCheck::showsSheet(frame)) {
        m_desk = small;
        m_state = State::Waiting;
        m_pressed = false;
        return false;
    }
    if (!m_pressed && sameAs(m_lastShot, small)) {
        m_state = State::CoolDown;
        return false;
    }
    m_shotBefore = m_lastShot;
    m_lastShot = small;
    m_state = State::CoolDown;
    m_pressed = false;
    return true;
}

void AutoShot::shotMissed()
{
    if (m_state != State::CoolDown)
        return;
    m_lastShot = m_shotBefore;
    m_anchor = m_previous;
    m_state = State::Settling;
}

void AutoShot::shotTaken()
{
    if (m_previous.isNull())
        return;
    m_lastShot = m_previous;
    if (m_state == State::Settling)
        m_state = State::CoolDown;
}

bool AutoShot::deferPress()
{
    if (m_previous.isNull() || (m_state != State::Moving && m_state != State::Settling))
        return false;
    m_pressed = true;
    return true;
}

void AutoShot::reset()
{
    m_state = State::Moving;
    m_previous = QImage();
    m_anchor = QImage();
    m_desk = QImage();
    m_lastShot = QImage();
    m_shotBefore = QImage();
    m_settleStart = 0;
    m_pressed = false;
}

double AutoShot::settleProgress(qint64 timeMs) const
{
    if (m_state != State::Settling || m_tuning.steadyMs <= 0)
        return 0.0;
    return std::clamp(double(timeMs - m_settleStart) / m_tuning.steadyMs, 0.0, 1.0);
}
