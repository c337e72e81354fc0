#include "viewer/ViewPhoto.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "service/HttpCommunicationThread.h"
#include "service/ServiceRecords.h"
#include "viewer/ViewPhotoHead.h"
#include "widgets/AccessibleName.h"
#include "widgets/FormLayout.h"
#include "widgets/MyLabel.h"
#include "widgets/MyMessageBox.h"

namespace {

const char kFirstPageHint[] = "已经是第一张图片";
const char kLastPageHint[] = "已经是最后一张图片";
const char kArrowStyle[] = "background-color:rgba(0,0,0,100);border:0px";
// Qt's style parser knows only lower-case colour functions. The selector keeps the dim backdrop off the children,
// which would otherwise darken the page area a second time; the buttons inside stay flat. Full screen has nothing
// behind it to dim: there the backdrop is dark and opaque so the white arrows and caption stay readable.
const char kNormalBackdrop[] = "#ViewPhoto{background-color:rgba(0,0,0,100)} QWidget{border:0px}";
const char kFullScreenBackdrop[] = "#ViewPhoto{background-color:rgb(10,13,23)} QWidget{border:0px}";

constexpr int kNormalBottomSpace = 40;
constexpr int kFullScreenBottomSpace = 86;
// Room left for the tool bar, the warning strip and the caption around the image.
constexpr int kNormalChrome = 160;
constexpr int kFullScreenChrome = 20;
// The fixed width of the two arrow columns beside the image: 30 + 130 on the left, 55 + 20 + 55 on the right.
constexpr int kSideColumns = 290;
// The tool bar never gets narrower than its buttons need, even above a tall narrow page.
constexpr int kMinimumBarWidth = 315;

QSize pixelSize(const QString& path)
{
    // The header is enough for the size; decoding the whole page only happens when the header says nothing.
    QImageReader reader(path);
    const QSize headerSize = reader.size();
    if (headerSize.isValid())
        return headerSize;
    const QImage image(path);
    return image.isNull() ? QSize(0, 0) : image.size();
}

QPushButton* makeArrowButton(QWidget* parent, const char* name, const QString& iconPath)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(QIcon(iconPath));
    button->setIconSize(QSize(20, 36));
    button->setStyleSheet(QLatin1String(kArrowStyle));
    button->setCursor(Qt::PointingHandCursor);
    // Keys belong to the viewer (Escape leaves full screen), so the buttons never take the focus.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

ViewPhoto::ViewPhoto(QWidget* parent) : QWidget(parent)
{
    setupUi();

    hintBox = new MyMessageBox(this);
    hintBox->hide();

    connect(pushButton, &QPushButton::clicked, this, &ViewPhoto::exitQuanPing);
    connect(widget, &ViewPhotoHead::fangda, label, &MyLabel::OnZoomInImage);
    connect(widget, &ViewPhotoHead::suoxiao, label, &MyLabel::OnZoomOutImage);
    connect(widget, &ViewPhotoHead::xuanzhuan, label, &MyLabel::OnXuanZhuan);
    connect(widget, &ViewPhotoHead::close, this, &ViewPhoto::closeViewPhoto);
    connect(widget, &ViewPhotoHead::quanping, this, &ViewPhoto::quanPing);
    connect(leftButton, &QPushButton::clicked, this, &ViewPhoto::leftToViewPhoto);
    connect(rightButton, &QPushButton::clicked, this, &ViewPhoto::rightToViewPhoto);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);
    setFocusPolicy(Qt::StrongFocus);
    label_4->show();
    m_bottomSpacer->changeSize(20, kNormalBottomSpace, QSizePolicy::Minimum, QSizePolicy::Fixed);
    pushButton->hide();
}

void ViewPhoto::setupUi()
{
    setObjectName(QStringLiteral("ViewPhoto"));
    resize(860, 542);
    setMinimumSize(860, 542);
    setStyleSheet(QLatin1String(kNormalBackdrop));

    const QString resources = QStringLiteral(":/AmbrelClient/Resources/");

    auto* columns = new QHBoxLayout(this);
    columns->setObjectName(QStringLiteral("horizontalLayout"));
    columns->setSpacing(0);
    columns->setContentsMargins(0, 0, 0, 0);

    // Left column: the full-screen exit button above, the previous-page arrow in the middle.
    columns->addItem(FormLayout::horizontalSpacer(30));
    m_leftColumn = new QVBoxLayout();
    m_leftColumn->setObjectName(QStringLiteral("verticalLayout"));
    m_leftColumn->setSpacing(0);
    m_leftColumn->addItem(FormLayout::verticalSpacer(40, QSizePolicy::Fixed));
    pushButton = new QPushButton(this);
    pushButton->setObjectName(QStringLiteral("pushButton"));
    pushButton->setFixedSize(130, 46);
    pushButton->setIcon(QIcon(resources + QStringLiteral("esc.png")));
    AccessibleName::setForIconButton(pushButton, QStringLiteral("退出全屏"));
    pushButton->setIconSize(QSize(130, 46));
    pushButton->setStyleSheet(QStringLiteral("background:transparent;border:0px"));
    pushButton->setCursor(Qt::PointingHandCursor);
    pushButton->setFocusPolicy(Qt::NoFocus);
    m_leftColumn->addWidget(pushButton);
    m_leftColumn->addItem(FormLayout::verticalSpacer());
    auto* leftRow = new QHBoxLayout();
    leftRow->setSpacing(0);
    leftRow->addItem(FormLayout::horizontalSpacer(25));
    leftButton = makeArrowButton(this, "leftButton", resources + QStringLiteral("left.png"));
    AccessibleName::setForIconButton(leftButton, QStringLiteral("上一页"));
    leftButton->setMaximumSize(20, 36);
    leftRow->addWidget(leftButton);
    leftRow->addItem(FormLayout::horizontalSpacer(85));
    m_leftColumn->addLayout(leftRow);
    m_leftColumn->addItem(FormLayout::verticalSpacer());
    m_bottomSpacer = FormLayout::verticalSpacer(kNormalBottomSpace, QSizePolicy::Fixed);
    m_leftColumn->addItem(m_bottomSpacer);
    columns->addLayout(m_leftColumn);

    // Middle column: tool bar, warning strip, the image, its page-range caption.
    columns->addItem(FormLayout::horizontalSpacer(30, QSizePolicy::Expanding));
    columns->addLayout(setupMiddleColumn(resources));

    // Right column: the next-page arrow, centred vertically.
    columns->addItem(FormLayout::horizontalSpacer(60, QSizePolicy::Expanding));
    columns->addItem(FormLayout::horizontalSpacer(55));
    columns->addLayout(setupRightColumn(resources));
    columns->addItem(FormLayout::horizontalSpacer(55));
}

// The next-page arrow, centred vertically.
QVBoxLayout* ViewPhoto::setupRightColumn(const QString& resources)
{
    auto* right = new QVBoxLayout();
    right->setObjectName(QStringLiteral("verticalLayout_3"));
    right->setSpacing(0);
    right->addItem(FormLayout::verticalSpacer());
    rightButton = makeArrowButton(this, "rightButton", resources + QStringLiteral("right.png"));
    AccessibleName::setForIconButton(rightButton, QStringLiteral("下一页"));
    rightButton->setFixedSize(20, 36);
    right->addWidget(rightButton);
    right->addItem(FormLayout::verticalSpacer());
    return right;
}

QVBoxLayout* ViewPhoto::setupMiddleColumn(const QString& resources)
{
    auto* middle = new QVBoxLayout();
    middle->setObjectName(QStringLiteral("verticalLayout_2"));
    middle->setSpacing(0);
    middle->addItem(FormLayout::verticalSpacer(0));
    widget = new ViewPhotoHead(this);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setMinimumSize(315, 45);
    widget->setFixedHeight(45);
    middle->addWidget(widget);
    label_4 = new QLabel(this);
    label_4->setObjectName(QStringLiteral("label_4"));
    label_4->setMinimumSize(315, 23);
    label_4->setFixedHeight(23);
    label_4->setStyleSheet(QStringLiteral("font-size:12px;font-family:\"Microsoft YaHei\";"
                                          "color:rgba(229,143,33,1);background:rgba(255,227,192,1);"));
    label_4->setTextFormat(Qt::RichText);
    label_4->setText(QStringLiteral("<img src=\"%1shibai.png\" height=\"14\" "
                                    "style=\"vertical-align:middle\">")
                         .arg(resources));
    middle->addWidget(label_4);
    label = new MyLabel(this);
    label->setObjectName(QStringLiteral("label"));
    label->setMinimumSize(315, 360);
    middle->addWidget(label, 0, Qt::AlignHCenter);
    label_2 = new QLabel(this);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setFixedHeight(20);
    label_2->setAlignment(Qt::AlignCenter);
    label_2->setStyleSheet(QStringLiteral("font-size:12px;color:white;background:transparent;"));
    middle->addWidget(label_2);
    middle->addItem(FormLayout::verticalSpacer(0));
    return middle;
}

void ViewPhoto::showPage(int index)
{
    const std::pair<QString, QString>& page = pages.at(index);
    const QSize size = pixelSize(page.first);
    imageWidth = size.width();
    imageHeight = size.height();
    label->OnSelectImage(page.first);
    label->setScaledContents(true);
    label_2->setText(page.second);
    // Each page gets a label of its own shape, so a landscape page after a portrait one is not squeezed.
    fitImage();
}

void ViewPhoto::fitImage()
{
    if (imageWidth == 0 || imageHeight == 0)
        return;
    // The largest label of the page's shape that leaves room for the tool bar and caption above and below and
    // for the arrow columns on either side, so the arrows and the close button always stay inside the viewer.
    const int chrome = viewMode == 1 ? kNormalChrome : kFullScreenChrome;
    const qint64 maxHeight = std::max(1, height() - chrome);
    const qint64 maxWidth = std::max(1, width() - kSideColumns);
    qint64 labelHeight = maxHeight;
    qint64 labelWidth = labelHeight * imageWidth / imageHeight;
    if (labelWidth > maxWidth) {
        labelWidth = maxWidth;
        labelHeight = std::max<qint64>(1, labelWidth * imageHeight / imageWidth);
    }
    label->setFixedSize(std::max<int>(1, int(labelWidth)), int(labelHeight));
    const int barWidth = int(std::min<qint64>(maxWidth, std::max<qint64>(labelWidth, kMinimumBarWidth)));
    widget->setFixedWidth(barWidth);
    label_4->setFixedWidth(barWidth);
}

void ViewPhoto::setPhotoPath(const QList<std::pair<QString, QString>> list)
{
    label_4->hide();
    pages = list;
    showFirstPage();
}

void ViewPhoto::showFirstPage()
{
    hintBox->hide();
    if (pages.isEmpty())
        return;
    // Another student starts at the first page; the turn of the page stays, since a stack of sheets photographed
    // sideways is usually sideways throughout.
    currentIndex = 0;
    showPage(0);
}

void ViewPhoto::loadStudent(const QString& id)
{
    label_4->hide();
    studentId = id;
    AnswerInfo info;
    HttpCommunicationThread::getAnswerInfo(id, &info);
    pages = info.images;
    showFirstPage();
}

void ViewPhoto::leftToViewPhoto()
{
    const int n = pages.size();
    if (n == 0)
        return;
    if (n == 1) {
        showHint(QString::fromUtf8(kFirstPageHint));
        return;
    }
    if (currentIndex == 0) {
        // Showing the first page again resets its zoom and offset.
        showHint(QString::fromUtf8(kFirstPageHint));
        showPage(0);
        return;
    }
    --currentIndex;
    showPage(currentIndex);
}

void ViewPhoto::rightToViewPhoto()
{
    const int n = pages.size();
    if (n == 0)
        return;
    if (n == 1) {
        showHint(QString::fromUtf8(kLastPageHint));
        return;
    }
    if (currentIndex >= n - 1) {
        showHint(QString::fromUtf8(kLastPageHint));
        currentIndex = n - 1;
        showPage(currentIndex);
        return;
    }
    ++currentIndex;
    showPage(currentIndex);
}

void ViewPhoto::showHint(const QString& text)
{
    hintBox->setGeometry(width() / 2 - 123, height() / 2 - 27, 246, 54);
    hintBox->setText(text);
    hintBox->show();
    hintBox->raise();
}

void ViewPhoto::closeViewPhoto()
{
    emit closeViewPhotoUi();
}

void ViewPhoto::quanPing()
{
    if (viewMode == 1)
        enterFullScreen();
    else
        leaveFullScreen(true);
}

void ViewPhoto::enterFullScreen()
{
    const QRect screenRect = screen()->geometry();
    savedGeometry = geometry();
    m_savedMinimumSize = minimumSize();
    m_savedMaximumSize = maximumSize();
    widget->hide();
    setStyleSheet(QLatin1String(kFullScreenBackdrop));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    // The screen decides the size, even a screen smaller than the main window's least size.
    setMinimumSize(1, 1);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    pushButton->show();
    m_bottomSpacer->changeSize(20, kFullScreenBottomSpace, QSizePolicy::Minimum, QSizePolicy::Fixed);
    m_leftColumn->invalidate();
    viewMode = 0;
    // Without a window manager a full-screen request changes nothing: cover the screen ourselves first.
    setGeometry(screenRect);
    showFullScreen();
    // As a window of its own the viewer must hold the focus for Escape to reach it.
    activateWindow();
    setFocus();
}

void ViewPhoto::leaveFullScreen(bool showAfter)
{
    // Changing the window flags hides the viewer: in the normal view already, that hide has nothing to undo.
    viewMode = 1;
    setWindowFlags(Qt::SubWindow | Qt::FramelessWindowHint);
    setStyleSheet(QLatin1String(kNormalBackdrop));
    if (showAfter)
        showNormal();
    else
        setWindowState(windowState() & ~Qt::WindowFullScreen);
    pushButton->hide();
    m_bottomSpacer->changeSize(20, kNormalBottomSpace, QSizePolicy::Minimum, QSizePolicy::Fixed);
    m_leftColumn->invalidate();
    setMinimumSize(m_savedMinimumSize);
    setMaximumSize(m_savedMaximumSize);
    setGeometry(savedGeometry);
    widget->show();
}

void ViewPhoto::exitQuanPing()
{
    // In the normal view there is nothing to leave, and no saved geometry to return to.
    if (viewMode == 1)
        return;
    leaveFullScreen(true);
}

void ViewPhoto::setVisible(bool visible)
{
    if (!visible) {
        hintBox->hide();
        // Hidden while full screen (the main window switching pages): return into the main window first, or the
        // next show would open the viewer as a bare window of its own.
        if (viewMode == 0)
            leaveFullScreen(false);
    }
    QWidget::setVisible(visible);
}

void ViewPhoto::slotCurrentSize(int width, int height)
{
    setFixedHeight(height);
    setFixedWidth(width);
}

void ViewPhoto::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitImage();
}

void ViewPhoto::keyPressEvent(QKeyEvent* event)
{
    hintBox->hide();
    if (viewMode == 0 && event->key() == Qt::Key_Escape) {
        exitQuanPing();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ViewPhoto::mousePressEvent(QMouseEvent* event)
{
    hintBox->hide();
    QWidget::mousePressEvent(event);
}
