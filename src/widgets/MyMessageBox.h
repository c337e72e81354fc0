#pragma once

#include <QWidget>

class QLabel;

// The small translucent hint the photo viewer shows at the first or last page.
class MyMessageBox : public QWidget
{
    Q_OBJECT

public:
    explicit MyMessageBox(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;

private:
    QLabel* m_iconLabel = nullptr;
    QLabel* m_textLabel = nullptr;
};
