#include <QAbstractScrollArea>
#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include "EmulatorFixture.h"
#include "FakeProcessPlatform.h"
#include "TestUtils.h"
#include "app/AmbrelClient.h"
#include "app/Housekeeping.h"
#include "app/ShutDownDialog.h"
#include "capture/TakePhoto.h"
#include "pages/DisplayPhoto.h"
#include "pages/HomePage.h"
#include "viewer/ViewPhoto.h"
#include "widgets/NumLabel.h"

using Endpoint = ServiceEmulator::Endpoint;

namespace {

FakeProcessPlatform s_processes;

const QString kLongTitle = QStringLiteral("二〇二六学年第一学期九年级数学期末统一考试（第二次阅卷复核）答题卡回收");
const QString kLongName = QStringLiteral("欧阳诸葛慕容司马上官皇甫端木长孙宇文轩辕令狐钟离");
const QString kLongWarning = QStringLiteral("第2页字迹较淡且有大面积涂改，第3页右下角缺失，请核对后重新拍照上传");
const QString kLongReason = QStringLiteral("答题卡边缘被裁切，定位点缺失导致无法识别学号与选择题区域");
const QString kLongProposal =
    QStringLiteral("请将答题卡完整平铺在拍照区域中央，确保四个定位点全部清晰可见，避免反光与阴影后重新拍照");

QString describe(const QWidget* widget)
{
    QString path;
    for (const QWidget* w = widget; w && !w->isWindow(); w = w->parentWidget())
        path.prepend(QLatin1Char('/') + QString::fromLatin1(w->metaObject()->className()) + QLatin1Char('#') +
                     w->objectName());
    return path;
}

// Children of a scroll area's viewport scroll up and down: only their horizontal extent must fit.
bool inViewport(const QWidget* widget)
{
    const QWidget* parent = widget->parentWidget();
    const auto* area = parent ? qobject_cast<const QAbstractScrollArea*>(parent->parentWidget()) : nullptr;
    return area && area->viewport() == parent;
}

// Laid over other widgets on purpose (a dialog's size grip sits in its corner).
bool isOverlay(const QWidget* widget)
{
    return widget->inherits("ViewPhoto") || widget->inherits("Tips") || widget->inherits("MyMessageBox") ||
           widget->inherits("QSizeGrip");
}

bool shownIn(const QWidget* widget, const QWidget* window)
{
    return widget->isVisible() && widget->window() == window;
}

// A text cut short must say so and keep the whole text in reach.
bool elidedWithTooltip(const QString& shown, const QString& tooltip)
{
    const int cut = shown.indexOf(QChar(0x2026));
    return cut >= 0 && !tooltip.isEmpty() && tooltip.startsWith(shown.left(cut)) && tooltip.size() > cut;
}

QString labelProblem(const QLabel* label)
{
    const QString text = label->text();
    if (text.trimmed().isEmpty() || !label->pixmap(Qt::ReturnByValue).isNull() || label->movie())
        return {};
    if (text.contains(QChar(0x2026)) && !elidedWithTooltip(text, label->toolTip()))
        return QStringLiteral("cut to \"%1\" without the whole text as tooltip").arg(text);
    const QRect area =
        label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(), -label->margin());
    if (label->wordWrap()) {
        const int needed = label->heightForWidth(label->width());
        if (needed > label->height())
            return QStringLiteral("wrapped text needs %1 px, has %2").arg(needed).arg(label->height());
        return {};
    }
    const QFontMetrics metrics(label->font());
    int width = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    const int height = lines.size() * metrics.height();
    if (width > area.width() || height > area.height())
        return QStringLiteral("\"%1\" needs %2 x %3, has %4 x %5")
            .arg(text.left(20))
            .arg(width)
            .arg(height)
            .arg(area.width())
            .arg(area.height());
    return {};
}

// Every visible widget inside its parent (so inside its window), no two visible sibling controls on top of each
// other, every label's text whole or visibly cut with the whole text as tooltip.
QStringList audit(QWidget* window)
{
    QStringList problems;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!shownIn(widget, window) || widget->isWindow())
            continue;
        const QWidget* parent = widget->parentWidget();
        const QRect box = widget->geometry();
        const QRect room(QPoint(), parent->size());
        const bool fits = inViewport(widget) ? box.left() >= 0 && box.right() <= room.right()
                                             : room.contains(box) || isOverlay(widget);
        if (!fits && !box.isEmpty())
            problems << QStringLiteral("%1 at %2,%3 %4x%5 outside its parent's %6x%7")
                            .arg(describe(widget))
                            .arg(box.x())
                            .arg(box.y())
                            .arg(box.width())
                            .arg(box.height())
                            .arg(room.width())
                            .arg(room.height());

        if (auto* label = qobject_cast<QLabel*>(widget)) {
            const QString problem = labelProblem(label);
            if (!problem.isEmpty())
                problems << describe(widget) + QLatin1Char(' ') + problem;
        }
        if (auto* badge = qobject_cast<NumLabel*>(widget)) {
            const int needed = badge->fontMetrics().horizontalAdvance(badge->badgeText());
            if (needed > badge->width() - 11)
                problems
                    << QStringLiteral("%1 \"%2\" needs %3 px").arg(describe(widget), badge->badgeText()).arg(needed);
        }
    }
    for (QWidget* parent : widgets << window) {
        if (!shownIn(parent, window) && parent != window)
            continue;
        QList<QWidget*> children;
        for (QWidget* child : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (shownIn(child, window) && !child->isWindow() && !isOverlay(child) && !child->geometry().isEmpty())
                children << child;
        for (int i = 0; i < children.size(); ++i)
            for (int j = i + 1; j < children.size(); ++j)
                if (children.at(i)->geometry().intersects(children.at(j)->geometry()))
                    problems
                        << QStringLiteral("%1 overlaps %2").arg(describe(children.at(i)), describe(children.at(j)));
    }
    problems.removeDuplicates();
    return problems;
}

QJsonObject paperStatus(int students, bool longTexts)
{
    QJsonArray answers;
    for (int s = 0; s < students; ++s) {
        QJsonArray images;
        // Pages without a URL: nothing to download, the tile only counts them.
        for (int p = 0; p < (s % 3) + (longTexts ? 11 : 1); ++p)
            images.append(QJsonObject{{"url", QString()}, {"beginPage", p + 1}, {"endPage", p + 1}});
        answers.append(QJsonObject{
            {"studentId", QString::number(s)},
            {"studentName", longTexts ? kLongName : QStringLiteral("学生%1").arg(s)},
            {"scoreDesc",
             longTexts ? QStringLiteral("主观题待复核（客观题 86.5 分）") : QStringLiteral("%1分").arg(60 + s % 40)},
            {"warnDesc", longTexts ? kLongWarning : (s % 3 == 0 ? QStringLiteral("第2页字迹较淡") : QString())},
            {"images", images}});
    }
    return QJsonObject{{"analyseSuccessStudentCount", students},
                       {"unAnalyseSuccessStudentCount", longTexts ? 1234 : 2},
                       {"studentAnswers", answers}};
}

QJsonObject replenish(int students, bool longTexts)
{
    QJsonArray list;
    for (int s = 0; s < students; ++s) {
        QJsonArray images;
        for (int p = 0; p < 1 + s % 3; ++p)
            images.append(QJsonObject{{"page", QString::number(p + 1)},
                                      {"failReason", longTexts ? kLongReason : QStringLiteral("模糊")},
                                      {"proposals", longTexts ? kLongProposal : QStringLiteral("重拍")}});
        list.append(
            QJsonObject{{"realName", longTexts ? kLongName : QStringLiteral("学生%1").arg(s)}, {"images", images}});
    }
    return QJsonObject{{"students", list}};
}

QString pageImage(const QTemporaryDir& dir, const QSize& size)
{
    const QString path = dir.filePath(QStringLiteral("page_%1x%2.jpg").arg(size.width()).arg(size.height()));
    if (!QFileInfo::exists(path))
        TestUtils::makeTestImage(size.width(), size.height()).save(path, "JPG", 80);
    return path;
}

} // namespace

class TestLayoutAudit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyWidgetFits_data();
    void everyWidgetFits();
    void fileDialogsOpenAlikeOnTheScreen();

private:
    QTemporaryDir m_images;
};

void TestLayoutAudit::initTestCase()
{
    Housekeeping::setDefaultPlatform(&s_processes);
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_images.isValid());
}

void TestLayoutAudit::everyWidgetFits_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("students");
    QTest::addColumn<bool>("longTexts");
    QTest::addColumn<QSize>("size");  // empty: full screen
    QTest::addColumn<QSize>("photo"); // the viewer's page

    const QSize small(860, 543);
    const QSize large(1920, 1080);
    const QSize full;
    for (const QString& page : {QStringLiteral("home"), QStringLiteral("capture")}) {
        QTest::addRow("%s 860x543", qPrintable(page)) << page << 0 << false << small << QSize();
        QTest::addRow("%s 1920x1080, long title", qPrintable(page)) << page << 0 << true << large << QSize();
        QTest::addRow("%s full screen", qPrintable(page)) << page << 0 << false << full << QSize();
    }
    for (const QString& page : {QStringLiteral("progress"), QStringLiteral("re-take")}) {
        for (int students : {0, 1, 200}) {
            QTest::addRow("%s, %d students", qPrintable(page), students)
                << page << students << false << small << QSize();
            QTest::addRow("%s, %d students, long texts", qPrintable(page), students)
                << page << students << true << small << QSize();
        }
        QTest::addRow("%s, 200 students, long texts, 1920x1080", qPrintable(page))
            << page << 200 << true << large << QSize();
        QTest::addRow("%s, 200 students, long texts, full screen", qPrintable(page))
            << page << 200 << true << full << QSize();
    }
    for (const QSize& photo : {QSize(1000, 500), QSize(6000, 4000)}) {
        QTest::addRow("viewer %dx%d page", photo.width(), photo.height())
            << QStringLiteral("viewer") << 1 << false << small << photo;
        QTest::addRow("viewer %dx%d page, full screen", photo.width(), photo.height())
            << QStringLiteral("viewer") << 1 << false << full << photo;
    }
    QTest::newRow("wait dialog, uploading") << QStringLiteral("wait dialog") << 3 << false << small << QSize();
    QTest::newRow("wait dialog, recognising") << QStringLiteral("wait dialog") << 0 << false << small << QSize();
}

void TestLayoutAudit::everyWidgetFits()
{
    QFETCH(QString, page);
    QFETCH(int, students);
    QFETCH(bool, longTexts);
    QFETCH(QSize, size);
    QFETCH(QSize, photo);

    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    emulator->setCannedData(Endpoint::PaperStatus,
                            QJsonObject{{"uploadedImageCount", 0}, {"analyseFailImageCount", 0}});
    emulator->setCannedData(Endpoint::ZeroProofread, QJsonObject{{"proofreadImageCount", 5},
                                                                 {"totalImageCount", page == "wait dialog" ? 9 : 5}});
    emulator->setCannedData(Endpoint::PaperStatusWithPage, paperStatus(students, longTexts));
    emulator->setCannedData(Endpoint::ReplenishStudents, replenish(students, longTexts));

    const QByteArray title = longTexts ? QUrl::toPercentEncoding(kLongTitle + QLatin1Char('/')) : "Title/";
    const QWidgetList before = QApplication::topLevelWidgets();
    AmbrelClient window("x//T1_tok_u9_" + title);
    auto* dialog = TestUtils::newTopLevel<ShutDownDialog>(before);
    QVERIFY(dialog);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    if (size.isEmpty()) {
        window.showFullScreen();
        // Without a window manager nobody gives the window the screen: do what one would.
        window.setGeometry(screen);
    } else {
        window.resize(size);
        window.show();
    }
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(window.isVisible());

    QWidget* audited = &window;
    if (page == QLatin1String("home")) {
        window.toHomePageUi();
    } else if (page == QLatin1String("capture")) {
        QVERIFY(QMetaObject::invokeMethod(window.findChild<TakePhoto*>(), "startPNG"));
        window.toTakePhotoUi();
    } else if (page == QLatin1String("progress")) {
        window.toDisplayPhotoUi();
    } else if (page == QLatin1String("re-take")) {
        window.toReMakeupPhotoUi();
    } else if (page == QLatin1String("viewer")) {
        window.toDisplayPhotoUi();
        auto* viewer = window.findChild<ViewPhoto*>();
        viewer->setPhotoPath({{pageImage(m_images, photo), QStringLiteral("1-1")}});
        window.toViewPhotoUi();
        if (size.isEmpty()) {
            window.showNormal();
            window.resize(860, 543);
            viewer->quanPing();
            QTRY_VERIFY(viewer->isWindow());
            viewer->setGeometry(screen);
            audited = viewer;
        }
    } else if (page == QLatin1String("wait dialog")) {
        for (int i = 0; i < students; ++i)
            QVERIFY(TestUtils::writeFile(work.filePath(QStringLiteral("image/T1/%1.jpg").arg(i)), "waiting"));
        dialog->setPollInterval(3600 * 1000);
        QVERIFY(dialog->checkPending());
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        audited = dialog;
    }
    // Layouts settle in posted events (tiles, wrapped rows, the viewer's image label): on a loaded machine that may
    // take a while, so the audit is repeated until it holds or the time is up; what it finds then is reported below.
    static_cast<void>(QTest::qWaitFor([&] { return audit(audited).isEmpty(); }, 5000));

    const QRect frame = audited->frameGeometry();
    QVERIFY2(screen.contains(frame) || audited == &window,
             qPrintable(QStringLiteral("window %1,%2 %3x%4 off the screen")
                            .arg(frame.x())
                            .arg(frame.y())
                            .arg(frame.width())
                            .arg(frame.height())));
    const QStringList problems = audit(audited);
    QVERIFY2(problems.isEmpty(), qPrintable(QLatin1Char('\n') + problems.mid(0, 12).join(QLatin1Char('\n'))));
    dialog->hide();
}

void TestLayoutAudit::fileDialogsOpenAlikeOnTheScreen()
{
    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    emulator->setCannedData(Endpoint::PaperStatusWithPage, paperStatus(3, false));
    AmbrelClient window("x//T1_tok_u9_Title/");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

    // Opens the import dialog with the page's "上传" button and notes where it lay, then cancels it.
    QStringList problems;
    auto openFrom = [&](QWidget* page) {
        QRect frame;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            frame = dialog->frameGeometry();
            problems << audit(dialog);
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        });
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("pushButton_2")), Qt::LeftButton);
        return frame;
    };
    const QRect fromHome = openFrom(window.findChild<HomePage*>());
    // The home page's import leads to the progress page, whose header offers the same import.
    auto* progress = window.findChild<DisplayPhoto*>();
    QTRY_VERIFY(progress->isVisible());
    const QRect fromProgress = openFrom(progress->findChild<QWidget*>(QStringLiteral("head")));

    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    QVERIFY(!fromHome.isEmpty());
    QCOMPARE(fromProgress.size(), fromHome.size());
    for (const QRect& frame : {fromHome, fromProgress})
        QVERIFY2(
            screen.contains(frame),
            qPrintable(
                QStringLiteral("%1,%2 %3x%4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())));
}

QTEST_MAIN(TestLayoutAudit)
#include "tst_layoutaudit.moc"
