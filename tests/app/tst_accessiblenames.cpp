#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QtTest>

#include "FakeProcessPlatform.h"
#include "TestUtils.h"
#include "app/AmbrelClient.h"
#include "app/Housekeeping.h"
#include "app/ShutDownDialog.h"
#include "app/StartUp.h"
#include "app/TitleBar.h"
#include "app/TrayProgramManager.h"
#include "capture/TakePhoto.h"
#include "core/Settings.h"
#include "pages/DisplayPhoto.h"
#include "pages/HomePage.h"
#include "pages/ReTakePhoto.h"
#include "viewer/ViewPhoto.h"

namespace {

FakeProcessPlatform s_processes;

bool isChinese(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    }
    return false;
}

// The page (or other top part) a widget belongs to, and its object names from there down.
QString pageOf(const QWidget* widget)
{
    for (const QObject* object = widget; object; object = object->parent()) {
        for (const char* page : {"HomePage", "TakePhoto", "ReTakePhoto", "DisplayPhoto", "ViewPhoto", "TitleBar",
                                 "ShutDownDialog", "TrayProgramManager"}) {
            if (object->inherits(page))
                return QLatin1String(page);
        }
    }
    return QStringLiteral("?");
}

QString describe(const QWidget* widget)
{
    QStringList names;
    for (const QObject* object = widget; object && !object->inherits("AmbrelClient"); object = object->parent())
        names.prepend(object->objectName().isEmpty() ? QLatin1String(object->metaObject()->className())
                                                     : object->objectName());
    return pageOf(widget) + QStringLiteral(": ") + names.join(QLatin1Char('/'));
}

} // namespace

// Screen readers announce a button by its text, or by its accessible name when it shows only an icon; the tooltip
// tells a sighted user the same. Every widget of the program exists once the main window is built: the pages, the
// title bar, the viewer, the wait dialog and the tray icon's menu.
class TestAccessibleNames : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyIconOnlyButtonIsNamedInChinese();
};

void TestAccessibleNames::initTestCase()
{
    qputenv("AMBREL_API_HOST", "http://127.0.0.1:9");
    qputenv("AMBREL_UPLOAD_HOST", "http://127.0.0.1:9/upload");
    Settings::reload();
    Housekeeping::setDefaultPlatform(&s_processes);
    // As the client starts: the texts the code writes in English come in Chinese from the translation files.
    QVERIFY(StartUp::installQtTranslations(qApp));
}

void TestAccessibleNames::everyIconOnlyButtonIsNamedInChinese()
{
    ScopedWorkingDirectory work;
    AmbrelClient window("x//T1_tok_u9_Title/");

    QStringList unnamed;
    QSet<QString> pagesWalked;
    for (QWidget* widget : QApplication::allWidgets()) {
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            pagesWalked.insert(pageOf(button));
            if (button->text().trimmed().isEmpty() &&
                (!isChinese(button->accessibleName()) || !isChinese(button->toolTip())))
                unnamed.append(describe(button));
        }
        if (auto* menu = qobject_cast<QMenu*>(widget)) {
            pagesWalked.insert(QStringLiteral("menu"));
            for (const QAction* action : menu->actions()) {
                if (!action->isSeparator() && !isChinese(action->text()))
                    unnamed.append(QStringLiteral("menu entry ") + action->objectName());
            }
        }
    }
    // Each part was really walked: a page missing from the walk would pass unchecked.
    const QSet<QString> expected{QStringLiteral("HomePage"),       QStringLiteral("TakePhoto"),
                                 QStringLiteral("ReTakePhoto"),    QStringLiteral("DisplayPhoto"),
                                 QStringLiteral("ViewPhoto"),      QStringLiteral("TitleBar"),
                                 QStringLiteral("ShutDownDialog"), QStringLiteral("menu")};
    QVERIFY2(pagesWalked.contains(expected), qPrintable(QStringList(pagesWalked.values()).join(QLatin1Char(' '))));
    QVERIFY2(unnamed.isEmpty(), qPrintable(QStringLiteral("icon-only buttons without a Chinese accessible name and "
                                                          "tooltip:\n") +
                                           unnamed.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestAccessibleNames)
#include "tst_accessiblenames.moc"
