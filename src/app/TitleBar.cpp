#include "app/TitleBar.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include "app/WindowMove.h"
#include "widgets/AccessibleName.h"
#include "widgets/ResourcePixmap.h"

namespace {

QIcon buttonIcon(const QString& name)
{
    // 27 x 24 logical pixels: twice that in device pixels for the "@2x" drawing on a scaled screen.
    const QPixmap pixmap = ResourcePixmap::load(QStringLiteral(":/AmbrelClient/Resources/") + name);
    const qreal ratio = pixmap.devicePixelRatio();
    QPixmap fitted =
        pixmap.scaled(qRound(27 * ratio), qRound(24 * ratio), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    fitted.setDevicePixelRatio(ratio);
    return QIcon(fitted);
}

// A dot in the state's colour, drawn for the screen's scale.
QIcon statusIcon(const QColor& colour)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(qRound(10 * ratio), qRound(10 * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1, 1, 8, 8));
    return QIcon(pixmap);
}

TitleBar::SystemMove& systemMove()
{
    static TitleBar::SystemMove instance;
    return instance;
}

} // namespace

TitleBar::TitleBar(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(24);

    m_iconLabel = new QLabel(this);
    m_whiteLabel = new QLabel(this);
    m_textLabel = new QLabel(this);
    m_spacerLabel = new QLabel(this);
    m_minimizeButton = new QPushButton(this);
    m_maximizeButton = new QPushButton(this);
    m_closeButton = new QPushButton(this);

    m_spacerLabel->setFixedWidth(10);
    m_spacerLabel->setText(QStringLiteral("  "));
    m_iconLabel->setStyleSheet(QStringLiteral("background:rgba(10,13,23,1);"));
    m_iconLabel->setPixmap(ResourcePixmap::load(QStringLiteral(":/AmbrelClient/Resources/logo.bmp")));
    m_textLabel->setText(QStringLiteral(" "));
    m_whiteLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_whiteLabel->setFixedHeight(24);
    m_minimizeButton->setFixedSize(27, 24);
    m_maximizeButton->setFixedSize(27, 24);
    m_closeButton->setFixedSize(27, 24);
    m_whiteLabel->setObjectName(QStringLiteral("whiteLabel"));
    m_minimizeButton->setObjectName(QStringLiteral("minimizeButton"));
    m_maximizeButton->setObjectName(QStringLiteral("maximizeButton"));
    m_closeButton->setObjectName(QStringLiteral("closeButton"));

    m_maximizeButton->setIcon(buttonIcon(QStringLiteral("normal.ico")));
    m_minimizeButton->setIcon(buttonIcon(QStringLiteral("min.png")));
    m_closeButton->setIcon(buttonIcon(QStringLiteral("close.png")));
    AccessibleName::setForIconButton(m_minimizeButton, QStringLiteral("最小化"));
    AccessibleName::setForIconButton(m_closeButton, QStringLiteral("关闭"));
    // Until the first state update (the first resize) the window is at normal size.
    AccessibleName::setForIconButton(m_maximizeButton, tr("Maximize"));

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_spacerLabel);
    layout->addWidget(m_iconLabel);
    layout->addWidget(m_textLabel);
    layout->addWidget(m_whiteLabel);
    layout->addWidget(m_minimizeButton);
    layout->addWidget(m_maximizeButton);
    layout->addWidget(m_closeButton);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    addQueueStatus();

    connect(m_minimizeButton, SIGNAL(clicked(bool)), this, SLOT(onClicked()));
    connect(m_maximizeButton, SIGNAL(clicked(bool)), this, SLOT(onClicked()));
    connect(m_closeButton, SIGNAL(clicked(bool)), this, SLOT(onClicked()));
    setStyleSheet(QStringLiteral("background:rgba(10,13,23,1);color:white;"));
    // The bar paints its own background, so the pixels the buttons' rounded corners leave show the bar's colour
    // rather than the window below.
    setAttribute(Qt::WA_StyledBackground);
}

void TitleBar::addQueueStatus()
{
    // The upload queue's status lies at the right end of the stretch, so the bar's own controls keep their places;
    // the rest of the stretch still drags the window.
    m_queueStatusButton = new QPushButton(m_whiteLabel);
    m_queueStatusButton->setObjectName(QStringLiteral("queueStatusButton"));
    m_queueStatusButton->setFixedHeight(24);
    m_queueStatusButton->setCursor(Qt::PointingHandCursor);
    m_queueStatusButton->setFocusPolicy(Qt::NoFocus);
    AccessibleName::setForIconButton(m_queueStatusButton, QStringLiteral("上传状态"));
    m_queueStatusButton->hide();
    auto* statusLayout = new QHBoxLayout(m_whiteLabel);
    statusLayout->setSpacing(0);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->addStretch(1);
    statusLayout->addWidget(m_queueStatusButton);
    connect(m_queueStatusButton, &QPushButton::clicked, this, &TitleBar::queueStatusClicked);
}

bool TitleBar::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::WindowStateChange:
        updateMaximize();
        return true;
    case QEvent::WindowTitleChange:
        if (!widget)
            updateMaximize();
        return true;
    case QEvent::WindowIconChange:
        if (widget) {
            // Showing the window announces its icon too; without one the logo stays rather than a blank label.
            const QIcon icon = widget->windowIcon();
            if (!icon.isNull())
                m_iconLabel->setPixmap(icon.pixmap(QSize(23, 11), QIcon::Normal, QIcon::Off));
        } else
            updateMaximize();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void TitleBar::setSystemMoveForTests(SystemMove move)
{
    systemMove() = std::move(move);
}

void TitleBar::mousePressEvent(QMouseEvent* event)
{
    m_dragging = false;
    m_pressed = event->button() == Qt::LeftButton;
    m_pressPos = event->globalPos();
    if (m_pressed && WindowMove::startDistance() == 0) {
        m_pressed = false;
        startMove();
    }
    event->ignore();
}

void TitleBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        m_pressed = false;
        m_dragging = false;
        event->ignore();
        return;
    }
    if (m_pressed && (event->globalPos() - m_pressPos).manhattanLength() >= WindowMove::startDistance()) {
        m_pressed = false;
        startMove();
    }
    if (m_dragging)
        window()->move(event->globalPos() - m_dragOffset);
    else
        event->ignore();
}

void TitleBar::startMove()
{
    QWidget* top = window();
    if (!top->isWindow() || !WindowMove::releaseCapture())
        return;
    const bool taken =
        systemMove() ? systemMove()(top)
                     : WindowMove::startSystemMove(top->windowHandle(), static_cast<std::uintptr_t>(top->winId()));
    if (taken)
        return;
    // No window manager to hand the move to: follow the mouse ourselves until the button is released, keeping
    // the point that was pressed under the pointer.
    m_dragging = true;
    m_dragOffset = m_pressPos - top->pos();
}

void TitleBar::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressed = false;
    m_dragging = false;
    event->ignore();
}

void TitleBar::mouseDoubleClickEvent(QMouseEvent* event)
{
    Q_UNUSED(event)
    emit m_maximizeButton->clicked(false);
}

void TitleBar::onClicked()
{
    auto* button = qobject_cast<QPushButton*>(sender());
    QWidget* top = window();
    if (!top->isWindow())
        return;
    if (button == m_minimizeButton) {
        top->showMinimized();
    } else if (button == m_maximizeButton) {
        if (top->isMaximized()) {
            m_maximizeButton->setIcon(buttonIcon(QStringLiteral("normal.ico")));
            top->showNormal();
        } else {
            m_maximizeButton->setIcon(buttonIcon(QStringLiteral("max.png")));
            top->showMaximized();
        }
    } else if (button == m_closeButton) {
        top->close();
    }
}

void TitleBar::updateMaximize()
{
    QWidget* top = window();
    if (!top->isWindow())
        return;
    if (top->isMaximized()) {
        AccessibleName::setForIconButton(m_maximizeButton, tr("Restore"));
        m_maximizeButton->setProperty("maximizeProperty", QStringLiteral("restore"));
    } else {
        m_maximizeButton->setProperty("maximizeProperty", QStringLiteral("maximize"));
        AccessibleName::setForIconButton(m_maximizeButton, tr("Maximize"));
    }
    // Style-sheet rules that depend on the property are only evaluated again when the style is set anew.
    m_maximizeButton->setStyle(QApplication::style());
}

void TitleBar::setQueueState(const QueueState& state)
{
    const QueueState::Summary summary = state.summary();
    const bool restyle = summary.kind != m_queueKind;
    m_queueKind = summary.kind;
    if (summary.kind == QueueState::Kind::Idle) {
        m_queueStatusButton->hide();
        m_queueStatusButton->setText(QString());
        AccessibleName::setForIconButton(m_queueStatusButton, QStringLiteral("上传状态"));
        return;
    }
    if (restyle) {
        // Uploading in the accent colour, kept on this computer for want of a link in the accent's orange, refused in
        // the pages' warning red.
        QColor colour(0xFD, 0xBE, 0x38);
        QString text = QStringLiteral("white");
        if (summary.kind == QueueState::Kind::Offline) {
            colour = QColor(0xFD, 0xA7, 0x38);
            text = QStringLiteral("rgba(253,167,56,1)");
        } else if (summary.kind == QueueState::Kind::Refused) {
            colour = QColor(255, 82, 82);
            text = QStringLiteral("rgba(255,82,82,1)");
        }
        m_queueStatusButton->setStyleSheet(
            QStringLiteral("QPushButton#queueStatusButton{border:none;background:transparent;padding:0px 10px;"
                           "font-family:'Microsoft YaHei';font-size:12px;color:%1;}"
                           "QPushButton#queueStatusButton:hover{background:rgba(255,255,255,20);}")
                .arg(text));
        m_queueStatusButton->setIcon(statusIcon(colour));
    }
    m_queueStatusButton->setText(summary.shortText);
    m_queueStatusButton->setToolTip(summary.fullText + QStringLiteral("\n点击查看每张照片"));
    m_queueStatusButton->setAccessibleName(summary.fullText);
    m_queueStatusButton->show();
}

void TitleBar::showOtherCopyUploading(bool uploading)
{
    m_queueStatusButton->setText(uploading ? QStringLiteral("另一个窗口正在上传") : QString());
    m_queueStatusButton->setVisible(uploading);
    // The worker's first published state restyles the button.
    m_queueKind = QueueState::Kind::Idle;
}
