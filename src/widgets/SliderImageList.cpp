#include "widgets/SliderImageList.h"

#include <QDir>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QScroller>
#include <QSpacerItem>

#include "widgets/AccessibleName.h"

namespace {

constexpr int kScrollStep = 10;

QPushButton* makeArrowButton(const QString& objectName, const QString& icon, QWidget* parent)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setFixedSize(13, 22);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(13, 22));
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QSpacerItem* fixedSpacer(int width)
{
    return new QSpacerItem(width, 20, QSizePolicy::Fixed, QSizePolicy::Minimum);
}

} // namespace

SliderImageList::SliderImageList(QWidget* parent) : QWidget(parent)
{
    setupUi();
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground, true);

    listWidget->setViewMode(QListView::ListMode);
    listWidget->setFlow(QListView::LeftToRight);
    listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listWidget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listWidget->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    listWidget->setSpacing(7);
    QScroller::grabGesture(listWidget->viewport(), QScroller::LeftMouseButtonGesture);
    listWidget->setStyleSheet(
        QStringLiteral("QListWidget { border:0px;background:rgba(25, 28, 37, 1);color: black; }"
                       "QListWidget::Item { width: 55px; height: 60px; }"
                       "QListWidget::Item:hover { background: #FDBE38; color:  rgba(0,255,0,1); }"
                       "QListWidget::item:selected { background: #FDBE38; color: rgba(0,0,255,1); }"
                       "QListWidget::item:selected:!active { background:#FDBE38 }"));

    connect(pushButton, &QPushButton::clicked, this, &SliderImageList::leftMove);
    connect(pushButton_2, &QPushButton::clicked, this, &SliderImageList::rightMove);
    connect(listWidget, &QListWidget::currentRowChanged, this, &SliderImageList::listWidgetClicked);
}

void SliderImageList::setupUi()
{
    setObjectName(QStringLiteral("SliderImageList"));
    resize(860, 70);
    setMinimumSize(860, 70);
    setMaximumHeight(105);
    setStyleSheet(QStringLiteral("background:rgba(25,28,37,1);\nbox-shadow:0px -1px 0px 0px rgba(37,40,49,1);"));

    horizontalLayout = new QHBoxLayout(this);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 0, 0, 0);

    pushButton =
        makeArrowButton(QStringLiteral("pushButton"), QStringLiteral(":/AmbrelClient/Resources/left.png"), this);
    listWidget = new QListWidget(this);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    pushButton_2 =
        makeArrowButton(QStringLiteral("pushButton_2"), QStringLiteral(":/AmbrelClient/Resources/right.png"), this);
    AccessibleName::setForIconButton(pushButton, QStringLiteral("向左滚动"));
    AccessibleName::setForIconButton(pushButton_2, QStringLiteral("向右滚动"));

    horizontalLayout->addItem(fixedSpacer(19));
    horizontalLayout->addWidget(pushButton);
    horizontalLayout->addItem(fixedSpacer(17));
    horizontalLayout->addWidget(listWidget);
    horizontalLayout->addItem(fixedSpacer(17));
    horizontalLayout->addWidget(pushButton_2);
    horizontalLayout->addItem(fixedSpacer(19));
}

void SliderImageList::appendThumbnail(const QString& filePath)
{
    // A file that does not decode still gets its cell, so that rows and files stay in step.
    const QImage image(filePath);
    QIcon icon;
    if (!image.isNull())
        icon = QIcon(QPixmap::fromImage(image.scaled(50, 50, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    listWidget->setIconSize(QSize(55, 60));
    listWidget->addItem(new QListWidgetItem(icon, QString()));
}

void SliderImageList::loadFolder(const QString& folder)
{
    this->folder = folder;
    const QFileInfoList entries = QDir(folder).entryInfoList({QStringLiteral("*.jpg"), QStringLiteral("*.bmp")},
                                                             QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        const QString path = this->folder + entry.fileName();
        files.append(path);
        appendThumbnail(path);
    }
}

void SliderImageList::addImage(const QString& filePath)
{
    files.append(filePath);
    appendThumbnail(filePath);
}

void SliderImageList::leftMove()
{
    QScrollBar* bar = listWidget->horizontalScrollBar();
    const int v = bar->value() - kScrollStep;
    bar->setValue(v > bar->minimum() ? v : bar->minimum());
}

void SliderImageList::rightMove()
{
    QScrollBar* bar = listWidget->horizontalScrollBar();
    const int v = bar->value() + kScrollStep;
    bar->setValue(v < bar->maximum() ? v : bar->maximum());
}

void SliderImageList::listWidgetClicked(int index)
{
    if (index >= 0 && index < files.size())
        emit displayImage(files.at(index));
}
