#include "pages/PhotoTableWidgetItem.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPixmapCache>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "pages/ElidedLabel.h"
#include "widgets/FormLayout.h"
#include "widgets/NumLabel.h"

namespace {

constexpr int TileSize = 185;
constexpr int PhotoHeight = 135;

// One sheet for the whole tile: a refresh builds dozens of tiles, and every separate sheet is parsed and matched
// on its own.
const QString TileStyle =
    QStringLiteral("PhotoTableWidgetItem{background:rgba(10,13,23,1);}"
                   "QLabel#photo{background:rgba(10,13,23,1);}"
                   "QLabel#name{font-size:12px;font-family:'Microsoft YaHei';color:white;margin-top:5px;"
                   "background:rgba(10,13,23,1);}"
                   "QLabel#score{font-size:12px;font-family:'Microsoft YaHei';color:rgba(253,167,56,1);margin-top:5px;"
                   "background:rgba(10,13,23,1);}"
                   "QLabel#label{font-size:12px;font-family:'Microsoft YaHei';color:rgba(253,167,56,1);"
                   "background:rgba(10,13,23,1);}");

ElidedLabel* makeTextLabel(QWidget* parent, const QString& objectName, const QString& text)
{
    auto* label = new ElidedLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

// Thumbnails come from the service under any name; the format is taken from the bytes, not the extension.
QPixmap decodeThumbnail(const QString& path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return {};
    // Decoding straight at the tile's size lets the JPEG decoder skip most of the work.
    reader.setScaledSize(QSize(TileSize, PhotoHeight));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.size() != QSize(TileSize, PhotoHeight))
        image = image.scaled(TileSize, PhotoHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return QPixmap::fromImage(image);
}

// Every refresh rebuilds all tiles from the same files: keep the decoded thumbnails, keyed by the file's identity
// (path, size and modification time), so that a changed file is read again.
QPixmap readThumbnail(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    const QString key =
        QStringLiteral("tile-thumb:%1:%2:%3").arg(path).arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    pixmap = decodeThumbnail(path);
    if (!pixmap.isNull())
        QPixmapCache::insert(key, pixmap);
    return pixmap;
}

} // namespace

PhotoTableWidgetItem::PhotoTableWidgetItem(const QString& thumbPath, const QString& studentName,
                                           const QString& scoreDesc, const QString& warnDesc, int imageCount, int index,
                                           QWidget* parent)
    : QWidget(parent), index(index)
{
    setObjectName(QStringLiteral("PhotoTableWidgetItem"));
    setFixedSize(TileSize, TileSize);
    setStyleSheet(TileStyle);
    setCursor(Qt::PointingHandCursor);

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* photo = new QLabel(this);
    photo->setObjectName(QStringLiteral("photo"));
    photo->setFixedSize(TileSize, PhotoHeight);
    photo->setContextMenuPolicy(Qt::NoContextMenu);
    layout->addWidget(photo);

    auto* textRow = new QHBoxLayout();
    textRow->setObjectName(QStringLiteral("horizontalLayout"));
    textRow->setSpacing(0);
    auto* name = makeTextLabel(this, QStringLiteral("name"), QStringLiteral("Tex"));
    name->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    textRow->addWidget(name);
    textRow->addItem(FormLayout::horizontalSpacer(10));
    auto* score = makeTextLabel(this, QStringLiteral("score"), QStringLiteral("Text"));
    score->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A short score stays whole and a long name gives way; a long score takes at most half the row.
    score->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    score->setMaximumWidth(TileSize / 2);
    textRow->addWidget(score);
    textRow->addItem(FormLayout::horizontalSpacer(40, QSizePolicy::Expanding));
    layout->addLayout(textRow);

    auto* warning = makeTextLabel(this, QStringLiteral("label"), QString());
    layout->addWidget(warning);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);

    name->setFullText(studentName);
    // The badge hangs in the photo's top right corner, wholly inside it: it grows to the left for long counts.
    auto* badge = new NumLabel(QString::number(imageCount) + QStringLiteral("张"), photo);
    const int badgeWidth = badge->fittingWidth();
    badge->setGeometry(TileSize - badgeWidth, 0, badgeWidth, 18);
    if (!warnDesc.isEmpty())
        warning->setFullText(warnDesc);
    else
        warning->hide();
    score->setFullText(imageCount != 0 ? scoreDesc : QStringLiteral("识别中"));
    const QPixmap thumbnail = readThumbnail(thumbPath);
    if (!thumbnail.isNull())
        photo->setPixmap(thumbnail);
}

void PhotoTableWidgetItem::mousePressEvent(QMouseEvent*)
{
    emit indexClicked(index);
}
