#pragma once

#include <map>
#include <tuple>

#include <QImage>
#include <QSize>
#include <QVector>

// A desk under the document camera that plays a script: answer sheets laid down and taken away by a hand, pauses,
// an empty desk, the light changing, camera noise. The simulated camera shows it, and the hands-free capture is
// measured and tested against it, since the script also knows what lies on the desk at every moment.
class ScriptedDesk
{
public:
    enum class Look
    {
        Sharp,
        Blurred,
        Dark
    };

    // What the camera sees at one moment. Positions are shares of the picture's width and height; the sheet's is
    // its offset from where it lies when put down, the hand's the centre of its palm.
    struct Scene
    {
        int sheet = -1; // -1: no sheet
        Look look = Look::Sharp;
        double sheetX = 0;
        double sheetY = 0;
        bool hand = false;
        double handX = 1.4;
        double handY = 0.6;
        double light = 1.0;
    };

    // A sheet lying untouched from a moment on (the hand has just let go of it).
    struct Rest
    {
        qint64 fromMs;
        int sheet;
    };

    // Every step starts where the last ended; durations in milliseconds.
    ScriptedDesk& wait(int ms);
    // The hand brings the sheet in from the right, puts it down and goes.
    ScriptedDesk& place(int sheet, Look look = Look::Sharp, int ms = 1400);
    // The hand takes the lying sheet away.
    ScriptedDesk& remove(int ms = 1200);
    // Takes the lying sheet away and brings the next one in one movement.
    ScriptedDesk& swap(int sheet, Look look = Look::Sharp, int ms = 1800);
    // The hand pushes the lying sheet by (dx, dy) and goes.
    ScriptedDesk& nudge(double dx, double dy, int ms = 1000);
    // The hand stays over the lying sheet, moving a little, then goes.
    ScriptedDesk& linger(int ms);
    // The light goes to factor (1: as at the start) over ms (0: at once).
    ScriptedDesk& lights(double factor, int ms);
    // Camera noise: each pixel of each frame moves by up to ± amplitude grey levels.
    ScriptedDesk& noise(int amplitude);

    qint64 durationMs() const;
    Scene sceneAt(qint64 ms) const;
    const QVector<Rest>& rests() const { return m_rests; }

    // The live picture at ms; noise differs from frame to frame but is the same for the same ms.
    QImage frame(qint64 ms, QSize size) const;
    // The scene without noise, as a still photograph shows it.
    QImage still(qint64 ms, QSize size) const;

    // The demonstration: rounds of sheets laid, swapped and removed, one blurred and one dark sheet, a hand that
    // lingers, a sheet pushed a little and the empty desk between.
    static ScriptedDesk demo(int rounds = 30);

    // An answer sheet lying on the dark desk, filling a picture of size; variant 0 is the plain sheet, others carry
    // other names, marks and answers.
    static QImage drawSheetOnDesk(QSize size, int variant);

private:
    struct Key
    {
        qint64 t;
        Scene scene;
    };

    Scene last() const;
    void addKey(qint64 t, const Scene& scene);
    // The hand appears at the desk's edge at the height it grips a sheet.
    void handEnters(Scene& s, qint64 t);
    // The hand goes out of the picture at t, leaving the sheet it held (if any) at rest there.
    void handLeaves(Scene& s, qint64 t);
    QImage render(qint64 ms, QSize size, bool withNoise) const;
    const QImage& sheetPicture(int sheet, Look look, QSize size) const;

    QVector<Key> m_keys;
    QVector<Rest> m_rests;
    qint64 m_end = 0;
    int m_noise = 0;
    mutable std::map<std::tuple<int, int, int, int>, QImage> m_sheetCache;
};
