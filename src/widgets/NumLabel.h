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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Kept apart from QLabel's own text, which stays empty so that the label never draws it.
    QString text;
};
