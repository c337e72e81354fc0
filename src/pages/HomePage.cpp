#include "pages/HomePage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "pages/ImageImport.h"
#include "widgets/AccessibleName.h"
#include "widgets/FormLayout.h"

namespace {

constexpr int Unlimited = 16777215;

QSpacerItem* spacer(int width, int height)
{
    return FormLayout::verticalSpacer(height, QSizePolicy::Fixed, width);
}

QLabel* makeLabel(QWidget* parent, const QString& objectName, const QString& text, const QString& style)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setStyleSheet(style);
    return label;
}

// A widget centred in its row between two expanding spacers.
QHBoxLayout* centred(QWidget* widget)
{
    auto* row = new QHBoxLayout();
    row->addItem(FormLayout::horizontalSpacer(40, QSizePolicy::Expanding));
    row->addWidget(widget);
    row->addItem(FormLayout::horizontalSpacer(40, QSizePolicy::Expanding));
    return row;
}

QPushButton* makeImageButton(QWidget* parent, const QString& objectName, const QString& icon)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setFixedSize(209, 60);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(209, 60));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

// One numbered step: the round number, 9 px, the caption.
QHBoxLayout* step(QWidget* parent, const QString& numberName, const QString& number, const QString& captionName,
                  const QString& caption)
{
    auto* row = new QHBoxLayout();
    row->setSpacing(0);
    auto* numberLabel = makeLabel(parent, numberName, number,
                                  QStringLiteral("border:1px solid rgba(199,199,199,1);border-radius:10px;"
                                                 "font-size:14px;color:rgba(153,153,153,1);background:white;"));
    numberLabel->setFixedSize(20, 20);
    numberLabel->setAlignment(Qt::AlignCenter);
    row->addWidget(numberLabel);
    row->addItem(FormLayout::horizontalSpacer(9));
    auto* captionLabel = makeLabel(parent, captionName, caption,
                                   QStringLiteral("font-size:12px;color:rgba(162,162,162,1);background:white;"));
    captionLabel->setMaximumWidth(70);
    row->addWidget(captionLabel);
    return row;
}

QLabel* joiningLine(QWidget* parent, const QString& objectName)
{
    auto* line = makeLabel(parent, objectName, QString(), QStringLiteral("background:rgba(153,153,153,1);"));
    line->setFixedHeight(1);
    line->setMinimumWidth(24);
    line->setMaximumWidth(40);
    return line;
}

} // namespace

HomePage::HomePage(QWidget* parent) : QWidget(parent)
{
    setupUi();
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);

    connect(findChild<QPushButton*>(QStringLiteral("pushButton")), SIGNAL(clicked()), this, SLOT(startPhotoClicked()));
    connect(findChild<QPushButton*>(QStringLiteral("pushButton_2")), SIGNAL(clicked()), this, SLOT(uploadPng()));
}

void HomePage::setupUi()
{
    setObjectName(QStringLiteral("HomePage"));
    resize(860, 518);
    setMinimumSize(860, 518);
    setMaximumSize(Unlimited, 518000);
    setStyleSheet(QStringLiteral("background:white;border-color: black"));

    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->setSpacing(0);
    grid->setContentsMargins(0, 0, 0, 0);

    auto* illustration = new QWidget(this);
    illustration->setObjectName(QStringLiteral("widget"));
    illustration->setMinimumSize(474, 518);
    illustration->setMaximumSize(474000, 518000);
    illustration->setAttribute(Qt::WA_StyledBackground);
    illustration->setStyleSheet(
        QStringLiteral("#widget{background-color:rgba(235,235,235,1);"
                       "background-image:url(:/AmbrelClient/Resources/homePage.png);background-position:center;"
                       "background-repeat:no-repeat;border:1px solid black;border-top-color:rgb(235,235,235);"
                       "border-right-color:rgb(235,235,235);}"));
    grid->addWidget(illustration, 0, 0, 12, 1);

    grid->addItem(spacer(20, 80), 0, 1);
    auto* extra = new QVBoxLayout();
    extra->setObjectName(QStringLiteral("verticalLayout_4"));
    grid->addLayout(extra, 1, 1);

    grid->addLayout(setupSteps(), 2, 1);

    grid->addItem(spacer(20, 62), 3, 1);
    const QString grey = QStringLiteral("font-size:14px;color:rgba(153,153,153,1);");
    grid->addLayout(
        centred(makeLabel(this, QStringLiteral("label_2"), QStringLiteral("上传已扫描/拍照的测试照片"), grey)), 4, 1);
    grid->addItem(spacer(20, 20), 5, 1);
    auto* upload =
        makeImageButton(this, QStringLiteral("pushButton_2"), QStringLiteral(":/AmbrelClient/Resources/编组备份.png"));
    upload->setStyleSheet(QStringLiteral("font-size:16pt;background:white;border:0px;"));
    AccessibleName::setForIconButton(upload, QStringLiteral("上传照片"));
    grid->addLayout(centred(upload), 6, 1);
    grid->addItem(spacer(348, 30), 7, 1);
    auto* start =
        makeImageButton(this, QStringLiteral("pushButton"), QStringLiteral(":/AmbrelClient/Resources/startButton.png"));
    start->setStyleSheet(QStringLiteral("border:0px;background:transparent;"));
    AccessibleName::setForIconButton(start, QStringLiteral("开始拍照"));
    grid->addLayout(centred(start), 8, 1);
    grid->addItem(spacer(20, 20), 9, 1);
    grid->addLayout(centred(makeLabel(this, QStringLiteral("label"),
                                      QStringLiteral("请调整设备至合理角度和高度，并确保光线合理"), grey)),
                    10, 1);
    grid->addItem(FormLayout::verticalSpacer(83, QSizePolicy::Expanding, 383), 11, 1);
}

// The three steps, numbered and joined by lines, centred in their row.
QHBoxLayout* HomePage::setupSteps()
{
    auto* steps = new QVBoxLayout();
    steps->setSpacing(14);
    auto* stepsTitle = makeLabel(this, QStringLiteral("label_4"), QStringLiteral("步骤："),
                                 QStringLiteral("font-size:14px;color:rgba(51,51,51,1);"));
    steps->addWidget(stepsTitle);
    auto* stepRow = new QHBoxLayout();
    stepRow->setSpacing(8);
    stepRow->addLayout(step(this, QStringLiteral("label_3"), QStringLiteral("1"), QStringLiteral("label_5"),
                            QStringLiteral("拍照/上传")));
    stepRow->addWidget(joiningLine(this, QStringLiteral("label_12")));
    stepRow->addLayout(
        step(this, QStringLiteral("label_6"), QStringLiteral("2"), QStringLiteral("label_8"), QStringLiteral("补拍")));
    stepRow->addWidget(joiningLine(this, QStringLiteral("label_16")));
    stepRow->addLayout(step(this, QStringLiteral("label_9"), QStringLiteral("3"), QStringLiteral("label_11"),
                            QStringLiteral("查看分数")));
    steps->addLayout(stepRow);
    auto* stepsRow = new QHBoxLayout();
    stepsRow->addItem(FormLayout::horizontalSpacer(100, QSizePolicy::Expanding));
    stepsRow->addLayout(steps);
    stepsRow->addItem(FormLayout::horizontalSpacer(100, QSizePolicy::Expanding));
    return stepsRow;
}

void HomePage::setTaskFolders(const TaskFolders& folders)
{
    m_folders = folders;
}

void HomePage::uploadPng()
{
    ImageImport::importImages(this, m_folders);
    emit uploadPicStarted();
}

void HomePage::startPhotoClicked()
{
    emit startPhoto();
}

void HomePage::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setPen(QColor(0, 0, 0, 255));
    painter.drawRect(rect().adjusted(-1, -1, -1, -1));
    painter.end();
    QWidget::paintEvent(event);
}
