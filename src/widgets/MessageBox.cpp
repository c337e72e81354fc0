#include "widgets/MessageBox.h"

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>

namespace {

MessageBox::Answerer& answerer()
{
    static MessageBox::Answerer instance;
    return instance;
}

MessageBox::Button& nextAnswer()
{
    static MessageBox::Button instance = QMessageBox::NoButton;
    return instance;
}

} // namespace

bool MessageBox::answeredForTest(const Shown& box, Button* answer)
{
    if (nextAnswer() != QMessageBox::NoButton) {
        *answer = nextAnswer();
        nextAnswer() = QMessageBox::NoButton;
        return true;
    }
    if (!answerer())
        return false;
    *answer = answerer()(box);
    return true;
}

MessageBox::Button MessageBox::information(QWidget* parent, const QString& title, const QString& text)
{
    Button answer = QMessageBox::NoButton;
    if (answeredForTest(Shown{QMessageBox::Information, title, text}, &answer))
        return answer;
    return QMessageBox::information(parent, title, text);
}

MessageBox::Button MessageBox::warning(QWidget* parent, const QString& title, const QString& text)
{
    Button answer = QMessageBox::NoButton;
    if (answeredForTest(Shown{QMessageBox::Warning, title, text}, &answer))
        return answer;
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    // The page sheets cascade into the box (the progress page sets 80 px white text on every descendant), and
    // only a widget's own sheet reliably wins over them: give the box and each of its parts one.
    box.setStyleSheet(QStringLiteral("QMessageBox{background:rgba(25,28,37,1);}"));
    for (QLabel* label : box.findChildren<QLabel*>()) {
        label->setStyleSheet(QStringLiteral("font-size:14px;font-family:'Microsoft YaHei';color:white;"
                                            "background:transparent;"));
    }
    for (QAbstractButton* button : box.buttons()) {
        button->setIcon(QIcon());
        button->setStyleSheet(
            QStringLiteral("min-width:80px;min-height:30px;border:0px;border-radius:4px;font-size:14px;"
                           "font-family:'Microsoft YaHei';color:white;background:qlineargradient(x1:0,y1:1,x2:0,y2:0,"
                           "stop:0 rgba(253,190,56,255),stop:1 rgba(253,167,56,255));"));
    }
    box.exec();
    return QMessageBox::Ok;
}

void MessageBox::setNextAnswer(Button answer)
{
    nextAnswer() = answer;
}

void MessageBox::setAnswerer(Answerer newAnswerer)
{
    answerer() = std::move(newAnswerer);
}
