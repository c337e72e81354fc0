#pragma once

#include <QDialog>

class QLabel;
class QMovie;

// The translucent overlay laid over the main window that plays the tips animation.
class Tips : public QDialog
{
    Q_OBJECT

public:
    explicit Tips(QWidget* parent = nullptr);
    ~Tips() override;

    QMovie* movie() const { return m_movie; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QLabel* m_label = nullptr;
    QMovie* m_movie = nullptr;
};
