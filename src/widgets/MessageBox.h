#pragma once

#include <functional>

#include <QMessageBox>
#include <QString>

// winuser.h names its message box function MessageBox: keep it from renaming this class.
#ifdef MessageBox
#undef MessageBox
#endif

// The client's modal message boxes, behind one seam so that tests read what the teacher would be told and answer
// it without a modal box.
class MessageBox
{
public:
    using Button = QMessageBox::StandardButton;
    struct Shown
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };
    using Answerer = std::function<Button(const Shown& box)>;

    // A plain information box with an OK button.
    static Button information(QWidget* parent, const QString& title, const QString& text);
    // A warning in the pages' dark look, with an OK button.
    static Button warning(QWidget* parent, const QString& title, const QString& text);

    // Tests: the next box only is answered with answer and not shown.
    static void setNextAnswer(Button answer);
    // Tests: every later box is handed to answerer and not shown; an empty answerer shows the boxes again.
    static void setAnswerer(Answerer answerer);

private:
    static bool answeredForTest(const Shown& box, Button* answer);
};
