#pragma once

#include <QByteArray>
#include <QString>

// The four values the program is started with, parsed once from the launch argument
// (leading text + "//" + taskId + "_" + token + "_" + uid + "_" + title).
struct LaunchContext
{
    QString taskId;
    QString token;
    QString uid;
    QString taskTitle;

    static LaunchContext parse(const QByteArray& argument);

    // Decodes "%XX" escapes only; malformed escapes are kept literally.
    static QByteArray percentDecode(const QByteArray& text);

    // Whether the argument named a task and the teacher: without all three nothing can be uploaded or asked.
    bool isComplete() const;

    // The title shown in the window: taskTitle without its last character.
    QString displayTitle() const;

    // What the teacher is told on taking or importing an image when the argument named no task: with no task
    // folder nothing would ever upload it.
    static QString missingTaskText();
};
