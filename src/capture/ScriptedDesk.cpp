#include "capture/ScriptedDesk.h"

#include <algorithm>
#include <cmath>

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kDesk(48, 52, 58);
const QColor kSkin(214, 160, 128);
// Where a sheet lies when put down, in shares of the picture.
constexpr double kPaperLeft = 0.12;
constexpr double kPaperTop = 0.04;
constexpr double kPaperWidth = 0.76;
constexpr double kPaperHeight = 0.92;
// Where the hand holds a sheet, and where it waits outside the picture.
constexpr double kGripX = 0.55;
constexpr double kGripY = 0.55;
constexpr double kOutsideX = 1.4;
// A dark sheet lies in a fifth of the light.
constexpr double kDarkLight = 0.22;

// The multiple-choice block: 20 questions of A to D in two columns from topLeft, one filled bubble each.
void drawBubbles(QPainter& p, QPointF topLeft, double rowH, double colW, double w, int variant)
{
    const double left = topLeft.x();
    const double top = topLeft.y();
    const double bubble = rowH * 0.6;
    for (int q = 0; q < 20; ++q) {
        const double x = left + (q / 10) * colW;
        const double y = top + (q % 10) * rowH;
        p.setPen(Qt::black);
        p.drawText(QPointF(x, y + bubble), QString::number(q + 1));
        for (int c = 0; c < 4; ++c) {
            const QRectF box(x + w * 0.04 + c * bubble * 2.2, y, bubble * 1.6, bubble);
            p.setPen(QPen(QColor(200, 40, 40), 1));
            if ((q * 7 + 3 + variant * (q + 1)) % 4 == c)
                p.setBrush(QColor(30, 30, 30));
            else
                p.setBrush(Qt::NoBrush);
            p.drawRect(box);
        }
    }
}

// The sheet drawn with its top-left corner at origin, in proportion to the picture (frame) it lies in.
void drawPaper(QPainter& p, const QRectF& paper, QSizeF frame, int variant)
{
    p.setRenderHint(QPainter::Antialiasing);
    const double w = frame.width();
    const double h = frame.height();
    p.fillRect(paper, QColor(250, 250, 246));

    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(qMax(6, int(h * 0.035)));
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRectF(paper.left(), paper.top() + h * 0.02, paper.width(), h * 0.05), Qt::AlignCenter,
               QStringLiteral("答题卡  数学"));
    font.setPixelSize(qMax(5, int(h * 0.022)));
    p.setFont(font);
    const QString who = variant == 0 ? QStringLiteral("姓名：张三    学号：2023015")
                                     : QStringLiteral("姓名：学生%1    学号：%2").arg(variant).arg(2023000 + variant);
    p.drawText(QPointF(paper.left() + w * 0.04, paper.top() + h * 0.11), who);

    // Multiple-choice block: 20 questions of A to D with one filled bubble each.
    const double left = paper.left() + w * 0.05;
    const double top = paper.top() + h * 0.16;
    const double rowH = h * 0.028;
    const double colW = paper.width() * 0.45;
    drawBubbles(p, QPointF(left, top), rowH, colW, w, variant);

    // Written answers: ruled lines with strokes, each student's of other lengths, and a red mark.
    p.setBrush(Qt::NoBrush);
    const double linesTop = top + 11 * rowH;
    const double strokeWidth = variant == 0 ? qMax(1.0, h * 0.002) : qMax(1.0, h * 0.004);
    for (int i = 0; i < 12; ++i) {
        const double y = linesTop + i * h * 0.045;
        p.setPen(QPen(QColor(180, 180, 190), 1));
        p.drawLine(QPointF(left, y), QPointF(paper.right() - w * 0.05, y));
        if (variant != 0 && (i + variant) % 4 == 0)
            continue;
        p.setPen(QPen(QColor(20, 20, 60), strokeWidth));
        QPainterPath stroke(QPointF(left + w * 0.01, y - h * 0.01));
        const double length = paper.width() * (0.4 + 0.05 * ((i * 5 + variant * 3) % 9));
        for (double t = 0; t < length; t += w * 0.012)
            stroke.lineTo(left + w * 0.01 + t, y - h * 0.01 - h * 0.008 * ((int(t) / 3 % 2) ? 1 : -0.3));
        p.drawPath(stroke);
    }
    p.setPen(QPen(QColor(220, 30, 30), qMax(1.0, h * 0.004)));
    font.setPixelSize(qMax(8, int(h * 0.07)));
    p.setFont(font);
    const QString score = variant == 0 ? QStringLiteral("92") : QString::number(55 + variant * 37 % 45);
    p.drawText(QPointF(paper.right() - w * 0.18, paper.top() + h * 0.12), score);
}

QRectF paperRect(QSize size)
{
    return QRectF(size.width() * kPaperLeft, size.height() * kPaperTop, size.width() * kPaperWidth,
                  size.height() * kPaperHeight);
}

double mix(double a, double b, double f)
{
    return a + (b - a) * f;
}

// The same pseudo-random value for the same inputs, so a frame's noise can be played again.
quint32 hash(quint32 x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

} // namespace

ScriptedDesk::Scene ScriptedDesk::last() const
{
    return m_keys.isEmpty() ? Scene() : m_keys.last().scene;
}

void ScriptedDesk::addKey(qint64 t, const Scene& scene)
{
    m_keys.append({t, scene});
    m_end = std::max(m_end, t);
}

ScriptedDesk& ScriptedDesk::wait(int ms)
{
    const Scene s = last();
    addKey(m_end, s);
    addKey(m_end + ms, s);
    return *this;
}

ScriptedDesk& ScriptedDesk::place(int sheet, Look look, int ms)
{
    Scene s = last();
    const qint64 t0 = m_end;
    s.sheet = sheet;
    s.look = look;
    s.hand = true;
    s.handX = kOutsideX;
    s.handY = kGripY;
    s.sheetX = kOutsideX - kGripX;
    s.sheetY = 0;
    addKey(t0, s);
    s.handX = kGripX;
    s.sheetX = 0;
    addKey(t0 + ms / 2, s);
    addKey(t0 + ms * 6 / 10, s);
    s.handX = kOutsideX;
    s.handY = kGripY + 0.1;
    addKey(t0 + ms, s);
    s.hand = false;
    addKey(t0 + ms, s);
    m_rests.append({t0 + ms, sheet});
    return *this;
}

void ScriptedDesk::handEnters(Scene& s, qint64 t)
{
    s.hand = true;
    s.handX = kOutsideX;
    s.handY = kGripY;
    addKey(t, s);
}

void ScriptedDesk::handLeaves(Scene& s, qint64 t)
{
    s.handX = kOutsideX;
    addKey(t, s);
    s.hand = false;
    addKey(t, s);
    if (s.sheet >= 0)
        m_rests.append({t, s.sheet});
}

ScriptedDesk& ScriptedDesk::remove(int ms)
{
    Scene s = last();
    const qint64 t0 = m_end;
    handEnters(s, t0);
    s.handX = kGripX + s.sheetX;
    s.handY = kGripY + s.sheetY;
    addKey(t0 + ms * 45 / 100, s);
    addKey(t0 + ms / 2, s);
    s.handX = kOutsideX;
    s.sheetX = kOutsideX - kGripX;
    addKey(t0 + ms, s);
    s.hand = false;
    s.sheet = -1;
    s.sheetX = 0;
    s.sheetY = 0;
    addKey(t0 + ms, s);
    return *this;
}

ScriptedDesk& ScriptedDesk::swap(int sheet, Look look, int ms)
{
    remove(ms / 2);
    return place(sheet, look, ms / 2);
}

ScriptedDesk& ScriptedDesk::nudge(double dx, double dy, int ms)
{
    Scene s = last();
    const qint64 t0 = m_end;
    handEnters(s, t0);
    s.handX = kGripX + s.sheetX;
    s.handY = kGripY + s.sheetY;
    addKey(t0 + ms * 4 / 10, s);
    s.sheetX += dx;
    s.sheetY += dy;
    s.handX += dx;
    s.handY += dy;
    addKey(t0 + ms * 6 / 10, s);
    handLeaves(s, t0 + ms);
    return *this;
}

ScriptedDesk& ScriptedDesk::linger(int ms)
{
    Scene s = last();
    const qint64 t0 = m_end;
    handEnters(s, t0);
    const double baseX = kGripX + s.sheetX + 0.1;
    const double baseY = kGripY + s.sheetY;
    constexpr int kIn = 400;
    constexpr int kWiggleMs = 150;
    s.handX = baseX;
    s.handY = baseY;
    addKey(t0 + kIn, s);
    // Small movements of a hand resting on the sheet: a pen tapping, fingers smoothing the paper.
    int i = 0;
    for (qint64 t = t0 + kIn + kWiggleMs; t < t0 + ms - kIn; t += kWiggleMs, ++i) {
        s.handX = baseX + 0.02 * std::sin(i * 1.7);
        s.handY = baseY + 0.02 * std::cos(i * 2.3);
        addKey(t, s);
    }
    handLeaves(s, t0 + ms);
    return *this;
}

ScriptedDesk& ScriptedDesk::lights(double factor, int ms)
{
    Scene s = last();
    addKey(m_end, s);
    s.light = factor;
    addKey(m_end + ms, s);
    return *this;
}

ScriptedDesk& ScriptedDesk::noise(int amplitude)
{
    m_noise = std::max(0, amplitude);
    return *this;
}

qint64 ScriptedDesk::durationMs() const
{
    return m_end;
}

ScriptedDesk::Scene ScriptedDesk::sceneAt(qint64 ms) const
{
    if (m_keys.isEmpty())
        return Scene();
    // The last key at or before ms; of several at the same moment, the last one.
    int i = 0;
    while (i + 1 < m_keys.size() && m_keys.at(i + 1).t <= ms)
        ++i;
    Scene s = m_keys.at(i).scene;
    if (i + 1 < m_keys.size() && ms > m_keys.at(i).t) {
        const Key& a = m_keys.at(i);
        const Key& b = m_keys.at(i + 1);
        const double f = double(ms - a.t) / double(b.t - a.t);
        s.sheetX = mix(a.scene.sheetX, b.scene.sheetX, f);
        s.sheetY = mix(a.scene.sheetY, b.scene.sheetY, f);
        s.handX = mix(a.scene.handX, b.scene.handX, f);
        s.handY = mix(a.scene.handY, b.scene.handY, f);
        s.light = mix(a.scene.light, b.scene.light, f);
    }
    return s;
}

const QImage& ScriptedDesk::sheetPicture(int sheet, Look look, QSize size) const
{
    const auto key = std::make_tuple(sheet, int(look), size.width(), size.height());
    auto it = m_sheetCache.find(key);
    if (it != m_sheetCache.end())
        return it->second;
    const QRectF paper = paperRect(size);
    QImage picture(paper.size().toSize(), QImage::Format_RGB32);
    picture.fill(kDesk);
    {
        QPainter p(&picture);
        drawPaper(p, QRectF(QPointF(0, 0), paper.size()), size, sheet);
    }
    if (look == Look::Blurred) {
        // Out of focus: the detail of a picture six times smaller.
        const QSize coarse = (picture.size() / 6).expandedTo(QSize(1, 1));
        picture = picture.scaled(coarse, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    // A few sizes of a few sheets are in use at a time.
    if (m_sheetCache.size() > 16)
        m_sheetCache.clear();
    return m_sheetCache.emplace(key, picture).first->second;
}

QImage ScriptedDesk::render(qint64 ms, QSize size, bool withNoise) const
{
    const Scene s = sceneAt(ms);
    QImage image(size, QImage::Format_RGB32);
    image.fill(kDesk);
    const double w = size.width();
    const double h = size.height();
    QPainter p(&image);
    if (s.sheet >= 0) {
        const QRectF paper = paperRect(size);
        p.drawImage(QPointF(paper.left() + s.sheetX * w, paper.top() + s.sheetY * h),
                    sheetPicture(s.sheet, s.look, size));
    }
    if (s.hand) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(kSkin);
        const QPointF palm(s.handX * w, s.handY * h);
        // The forearm reaches in from the right edge.
        QPainterPath arm;
        arm.moveTo(palm + QPointF(0, -h * 0.07));
        arm.lineTo(w * 1.6, s.handY * h - h * 0.02);
        arm.lineTo(w * 1.6, s.handY * h + h * 0.16);
        arm.lineTo(palm + QPointF(0, h * 0.08));
        arm.closeSubpath();
        p.drawPath(arm);
        p.drawEllipse(palm, w * 0.07, h * 0.1);
        for (int f = 0; f < 4; ++f)
            p.drawRoundedRect(QRectF(palm.x() - w * 0.13, palm.y() - h * 0.085 + f * h * 0.045, w * 0.09, h * 0.035),
                              h * 0.015, h * 0.015);
    }
    p.end();

    const double light = s.light * (s.sheet >= 0 && s.look == Look::Dark ? kDarkLight : 1.0);
    const int gain = int(std::lround(light * 256));
    const int amplitude = withNoise ? m_noise : 0;
    if (gain == 256 && amplitude == 0)
        return image;
    const quint32 seed = hash(quint32(ms) * 2654435761U);
    for (int y = 0; y < image.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n =
                amplitude > 0 ? int(hash(seed ^ quint32(y * 8191 + x)) % quint32(2 * amplitude + 1)) - amplitude : 0;
            const QRgb c = line[x];
            line[x] = qRgb(qBound(0, ((qRed(c) * gain) >> 8) + n, 255), qBound(0, ((qGreen(c) * gain) >> 8) + n, 255),
                           qBound(0, ((qBlue(c) * gain) >> 8) + n, 255));
        }
    }
    return image;
}

QImage ScriptedDesk::frame(qint64 ms, QSize size) const
{
    return render(ms, size, true);
}

QImage ScriptedDesk::still(qint64 ms, QSize size) const
{
    return render(ms, size, false);
}

ScriptedDesk ScriptedDesk::demo(int rounds)
{
    ScriptedDesk desk;
    desk.noise(3).wait(2500);
    for (int r = 0; r < rounds; ++r) {
        const int first = 1 + r * 6;
        desk.place(first).wait(2500);
        desk.swap(first + 1).wait(2500);
        desk.swap(first + 2, r == 0 ? Look::Blurred : Look::Sharp).wait(2500);
        desk.swap(first + 3, r == 0 ? Look::Dark : Look::Sharp).wait(2500);
        desk.remove().wait(2000);
        desk.place(first + 4).linger(2500).wait(2000);
        desk.nudge(0.01, 0.008).wait(2000);
        desk.swap(first + 5).wait(2500);
        desk.remove().wait(3000);
    }
    return desk;
}

QImage ScriptedDesk::drawSheetOnDesk(QSize size, int variant)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(kDesk);
    QPainter p(&image);
    drawPaper(p, paperRect(size), size, variant);
    return image;
}
