#include "pages/PageMessageBox.h"

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
    // Own dark styling: the page sheets would otherwise cascade (the progress page sets 80 px text).
    box.setStyleSheet(QStringLiteral(
        "QMessageBox{background:rgba(25,28,37,1);}"
        "QLabel{font-size:14px;font-family:'Microsoft YaHei';color:white;background:transparent;}"
        "QPushButton{min-width:80px;min-height:30px;border-radius:4px;font-size:14px;font-family:'Microsoft YaHei';"
        "color:white;background:qlineargradient(x1:0,y1:1,x2:0,y2:0,stop:0 rgba(253,190,56,255),"
        "stop:1 rgba(253,167,56,255));}"));
    box.exec();
}

void PageMessageBox::setRecorder(Recorder newRecorder)
{
    recorder() = std::move(newRecorder);
}
