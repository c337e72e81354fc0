#include "widgets/FileDialog.h"

#include <algorithm>
#include <optional>

#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace {

// Room for the folder tree, the file list and the name and type rows, on the smallest screens too.
const QSize DialogSize(760, 480);

FileDialog::Chooser& chooser()
{
    static FileDialog::Chooser instance;
    return instance;
}

std::optional<QStringList>& nextFileNames()
{
    static std::optional<QStringList> instance;
    return instance;
}

} // namespace

QStringList FileDialog::getOpenFileNames(QWidget* parent, const QString& caption, const QString& directory,
                                         const QString& filter)
{
    if (nextFileNames()) {
        const QStringList paths = *nextFileNames();
        nextFileNames().reset();
        return paths;
    }
    if (chooser())
        return chooser()(Request{parent, caption, directory, filter});
    // Without a parent widget: the pages' style sheets (80 px text on the progress page, dark backgrounds)
    // cascade into every child widget, and no sheet of the dialog's own undoes all of them. The dialog stays tied
    // to the main window as a transient window and opens centred over it, at one size from every page.
    QFileDialog dialog(nullptr, caption, directory, filter);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setWindowModality(Qt::ApplicationModal);
    QWidget* owner = parent ? parent->window() : nullptr;
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize size = DialogSize.boundedTo(available.size() - QSize(40, 40));
    dialog.resize(size);
    if (owner) {
        dialog.winId();
        dialog.windowHandle()->setTransientParent(owner->windowHandle());
    }
    QRect frame(QPoint(), size);
    frame.moveCenter(owner ? owner->frameGeometry().center() : available.center());
    // Never partly off the screen, whatever the main window's position.
    frame.moveLeft(std::clamp(frame.left(), available.left(), available.right() - frame.width() + 1));
    frame.moveTop(std::clamp(frame.top(), available.top(), available.bottom() - frame.height() + 1));
    dialog.move(frame.topLeft());
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

void FileDialog::setChooser(Chooser newChooser)
{
    chooser() = std::move(newChooser);
}

void FileDialog::setNextFileNames(const QStringList& paths)
{
    nextFileNames() = paths;
}
