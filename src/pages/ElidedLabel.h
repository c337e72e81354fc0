#pragma once

#include <QLabel>

// A one-line label that never runs past its width: text that does not fit ends in "…" and the whole text becomes
// the tooltip. Layouts may shrink it down to a few characters; it asks for the width of its whole text.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    QString fullText() const { return m_fullText; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();
    QSize withTextWidth(const QSize& shownHint, int textWidth) const;

    QString m_fullText;
};
