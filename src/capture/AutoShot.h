#pragma once

#include <QImage>

// Decides from the live preview when a new sheet has been laid down and lies still, so that it is photographed
// without a press of the button. Works on small grey pictures of the preview (reduce()):
// waiting (same sheet or empty desk) → moving (a hand places a sheet) → settling (the picture stays still) → shot →
// cool-down until the next movement. A settled picture is not shot when it shows the empty desk or the sheet shot
// last, so a hand passing by, a sheet pushed a little or the light changing take no photograph.
class AutoShot
{
public:
    enum class State
    {
        Waiting,
        Moving,
        Settling,
        CoolDown
    };

    struct Tuning
    {
        // A pixel of the small picture has changed when it differs by more than this (0..255, after the two
        // pictures' brightness is matched).
        int pixelChange = 24;
        // Share of changed pixels between two frames above which something moves...
        double moveShare = 0.01;
        // ...and below which the picture is still.
        double stillShare = 0.004;
        // How long the picture must stay still before the shot.
        qint64 steadyMs = 700;
        // A settled picture showing the empty desk or the last shot differs from it in less than this share, even
        // after the best shift of up to maxShift pixels (a sheet pushed a little).
        double sameShare = 0.01;
        int maxShift = 2;
    };

    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;

    AutoShot() = default;
    explicit AutoShot(const Tuning& tuning);

    // The preview frame as a small grey picture (kWidth × kHeight, 8 bits); cheap for any frame size.
    static QImage reduce(const QImage& frame);

    // Feeds one small grey picture taken at timeMs; true when the sheet lying still is to be photographed now.
    // The first picture after a reset is taken as the empty desk.
    bool step(const QImage& small, qint64 timeMs);
    // A photograph was taken by other means (the button): the sheet now seen counts as shot.
    void shotTaken();
    void reset();

    State state() const { return m_state; }
    // 0..1 while settling: how much of the steady time has passed.
    double settleProgress(qint64 timeMs) const;

    // Share of pixels that differ between two small pictures of the same size, brightness matched.
    double changedShare(const QImage& a, const QImage& b, int dx = 0, int dy = 0) const;
    // Share of pixels that differ between two small pictures, over the best shift of up to maxShift pixels either way
    // and with a pixel's neighbours allowed for (a sheet pushed by a fraction of a pixel).
    double shiftedChangedShare(const QImage& a, const QImage& b) const;

private:
    double unexplainedShare(const QImage& a, const QImage& b, int dx, int dy) const;
    bool sameAs(const QImage& reference, const QImage& small) const;

    Tuning m_tuning;
    State m_state = State::Waiting;
    QImage m_previous;
    QImage m_anchor; // the picture when settling began
    QImage m_desk;
    QImage m_lastShot;
    qint64 m_settleStart = 0;
};
