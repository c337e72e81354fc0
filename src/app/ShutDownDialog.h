#pragma once

#include <QDialog>

// Placeholder: stands in with the members the main window uses until the real widget is built.
class ShutDownDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ShutDownDialog(QWidget* parent = nullptr);
    void setImageFolder(const QString& taskId);
    bool checkPending();
signals:
    void shutDownApplication();
    void toHomePageUi();
public slots:

};
