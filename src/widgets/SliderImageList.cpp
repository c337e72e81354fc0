#include "widgets/SliderImageList.h"

#include <mutex>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QScroller>
#include <QSpacerItem>
#include <QThreadPool>

#include "widgets/AccessibleName.h"
#include "widgets/FormLayout.h"

namespace {

constexpr int kScrollStep = 10;
constexpr int kThumbnailSide = 50;
// At or below 50 the JPEG decoder takes its faster, coarser steps: plenty for a 50 x 50 thumbnail.
constexpr int kThumbnailDecodeQuality = 50;

// Thumbnails made once are kept beside the images, in a folder the upload worker does not look into, so that the
// next start shows hundreds of them without decoding a photograph.
QString cachedThumbnailPath(const QString& filePath)
{
    const QFileInfo file(filePath);
    return file.path() + QStringLiteral("/thumbs/") + file.fileName() + QStringLiteral(".png");
}

// The image squeezed to 50 x 50 (aspect ratio ignored, as the strip shows it). The JPEG decoder scales by 1/2, 1/4
// or 1/8 while decoding, so a thumbnail costs a fraction of decoding the whole photograph. Null when the file does
// not decode.
QImage decodeThumbnail(const QString& filePath)
{
    const QString cached = cachedThumbnailPath(filePath);
    const QFileInfo cache(cached);
    if (cache.exists() && cache.lastModified() >= QFileInfo(filePath).lastModified()) {
        QImage thumbnail(cached);
        if (thumbnail.size() == QSize(kThumbnailSide, kThumbnailSide))
            return thumbnail;
    }
    QImageReader reader(filePath);
    reader.setScaledSize(QSize(kThumbnailSide, kThumbnailSide));
    reader.setQuality(kThumbnailDecodeQuality);
    const QImage thumbnail = reader.read();
    // A cache that cannot be written only costs the decode next time.
    if (!thumbnail.isNull() && QDir().mkpath(QFileInfo(cached).path())) {
        QSaveFile file(cached);
        if (file.open(QIODevice::WriteOnly) && thumbnail.save(&file, "PNG"))
            file.commit();
    }
    return thumbnail;
}

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

} // namespace

// Thumbnails decoded on the thread pool reach the strip through this; a strip that is gone lets go of it first.
struct SliderImageList::Delivery
{
    std::mutex mutex;
    SliderImageList* strip = nullptr;
};

SliderImageList::SliderImageList(QWidget* parent) : QWidget(parent), delivery(std::make_shared<Delivery>())
{
    delivery->strip = this;
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
    connect(listWidget->horizontalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (followNewest)
            listWidget->horizontalScrollBar()->setValue(maximum);
    });
}

SliderImageList::~SliderImageList()
{
    std::lock_guard<std::mutex> lock(delivery->mutex);
    delivery->strip = nullptr;
}

void SliderImageList::setupUi()
{
    setObjectName(QStringLiteral("SliderImageList"));
    resize(860, 70);
    setMinimumSize(860, 70);
    setMaximumHeight(105);
    setStyleSheet(QStringLiteral("background:rgba(25,28,37,1);"));
    // Style sheets know no shadows: the one-pixel line above the strip (offset 0, -1, no blur) is drawn by an effect.
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setOffset(0, -1);
    shadow->setBlurRadius(0);
    shadow->setColor(QColor(37, 40, 49));
    setGraphicsEffect(shadow);

    horizontalLayout = new QHBoxLayout(this);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 0, 0, 0);

    pushButton =
        makeArrowButton(QStringLiteral("pushButton"), QStringLiteral(":/AmbrelClient/Resources/left.png"), this);
    listWidget = new QListWidget(this);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    listWidget->setIconSize(QSize(55, 60));
    pushButton_2 =
        makeArrowButton(QStringLiteral("pushButton_2"), QStringLiteral(":/AmbrelClient/Resources/right.png"), this);
    AccessibleName::setForIconButton(pushButton, QStringLiteral("向左滚动"));
    AccessibleName::setForIconButton(pushButton_2, QStringLiteral("向右滚动"));

    horizontalLayout->addItem(FormLayout::horizontalSpacer(19));
    horizontalLayout->addWidget(pushButton);
    horizontalLayout->addItem(FormLayout::horizontalSpacer(17));
    horizontalLayout->addWidget(listWidget);
    horizontalLayout->addItem(FormLayout::horizontalSpacer(17));
    horizontalLayout->addWidget(pushButton_2);
    horizontalLayout->addItem(FormLayout::horizontalSpacer(19));
}

// Every file gets its cell, also one that does not decode, so that rows and files stay in step. Returns its row.
int SliderImageList::appendCell()
{
    listWidget->addItem(new QListWidgetItem(QIcon(), QString()));
    return listWidget->count() - 1;
}

void SliderImageList::showThumbnail(int row, const QImage& thumbnail)
{
    QListWidgetItem* item = listWidget->item(row);
    if (!item || thumbnail.isNull())
        return;
    if (!warnings.contains(row)) {
        item->setIcon(QIcon(QPixmap::fromImage(thumbnail)));
        return;
    }
    // A warning triangle in the top-right corner, an eighth of the thumbnail's height or more.
    QImage marked = thumbnail.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&marked);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = qMax(12.0, marked.height() * 0.4);
    const QPointF corner(marked.width() - side - 2, 2);
    const QPointF triangle[3] = {corner + QPointF(side / 2, 0), corner + QPointF(side, side),
                                 corner + QPointF(0, side)};
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(255, 82, 82));
    p.drawPolygon(triangle, 3);
    p.setPen(QPen(Qt::white, qMax(1.5, side / 8)));
    p.drawLine(corner + QPointF(side / 2, side * 0.35), corner + QPointF(side / 2, side * 0.7));
    p.drawPoint(corner + QPointF(side / 2, side * 0.85));
    p.end();
    item->setIcon(QIcon(QPixmap::fromImage(marked)));
}

void SliderImageList::setWarning(const QString& filePath, const QString& reason)
{
    const int row = files.lastIndexOf(filePath);
    QListWidgetItem* item = listWidget->item(row);
    if (!item)
        return;
    warnings.insert(row, reason);
    item->setToolTip(reason);
    showThumbnail(row, decodeThumbnail(filePath));
}

void SliderImageList::loadFolder(const QString& folder)
{
    this->folder = folder;
    const QFileInfoList entries = QDir(folder).entryInfoList({QStringLiteral("*.jpg"), QStringLiteral("*.bmp")},
                                                             QDir::Files, QDir::Name | QDir::IgnoreCase);
    // A task may hold hundreds of photographs: the window must not wait for their thumbnails.
    for (const QFileInfo& entry : entries) {
        const QString path = this->folder + entry.fileName();
        files.append(path);
        const int row = appendCell();
        const std::shared_ptr<Delivery> to = delivery;
        QThreadPool::globalInstance()->start(QRunnable::create([to, row, path] {
            {
                std::lock_guard<std::mutex> lock(to->mutex);
                if (!to->strip)
                    return;
            }
            const QImage thumbnail = decodeThumbnail(path);
            std::lock_guard<std::mutex> lock(to->mutex);
            if (SliderImageList* strip = to->strip) {
                // Queued to the strip's own thread; dropped with the strip if it goes before it runs.
                QMetaObject::invokeMethod(
                    strip, [strip, row, thumbnail] { strip->showThumbnail(row, thumbnail); }, Qt::QueuedConnection);
            }
        }));
    }
}

void SliderImageList::addImage(const QString& filePath)
{
    files.append(filePath);
    // One new photograph: decoded at thumbnail size at once, a matter of milliseconds.
    const int row = appendCell();
    showThumbnail(row, decodeThumbnail(filePath));
    // The strip follows the camera: the newest photograph comes into view once the list has laid its cell out
    // (the scroll range grows then), and stays there as thumbnails decoded meanwhile widen the cells before it.
    followNewest = true;
    QScrollBar* bar = listWidget->horizontalScrollBar();
    bar->setValue(bar->maximum());
}

void SliderImageList::leftMove()
{
    // The teacher looks back: the strip stays where it is taken.
    followNewest = false;
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
