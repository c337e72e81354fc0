#pragma once

#include <QLabel>

// The small dark badge of a student tile ("3张"). Only the text is painted by hand; the rounded black background
// comes from the style sheet.
class NumLabel : public QLabel
{
    Q_OBJECT

public:
    NumLabel(const QString& text, QWidget* parent = nullptr);

    QString badgeText() const { return text; }
    // The badge's usual 36 px, or as wide as its whole text needs beside the rounded corner.
    int fittingWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Kept apart from QLabel's own text, which stays empty so that the label never draws it.
    QString text;
};
