#include "pages/PageMessageBox.h"

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>

namespace {

PageMessageBox::Recorder& recorder()
{
    static PageMessageBox::Recorder instance;
    return instance;
}

} // namespace

void PageMessageBox::warning(QWidget* parent, const QString& title, const QString& text)
{
    if (recorder()) {
        recorder()(title, text);
        return;
    }
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
}

void PageMessageBox::setRecorder(Recorder newRecorder)
{
    recorder() = std::move(newRecorder);
}
