#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QVector>

// Checks a still before it is handed over: is it sharp (the variance of a Laplacian, judged against the stills of
// this run, since a sheet's own detail sets the scale), and is it lit well (the mean brightness and the share of
// blown-out pixels).
class StillCheck
{
public:
    enum class Problem
    {
        None,
        Blurred,
        Dark,
        Glare
    };

    struct Result
    {
        Problem problem = Problem::None;
        // Laplacian variance over the squared mean brightness: the same for a sheet in brighter or dimmer light.
        double sharpness = 0;
        double mean = 0;
        double clipped = 0; // share of pixels at the top of the scale
        bool passed() const { return problem == Problem::None; }
    };

    // Below this mean brightness a still is too dark...
    static constexpr double kDarkMean = 60;
    // ...above this share of blown-out pixels it shows glare...
    static constexpr double kGlareShare = 0.05;
    // ...and below this share of the run's typical sharpness it is blurred.
    static constexpr double kBlurRatio = 0.4;

    // The still as a grey picture about 512 pixels wide, decoded at that size (cheap for a JPEG); null when the
    // bytes are no image.
    static QImage decodeGrey(const QByteArray& encoded);
    static Result measure(const QImage& grey);

    // Judges the measured still against the stills remembered so far.
    Result judge(const Result& measured) const;
    Result judge(const QByteArray& encoded) const { return judge(measure(decodeGrey(encoded))); }
    // A still was handed over: its sharpness joins the run's, unless it was judged blurred.
    void remember(const Result& result);
    // Which of two stills of the same sheet is the better one to keep.
    static bool better(const Result& a, const Result& b);

    // The warning shown with a still that failed.
    static QString reasonText(Problem problem);

private:
    double typicalSharpness() const;

    QVector<double> m_sharpness;
};
