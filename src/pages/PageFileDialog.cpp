#include "pages/PageFileDialog.h"

#include <QFileDialog>

#include <optional>

namespace {

PageFileDialog::Chooser& chooser()
{
    static PageFileDialog::Chooser instance;
    return instance;
}

std::optional<QStringList>& nextFileNames()
{
    static std::optional<QStringList> instance;
    return instance;
}

} // namespace

QStringList PageFileDialog::getOpenFileNames(QWidget* parent, const QString& caption, const QString& directory,
                                             const QString& filter)
{
    if (nextFileNames()) {
        const QStringList paths = *nextFileNames();
        nextFileNames().reset();
        return paths;
    }
    if (chooser())
        return chooser()(Request{parent, caption, directory, filter});
    QFileDialog dialog(parent, caption, directory, filter);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    // The pages' dark sheets (80 px text on the progress page) cascade into children: give the dialog plain
    // readable styling of its own.
    dialog.setStyleSheet(
        QStringLiteral("QWidget{font-size:13px;font-family:'Microsoft YaHei';color:#202020;background:#f5f5f5;}"
                       "QLineEdit,QListView,QTreeView,QComboBox{background:white;border:1px solid #c8c8c8;}"
                       "QPushButton{background:white;border:1px solid #c8c8c8;border-radius:4px;padding:4px 14px;}"));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

void PageFileDialog::setChooser(Chooser newChooser)
{
    chooser() = std::move(newChooser);
}

void PageFileDialog::setNextFileNames(const QStringList& paths)
{
    nextFileNames() = paths;
}
