#include "capture/CaptureMessages.h"

#include <QMessageBox>

namespace {

std::function<void(const QString&, const QString&)>& recorder()
{
    static std::function<void(const QString&, const QString&)> r;
    return r;
}

} // namespace

namespace CaptureMessages {

void information(const QString& title, const QString& text)
{
    if (recorder()) {
        recorder()(title, text);
        return;
    }
    QMessageBox::information(nullptr, title, text);
}

void setRecorder(std::function<void(const QString& title, const QString& text)> r)
{
    recorder() = std::move(r);
}

} // namespace CaptureMessages
