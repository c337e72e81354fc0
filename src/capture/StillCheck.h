#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QVector>

// Checks a still before it is handed over: does it show a sheet at all (paper with marks on it, not the empty desk
// or a hand), is it sharp (the variance of a Laplacian, judged against the stills of this run, since a sheet's own
// detail sets the scale), and is it lit well (the mean brightness and the share of blown-out pixels). Decides which
// of a still and its retake to keep.
class StillCheck
{
public:
    enum class Problem
    {
        None,
        NoSheet,
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
        bool sheet = false; // paper with marks on it covers a good part of the picture
        bool passed() const { return problem == Problem::None; }
    };

    // Below this mean brightness a still is too dark...
    static constexpr double kDarkMean = 60;
    // ...above this share of blown-out pixels it shows glare...
    static constexpr double kGlareShare = 0.05;
    // ...and below this share of the run's typical sharpness it is blurred.
    static constexpr double kBlurRatio = 0.4;

    // What became of a still and the retake taken because it failed.
    enum class Retake
    {
        KeepFirst,  // the retake shows no sheet, or the same sheet no better
        KeepRetake, // the same sheet, better; or the first showed no sheet
        KeepBoth    // another sheet: a retake never stands in for a different sheet
    };

    // The still about 512 pixels wide, decoded at that size (cheap for a JPEG); null when the bytes are no image.
    static QImage decode(const QByteArray& encoded);
    // Measures a picture of any format (colour tells paper from a hand).
    static Result measure(const QImage& picture);
    // Paper (bright and without colour, against the picture's brightest part) over a quarter of the picture and
    // more, with darker marks: a sheet. The empty desk has no paper or no marks; a hand has colour.
    static bool showsSheet(const QImage& picture);

    // Judges the measured still against the stills remembered so far.
    Result judge(const Result& measured) const;
    Result judge(const QByteArray& encoded) const { return judge(measure(decode(encoded))); }
    // A still was handed over: its sharpness joins the run's, unless it was judged blurred.
    void remember(const Result& result);
    // Which of two stills of the same sheet is the better one to keep.
    static bool better(const Result& a, const Result& b);
    // Compares a retake with the still it would replace, both as AutoShot::reduce() pictures.
    static Retake afterRetake(const Result& first, const QImage& firstSmall, const Result& retake,
                              const QImage& retakeSmall);

    // The warning shown with a still that failed.
    static QString reasonText(Problem problem);

private:
    double typicalSharpness() const;

    QVector<double> m_sharpness;
};
