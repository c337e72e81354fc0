#pragma once

#include <QString>

#include <functional>

class QWidget;

// The pages' warning message box, behind a seam so tests read what the teacher would be told without a modal box.
class PageMessageBox
{
public:
    using Recorder = std::function<void(const QString& title, const QString& text)>;

    static void warning(QWidget* parent, const QString& title, const QString& text);

    // Tests: warnings go to recorder instead of a modal box; an empty recorder restores the box.
    static void setRecorder(Recorder recorder);
};
