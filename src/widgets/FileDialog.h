#pragma once

#include <functional>

#include <QString>
#include <QStringList>

class QWidget;

// The open-files dialog, behind a seam so tests choose the files without a real dialog.
class FileDialog
{
public:
    struct Request
    {
        QWidget* parent = nullptr;
        QString caption;
        QString directory;
        QString filter;
    };
    // Answers a request with the chosen paths; an empty list means the teacher cancelled.
    using Chooser = std::function<QStringList(const Request&)>;

    static QStringList getOpenFileNames(QWidget* parent, const QString& caption, const QString& directory,
                                        const QString& filter);

    // Tests: every later request is answered by chooser instead of the standard dialog; an empty chooser restores
    // the dialog.
    static void setChooser(Chooser chooser);
    // Tests: the next request only is answered with these paths.
    static void setNextFileNames(const QStringList& paths);
};
