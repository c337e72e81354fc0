#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "PageTestData.h"
#include "core/TaskFolders.h"
#include "pages/ReTakePhoto.h"
#include "pages/TableWidgetItem.h"
#include "widgets/FileDialog.h"

using Endpoint = ServiceEmulator::Endpoint;
using Fault = ServiceEmulator::Fault;

namespace {

QJsonObject failImage(const QString& page, const QString& reason, const QString& proposal)
{
    return QJsonObject{{"page", page}, {"failReason", reason}, {"proposals", proposal}};
}

QJsonObject replenish(const QList<QPair<QString, QJsonArray>>& students)
{
    QJsonArray list;
    for (const auto& student : students)
        list.append(QJsonObject{{"realName", student.first}, {"images", student.second}});
    return QJsonObject{{"students", list}};
}

// A column of a row, top to bottom: the name, or one line per failed page.
QString cell(QListWidget* list, int row, const char* name)
{
    QStringList lines;
    for (const QLabel* label : list->itemWidget(list->item(row))->findChildren<QLabel*>(QLatin1String(name)))
        lines << label->text();
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class TestReTakePhoto : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void headerAndFooterAreSetUp();
    void rowsFollowTheFailedImages_data();
    void rowsFollowTheFailedImages();
    void wrappedTextKeepsEachPageOnItsLine();
    void showingTwiceNeverDuplicatesRows();
    void reloadDuringAWaitNeverDuplicatesRows();
    void failedFetchLeavesNoRows_data();
    void failedFetchLeavesNoRows();
    void barsReachThePageSignals();

private:
    std::unique_ptr<ScopedWorkingDirectory> m_dir;
    std::unique_ptr<EmulatorFixture> m_emulator;
};

void TestReTakePhoto::init()
{
    m_dir = std::make_unique<ScopedWorkingDirectory>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkdir(QStringLiteral("save")));
    QVERIFY(QDir().mkdir(QStringLiteral("image")));
    m_emulator = std::make_unique<EmulatorFixture>();
    QVERIFY(m_emulator->isRunning());
    PageTestData::setLaunchValues(QStringLiteral("retake-task"));
}

void TestReTakePhoto::cleanup()
{
    m_emulator.reset();
    m_dir.reset();
    FileDialog::setChooser({});
}

void TestReTakePhoto::headerAndFooterAreSetUp()
{
    ReTakePhoto page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));

    QCOMPARE(page.findChild<QWidget*>(QStringLiteral("head"))->findChild<QLabel*>(QStringLiteral("title"))->text(),
             QStringLiteral("补拍信息"));
    QVERIFY(page.findChild<QPushButton*>(QStringLiteral("back"))->isVisible());
    QCOMPARE(page.findChild<QPushButton*>(QStringLiteral("takePhoto"))->text(), QStringLiteral("补拍"));
    QCOMPARE(page.findChild<QWidget*>(QStringLiteral("footer"))->findChild<QLabel*>(QStringLiteral("label_4"))->text(),
             QStringLiteral("补拍前请确认已参照处理建议处理完所有问题"));
    QWidget* titles = page.findChild<QWidget*>(QStringLiteral("widget"));
    QStringList columns;
    for (const char* name : {"label", "label_2", "label_3", "label_4"})
        columns << titles->findChild<QLabel*>(QLatin1String(name))->text();
    QCOMPARE(columns, (QStringList{QStringLiteral("姓名"), QStringLiteral("问题页码"), QStringLiteral("问题原因"),
                                   QStringLiteral("处理建议")}));
}

void TestReTakePhoto::rowsFollowTheFailedImages_data()
{
    QTest::addColumn<QJsonArray>("images");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("pages");
    QTest::addColumn<QString>("reasons");
    QTest::addColumn<QString>("proposals");

    QTest::newRow("three failed images: 100 px")
        << QJsonArray{failImage("1", QStringLiteral("模糊"), QStringLiteral("重拍")),
                      failImage("3", QStringLiteral("缺角"), QStringLiteral("展平")),
                      failImage("4", QStringLiteral("反光"), QStringLiteral("调光"))}
        << 100 << QStringLiteral("1\n3\n4") << QStringLiteral("模糊\n缺角\n反光") << QStringLiteral("重拍\n展平\n调光");
    QTest::newRow("no failed images: 40 px") << QJsonArray{} << 40 << QString() << QString() << QString();
    QTest::newRow("one image with non-text values")
        << QJsonArray{QJsonObject{{"page", 2}, {"failReason", QStringLiteral("无法识别")}, {"proposals", true}}} << 60
        << QString() << QStringLiteral("无法识别") << QString();
}

void TestReTakePhoto::rowsFollowTheFailedImages()
{
    QFETCH(QJsonArray, images);
    QFETCH(int, height);
    QFETCH(QString, pages);
    QFETCH(QString, reasons);
    QFETCH(QString, proposals);
    m_emulator->server().setCannedData(Endpoint::ReplenishStudents, replenish({{QStringLiteral("陈七"), images}}));
    ReTakePhoto page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* list = page.findChild<QListWidget*>(QStringLiteral("listWidget"));

    page.reloadStudents();

    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->sizeHint().height(), height);
    QCOMPARE(list->item(0)->sizeHint().width(), list->viewport()->width());
    QCOMPARE(cell(list, 0, "name"), QStringLiteral("陈七"));
    QCOMPARE(cell(list, 0, "code"), pages);
    QCOMPARE(cell(list, 0, "reason"), reasons);
    QCOMPARE(cell(list, 0, "advice"), proposals);
}

void TestReTakePhoto::wrappedTextKeepsEachPageOnItsLine()
{
    const QString longProposal =
        QStringLiteral("请将答题卡完整平铺在拍照区域中央，确保四个定位点全部清晰可见，避免反光与阴影后重新拍照");
    m_emulator->server().setCannedData(
        Endpoint::ReplenishStudents,
        replenish({{QStringLiteral("陈七"), QJsonArray{failImage("1", QStringLiteral("模糊"), longProposal),
                                                       failImage("2", QStringLiteral("缺角"), QStringLiteral("展平")),
                                                       failImage("3", QStringLiteral("反光"), longProposal)}}}));
    ReTakePhoto page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* list = page.findChild<QListWidget*>(QStringLiteral("listWidget"));

    page.reloadStudents();
    QWidget* row = list->itemWidget(list->item(0));
    QTRY_COMPARE(row->height(), list->item(0)->sizeHint().height());

    const auto pages = row->findChildren<QLabel*>(QStringLiteral("code"));
    const auto reasons = row->findChildren<QLabel*>(QStringLiteral("reason"));
    const auto proposals = row->findChildren<QLabel*>(QStringLiteral("advice"));
    QCOMPARE(pages.size(), 3);
    QCOMPARE(reasons.size(), 3);
    QCOMPARE(proposals.size(), 3);
    for (int line = 0; line < 3; ++line) {
        // Page, reason and proposal of one failed page start on the same line...
        QCOMPARE(reasons.at(line)->geometry().top(), pages.at(line)->geometry().top());
        QCOMPARE(proposals.at(line)->geometry().top(), pages.at(line)->geometry().top());
        // ...and the wrapped proposal has the room it needs, inside the row.
        QLabel* proposal = proposals.at(line);
        QVERIFY2(proposal->heightForWidth(proposal->width()) <= proposal->height(), qPrintable(proposal->text()));
        QVERIFY(row->rect().contains(proposal->geometry()));
    }
    // The long proposals wrap: the row grows past 20 px a page.
    QVERIFY(list->item(0)->sizeHint().height() > 100);
    QVERIFY(proposals.at(0)->height() > 2 * proposals.at(1)->height() - 4);
}

void TestReTakePhoto::showingTwiceNeverDuplicatesRows()
{
    m_emulator->server().setCannedData(Endpoint::ReplenishStudents,
                                       replenish({{QStringLiteral("甲"), QJsonArray{failImage("1", "a", "b")}},
                                                  {QStringLiteral("乙"), QJsonArray{}}}));
    ReTakePhoto page;
    page.show();
    auto* list = page.findChild<QListWidget*>(QStringLiteral("listWidget"));

    page.reloadStudents();
    page.reloadStudents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(m_emulator->server().requestCount(Endpoint::ReplenishStudents), 2);
    QCOMPARE(list->count(), 2);
    QCOMPARE(cell(list, 0, "name"), QStringLiteral("甲"));
    QCOMPARE(cell(list, 1, "name"), QStringLiteral("乙"));
    QCOMPARE(page.findChildren<TableWidgetItem*>().size(), 2);
}

void TestReTakePhoto::reloadDuringAWaitNeverDuplicatesRows()
{
    m_emulator->server().setCannedData(Endpoint::ReplenishStudents,
                                       replenish({{QStringLiteral("甲"), QJsonArray{failImage("1", "a", "b")}},
                                                  {QStringLiteral("乙"), QJsonArray{failImage("2", "c", "d")}}}));
    m_emulator->server().addFault(Endpoint::ReplenishStudents, {Fault::Delay, 300, 1});
    ReTakePhoto page;
    page.show();
    QTimer::singleShot(50, &page, [&] { page.reloadStudents(); });

    page.reloadStudents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(m_emulator->server().requestCount(Endpoint::ReplenishStudents), 2);
    QCOMPARE(page.findChild<QListWidget*>(QStringLiteral("listWidget"))->count(), 2);
    QCOMPARE(page.findChildren<TableWidgetItem*>().size(), 2);
}

void TestReTakePhoto::failedFetchLeavesNoRows_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("service error code") << int(Fault::CodeNonZero);
    QTest::newRow("not JSON") << int(Fault::NonJson);
    QTest::newRow("dropped connection") << int(Fault::Drop);
}

void TestReTakePhoto::failedFetchLeavesNoRows()
{
    QFETCH(int, kind);
    m_emulator->server().setCannedData(Endpoint::ReplenishStudents,
                                       replenish({{QStringLiteral("甲"), QJsonArray{failImage("1", "a", "b")}}}));
    ReTakePhoto page;
    page.show();
    page.reloadStudents();
    auto* list = page.findChild<QListWidget*>(QStringLiteral("listWidget"));
    QCOMPARE(list->count(), 1);

    m_emulator->server().addFault(Endpoint::ReplenishStudents, {Fault::Kind(kind), 0, -1});
    page.reloadStudents();

    QCOMPARE(list->count(), 0);
}

void TestReTakePhoto::barsReachThePageSignals()
{
    FileDialog::setChooser([](const FileDialog::Request&) { return QStringList(); });
    ReTakePhoto page;
    page.setTaskFolders(TaskFolders::inWorkingFolder(QStringLiteral("retake-task")));
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy back(&page, SIGNAL(toDisplayPhoto()));
    QSignalSpy take(&page, SIGNAL(toTakePhoto()));
    QSignalSpy uploaded(&page, SIGNAL(uploadPicStarted()));

    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("back")), Qt::LeftButton);
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("takePhoto")), Qt::LeftButton);
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("pushButton_2")), Qt::LeftButton);

    QCOMPARE(back.count(), 1);
    QCOMPARE(take.count(), 1);
    QCOMPARE(uploaded.count(), 1);
}

QTEST_MAIN(TestReTakePhoto)
#include "tst_retakephoto.moc"
