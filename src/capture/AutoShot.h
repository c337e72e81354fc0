#pragma once

#include <QImage>

// Decides from the live preview when a new sheet has been laid down and lies still, so that it is photographed
// without a press of the button. Works on small grey pictures of the preview (reduce()):
// waiting (the empty desk) → moving (a hand places a sheet) → settling (the picture stays still) → shot → cool-down
// (the sheet shot) until the next movement. The desk is learnt from the settled pictures that show no sheet (before
// the first sheet, after a sheet leaves; StillCheck::showsSheet) and followed as the light changes; a settled picture
// matching the desk or the sheet shot last is not shot, so a hand passing by, a sheet pushed a little or the light
// changing take no photograph. A sheet lying there when the watching starts is shot once.
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
    // Mean brightness of a grey picture.
    static double meanOf(const QImage& grey);

    // Feeds one live frame taken at timeMs; true when the sheet lying still is to be photographed now.
    bool step(const QImage& frame, qint64 timeMs);
    // A photograph was taken by other means (the button): the sheet now seen counts as shot.
    void shotTaken();
    // The shot step() asked for was not taken (the take guard): the next still picture asks again.
    void shotMissed();
    // The teacher asked for a photograph while something moves in the picture (a hand swapping the sheets): true
    // when it is left to the next settled picture, which is then shot unless it shows no sheet. False: the picture is
    // still, shoot now.
    bool deferPress();
    bool pressPending() const { return m_pressed; }
    // The desk is known (learnt from a settled picture without a sheet).
    bool knowsDesk() const { return !m_desk.isNull(); }
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
    bool settled(const QImage& frame, const QImage& small);

    Tuning m_tuning;
    // Until the first picture has settled nothing is known: it may show the desk or a sheet.
    State m_state = State::Moving;
    QImage m_previous;
    QImage m_anchor; // the picture when settling began
    QImage m_desk;
    QImage m_lastShot;
    QImage m_shotBefore; // the last shot before the one step() asked for
    qint64 m_settleStart = 0;
    bool m_pressed = false;
};
