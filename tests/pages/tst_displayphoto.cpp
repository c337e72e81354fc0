#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "PageTestData.h"
#include "core/TaskFolders.h"
#include "pages/DisplayPhoto.h"
#include "pages/PhotoTableWidgetItem.h"
#include "widgets/FileDialog.h"
#include "widgets/MessageBox.h"

using Endpoint = ServiceEmulator::Endpoint;
using Fault = ServiceEmulator::Fault;
using PageTestData::Student;

namespace {

const QString TaskId = QStringLiteral("progress-task");

QList<PhotoTableWidgetItem*> tiles(QListWidget* list)
{
    QList<PhotoTableWidgetItem*> result;
    for (int row = 0; row < list->count(); ++row)
        result << qobject_cast<PhotoTableWidgetItem*>(list->itemWidget(list->item(row)));
    return result;
}

QString tileText(PhotoTableWidgetItem* tile, const char* name)
{
    return tile->findChild<QLabel*>(QLatin1String(name))->text();
}

// What the footer shows, as one line: the visible summary labels joined.
QString footerLine(DisplayPhoto& page)
{
    QWidget* footer = page.findChild<QWidget*>(QStringLiteral("footer"));
    QString line;
    for (const char* name : {"label_3", "label_5", "label"}) {
        auto* label = footer->findChild<QLabel*>(QLatin1String(name));
        if (label->isVisible())
            line += label->text();
    }
    if (footer->findChild<QPushButton*>(QStringLiteral("pushButton"))->isVisible())
        line += QStringLiteral("[立即处理]");
    if (footer->findChild<QLabel*>(QStringLiteral("label_6"))->isVisible())
        line += QStringLiteral("[完成]");
    return line;
}

} // namespace

class TestDisplayPhoto : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void footerFollowsThePaperState_data();
    void footerFollowsThePaperState();
    void tilesShowTheStudents();
    void thumbnailSharingAPageUrlUsesTheCachedPage();
    void twoRefreshesShowEachTileOnce();
    void clickingATileEmitsThatStudentsPages_data();
    void clickingATileEmitsThatStudentsPages();
    void eachDotIsSetOnceEachWayIn600ms();
    void tickIsSharedByAllPages();
    void dotsMoveWhileTheServiceIsWaited_for();
    void refreshAskedDuringAWaitRunsOnceAfterIt();
    void barsReachThePageSignals();

private:
    std::unique_ptr<ScopedWorkingDirectory> m_dir;
    std::unique_ptr<EmulatorFixture> m_emulator;
    int m_prefix = 0;
    QString nextPrefix() { return QStringLiteral("run%1").arg(++m_prefix); }
};

void TestDisplayPhoto::initTestCase()
{
    qRegisterMetaType<QList<std::pair<QString, QString>>>("QList<std::pair<QString,QString>>");
}

void TestDisplayPhoto::init()
{
    m_dir = std::make_unique<ScopedWorkingDirectory>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkdir(QStringLiteral("save")));
    QVERIFY(QDir().mkdir(QStringLiteral("image")));
    m_emulator = std::make_unique<EmulatorFixture>();
    QVERIFY(m_emulator->isRunning());
    PageTestData::setLaunchValues(TaskId);
    DisplayPhoto::setLoadingInterval(100);
    DisplayPhoto::resetLoadingTick();
}

void TestDisplayPhoto::cleanup()
{
    m_emulator.reset();
    m_dir.reset();
    FileDialog::setChooser({});
    MessageBox::setAnswerer({});
}

void TestDisplayPhoto::footerFollowsThePaperState_data()
{
    // before: an answer given first ("" for none); then: the answer under test.
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("tileCount");
    QTest::addColumn<QString>("footer");

    QTest::newRow("all collected: state 4")
        << QString() << QStringLiteral("10/0") << 3 << QStringLiteral("10名学生已全部完成采集[完成]");
    QTest::newRow("nobody collected yet: state 3")
        << QString() << QStringLiteral("0/4") << 3
        << QStringLiteral("0名学生已完成采集，4名学生未成功采集，查看名单并处理[立即处理]");
    QTest::newRow("some not collected: state 3")
        << QString() << QStringLiteral("10/1") << 3
        << QStringLiteral("10名学生已完成采集，1名学生未成功采集，查看名单并处理[立即处理]");
    QTest::newRow("service error: state 6")
        << QString() << QStringLiteral("code") << 0
        << QStringLiteral("0名学生已完成采集，0名学生未成功采集，查看名单并处理[立即处理]");
    QTest::newRow("service error after all collected")
        << QStringLiteral("10/0") << QStringLiteral("code") << 0
        << QStringLiteral("0名学生已完成采集，0名学生未成功采集，查看名单并处理[立即处理]");
    QTest::newRow("unreadable reply before any answer")
        << QString() << QStringLiteral("nonjson") << 0
        << QStringLiteral("0名学生已完成采集，0名学生未成功采集，查看名单并处理[立即处理]");
    QTest::newRow("unreadable reply keeps the earlier state 4")
        << QStringLiteral("10/0") << QStringLiteral("nonjson") << 0 << QStringLiteral("0名学生已全部完成采集[完成]");
    QTest::newRow("dropped connection keeps the earlier state 3")
        << QStringLiteral("2/2") << QStringLiteral("drop") << 0
        << QStringLiteral("0名学生已完成采集，0名学生未成功采集，查看名单并处理[立即处理]");
}

void TestDisplayPhoto::footerFollowsThePaperState()
{
    QFETCH(QString, before);
    QFETCH(QString, answer);
    QFETCH(int, tileCount);
    QFETCH(QString, footer);
    const QList<Student> students = {{QStringLiteral("张三"), QStringLiteral("90分"), QString(), 1},
                                     {QStringLiteral("李四"), QStringLiteral("85分"), QString(), 2},
                                     {QStringLiteral("王五"), QStringLiteral("70分"), QString(), 1}};
    auto serve = [&](const QString& counts) {
        m_emulator->server().clearAllFaults();
        const QStringList parts = counts.split(QLatin1Char('/'));
        if (parts.size() == 2) {
            m_emulator->server().setCannedData(Endpoint::PaperStatusWithPage,
                                               PageTestData::paperStatus(*m_emulator, nextPrefix(), students,
                                                                         parts.at(0).toInt(), parts.at(1).toInt()));
        } else if (counts == QLatin1String("code")) {
            m_emulator->server().addFault(Endpoint::PaperStatusWithPage, {Fault::CodeNonZero, 500, -1});
        } else if (counts == QLatin1String("nonjson")) {
            m_emulator->server().addFault(Endpoint::PaperStatusWithPage, {Fault::NonJson, 0, -1});
        } else {
            m_emulator->server().addFault(Endpoint::PaperStatusWithPage, {Fault::Drop, 0, -1});
        }
    };
    DisplayPhoto page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* list = page.findChild<QListWidget*>(QStringLiteral("listWidget"));
    if (!before.isEmpty()) {
        serve(before);
        page.refreshDisplayUi();
        QCOMPARE(list->count(), students.size());
    }

    serve(answer);
    page.refreshDisplayUi();

    QCOMPARE(list->count(), tileCount);
    QCOMPARE(footerLine(page), footer);
    QVERIFY(list->isVisible());
    QVERIFY(!page.findChild<QLabel*>(QStringLiteral("label"))->isVisible());
    QVERIFY(page.findChild<QPushButton*>(QStringLiteral("refresh"))->isEnabled());
}

void TestDisplayPhoto::tilesShowTheStudents()
{
    const QList<Student> students = {{QStringLiteral("张三"), QStringLiteral("90分"), QString(), 2},
                                     {QStringLiteral("李四"), QStringLiteral("85分"), QStringLiteral("第1页缺页"), 3},
                                     {QStringLiteral("王五"), QStringLiteral("无分数"), QString(), 0}};
    m_emulator->server().setCannedData(Endpoint::PaperStatusWithPage,
                                       PageTestData::paperStatus(*m_emulator, nextPrefix(), students, 2, 1));
    DisplayPhoto page;
    page.show();

    page.refreshDisplayUi();

    const QList<PhotoTableWidgetItem*> shown = tiles(page.findChild<QListWidget*>(QStringLiteral("listWidget")));
    QCOMPARE(shown.size(), 3);
    const QStringList scores = {QStringLiteral("90分"), QStringLiteral("85分"), QStringLiteral("识别中")};
    for (int i = 0; i < shown.size(); ++i) {
        QVERIFY(shown.at(i));
        QCOMPARE(tileText(shown.at(i), "name"), students.at(i).name);
        QCOMPARE(tileText(shown.at(i), "score"), scores.at(i));
        QCOMPARE(shown.at(i)->findChild<QLabel*>(QStringLiteral("label"))->isVisible(),
                 !students.at(i).warning.isEmpty());
        const QPixmap thumb = shown.at(i)->findChild<QLabel*>(QStringLiteral("photo"))->pixmap(Qt::ReturnByValue);
        QCOMPARE(thumb.size(), QSize(185, 135));
    }
    QCOMPARE(tileText(shown.at(1), "label"), QStringLiteral("第1页缺页"));
}

void TestDisplayPhoto::thumbnailSharingAPageUrlUsesTheCachedPage()
{
    const QString prefix = nextPrefix();
    QJsonObject data = PageTestData::paperStatus(*m_emulator, prefix,
                                                 {{QStringLiteral("甲"), QStringLiteral("1分"), QString(), 2}}, 1, 0);
    // The service names the first page itself as the thumbnail: that URL is in the image cache by then.
    QJsonArray answers = data.value("studentAnswers").toArray();
    QJsonObject answer = answers.first().toObject();
    answer.insert("thumbAnswerImageUrl", answer.value("images").toArray().first().toObject().value("url"));
    answers.replace(0, answer);
    data.insert("studentAnswers", answers);
    m_emulator->server().setCannedData(Endpoint::PaperStatusWithPage, data);
    DisplayPhoto page;
    page.show();

    page.refreshDisplayUi();

    const QList<PhotoTableWidgetItem*> shown = tiles(page.findChild<QListWidget*>(QStringLiteral("listWidget")));
    QCOMPARE(shown.size(), 1);
    QVERIFY(!shown.first()->findChild<QLabel*>(QStringLiteral("photo"))->pixmap(Qt::ReturnByValue).isNull());
}

void TestDisplayPhoto::twoRefreshesShowEachTileOnce()
{
    const QList<Student> students = {{QStringLiteral("甲"), QStringLiteral("1分"), QString(), 1},
                                     {QStringLiteral("乙"), QStringLiteral("2分"), QString(), 1},
                                     {QStringLiteral("丙"), QStringLiteral("3分"), QString(), 1},
                                     {QStringLiteral("丁"), QStringLiteral("4分"), QString(), 1}};
    m_emulator->server().setCannedData(Endpoint::PaperStatusWithPage,
                                       PageTestData::paperStatus(*m_emulator, nextPrefix(), students, 4, 0));
    DisplayPhoto page;
    page.show();
    auto* list = page.findChild<QListWidget*>(QStringLiteral("listWidget"));

    page.refreshDisplayUi();
    page.refreshDisplayUi();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(m_emulator->server().requestCount(Endpoint::PaperStatusWithPage), 2);
    QStringList names;
    for (PhotoTableWidgetItem* tile : tiles(list))
        names << tileText(tile, "name");
    QCOMPARE(names,
             (QStringList{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"), QStringLiteral("丁")}));
    QCOMPARE(page.findChildren<PhotoTableWidgetItem*>().size(), 4);
}

void TestDisplayPhoto::clickingATileEmitsThatStudentsPages_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("expectedPages");
    QTest::newRow("first tile") << 0 << 1;
    QTest::newRow("third tile") << 2 << 3;
    QTest::newRow("student without pages") << 3 << 0;
}

void TestDisplayPhoto::clickingATileEmitsThatStudentsPages()
{
    QFETCH(int, row);
    QFETCH(int, expectedPages);
    const QString prefix = nextPrefix();
    const QList<Student> students = {{QStringLiteral("一"), QStringLiteral("1分"), QString(), 1},
                                     {QStringLiteral("二"), QStringLiteral("2分"), QString(), 2},
                                     {QStringLiteral("三"), QStringLiteral("3分"), QString(), 3},
                                     {QStringLiteral("四"), QStringLiteral("4分"), QString(), 0}};
    m_emulator->server().setCannedData(Endpoint::PaperStatusWithPage,
                                       PageTestData::paperStatus(*m_emulator, prefix, students, 4, 0));
    DisplayPhoto page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.refreshDisplayUi();
    QSignalSpy view(&page, SIGNAL(toViewPhoto(const QList<std::pair<QString, QString>>)));
    auto* list = page.findChild<QListWidget*>(QStringLiteral("listWidget"));

    QWidget* tile = list->itemWidget(list->item(row));
    QTest::mouseClick(tile, Qt::LeftButton, Qt::NoModifier, QPoint(90, 60));

    QCOMPARE(view.count(), 1);
    const auto images = view.first().first().value<QList<std::pair<QString, QString>>>();
    QCOMPARE(images.size(), expectedPages);
    const QString folder = QDir::currentPath() + QStringLiteral("/save/") + TaskId + QStringLiteral("/");
    for (int p = 0; p < images.size(); ++p) {
        QCOMPARE(images.at(p).first, folder + QStringLiteral("s%1_p%2.png").arg(row).arg(p));
        QCOMPARE(images.at(p).second, QStringLiteral("%1-%1").arg(p + 1));
    }
}

void TestDisplayPhoto::eachDotIsSetOnceEachWayIn600ms()
{
    DisplayPhoto page;
    QLabel* dots[] = {page.findChild<QLabel*>(QStringLiteral("label_2")),
                      page.findChild<QLabel*>(QStringLiteral("label_3")),
                      page.findChild<QLabel*>(QStringLiteral("label_4"))};
    for (QLabel* dot : dots)
        QVERIFY(dot->text().isEmpty());

    // Six 100 ms ticks; after each exactly one label differs from before.
    QStringList history[3];
    for (int tick = 0; tick < 6; ++tick) {
        QString before[3];
        for (int d = 0; d < 3; ++d)
            before[d] = dots[d]->text();
        page.timeout();
        int changed = 0;
        for (int d = 0; d < 3; ++d) {
            if (dots[d]->text() != before[d]) {
                ++changed;
                history[d] << dots[d]->text();
            }
        }
        QCOMPARE(changed, 1);
    }

    for (const QStringList& set : history)
        QCOMPARE(set, (QStringList{QStringLiteral("."), QStringLiteral(" ")}));
    QCOMPARE(DisplayPhoto::loadingTickCount(), 6);
}

void TestDisplayPhoto::tickIsSharedByAllPages()
{
    DisplayPhoto first;
    DisplayPhoto second;

    first.timeout();
    first.timeout();
    second.timeout();

    // The third tick of the process lands on the second page's third dot.
    QCOMPARE(second.findChild<QLabel*>(QStringLiteral("label_4"))->text(), QStringLiteral("."));
    QVERIFY(second.findChild<QLabel*>(QStringLiteral("label_2"))->text().isEmpty());
    QCOMPARE(DisplayPhoto::loadingTickCount(), 3);
}

void TestDisplayPhoto::dotsMoveWhileTheServiceIsWaited_for()
{
    DisplayPhoto::setLoadingInterval(10);
    m_emulator->server().setCannedData(Endpoint::PaperStatusWithPage,
                                       PageTestData::paperStatus(*m_emulator, nextPrefix(), {}, 0, 0));
    m_emulator->server().addFault(Endpoint::PaperStatusWithPage, {Fault::Delay, 400, 1});
    DisplayPhoto page;
    page.show();
    bool loadingShown = false;
    bool gridHidden = false;
    QTimer::singleShot(150, &page, [&] {
        loadingShown = page.findChild<QLabel*>(QStringLiteral("label"))->isVisible();
        gridHidden = !page.findChild<QListWidget*>(QStringLiteral("listWidget"))->isVisible();
    });

    page.refreshDisplayUi();

    QVERIFY(loadingShown);
    QVERIFY(gridHidden);
    QVERIFY2(DisplayPhoto::loadingTickCount() >= 3, "the timer ticks while the call waits");
}

void TestDisplayPhoto::refreshAskedDuringAWaitRunsOnceAfterIt()
{
    const QList<Student> students = {{QStringLiteral("甲"), QStringLiteral("1分"), QString(), 1},
                                     {QStringLiteral("乙"), QStringLiteral("2分"), QString(), 1}};
    m_emulator->server().setCannedData(Endpoint::PaperStatusWithPage,
                                       PageTestData::paperStatus(*m_emulator, nextPrefix(), students, 2, 0));
    m_emulator->server().addFault(Endpoint::PaperStatusWithPage, {Fault::Delay, 300, 1});
    DisplayPhoto page;
    page.show();
    qint64 innerCallMs = -1;
    QTimer::singleShot(50, &page, [&] {
        QElapsedTimer timer;
        timer.start();
        page.refreshDisplayUi();
        page.refreshDisplayUi();
        innerCallMs = timer.elapsed();
    });

    page.refreshDisplayUi();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY2(innerCallMs >= 0 && innerCallMs < 250, "the requests made during the wait returned at once");
    QCOMPARE(m_emulator->server().requestCount(Endpoint::PaperStatusWithPage), 2);
    QCOMPARE(page.findChild<QListWidget*>(QStringLiteral("listWidget"))->count(), 2);
    QCOMPARE(page.findChildren<PhotoTableWidgetItem*>().size(), 2);
}

void TestDisplayPhoto::barsReachThePageSignals()
{
    m_emulator->server().setCannedData(Endpoint::PaperStatusWithPage,
                                       PageTestData::paperStatus(*m_emulator, nextPrefix(), {}, 0, 0));
    FileDialog::setChooser([](const FileDialog::Request&) { return QStringList(); });
    DisplayPhoto page;
    page.setTitle(QStringLiteral("期中考试"));
    page.setTaskFolders(TaskFolders::inWorkingFolder(TaskId));
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy take(&page, SIGNAL(toTakePhoto()));
    QSignalSpy reTake(&page, SIGNAL(toReMakeupPhoto()));
    QSignalSpy uploaded(&page, SIGNAL(uploadPicStarted()));

    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("takePhoto")), Qt::LeftButton);
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("pushButton")), Qt::LeftButton);
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("pushButton_2")), Qt::LeftButton);
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("refresh")), Qt::LeftButton);

    QCOMPARE(take.count(), 1);
    QCOMPARE(reTake.count(), 1);
    QCOMPARE(uploaded.count(), 1);
    QCOMPARE(m_emulator->server().requestCount(Endpoint::PaperStatusWithPage), 1);
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("title"))->text(), QStringLiteral("期中考试"));
}

QTEST_MAIN(TestDisplayPhoto)
#include "tst_displayphoto.moc"
