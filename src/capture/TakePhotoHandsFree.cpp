#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "capture/CameraComponent.h"
#include "capture/CaptureSession.h"
#include "capture/TakePhoto.h"
#include "core/AppLog.h"
#include "core/Settings.h"
#include "widgets/CircleButton.h"
#include "widgets/SliderImageList.h"

namespace {

// A failed still is taken again at most this often.
constexpr int kMaxRetakes = 2;

} // namespace

void TakePhoto::setupHandsFree()
{
    autoShotBox = new QCheckBox(QStringLiteral("自动拍照"), this);
    autoShotBox->setObjectName(QStringLiteral("autoShotBox"));
    autoShotBox->setFixedWidth(78);
    autoShotBox->setFocusPolicy(Qt::NoFocus);
    autoShotBox->setToolTip(QStringLiteral("新的答题卡放稳后自动拍照"));
    autoShotBox->setStyleSheet(
        QStringLiteral("QCheckBox{font-size:13px;color:rgba(215,215,215,1);background:transparent;spacing:4px;}"
                       "QCheckBox::indicator{width:11px;height:11px;border:1px solid rgba(215,215,215,1);"
                       "border-radius:2px;background:transparent;}"
                       "QCheckBox::indicator:checked{background:#FDBE38;border-color:#FDBE38;}"));
    autoShotState = new QLabel(this);
    autoShotState->setObjectName(QStringLiteral("autoShotState"));
    autoShotState->setFixedWidth(78);
    autoShotState->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    autoShotState->setWordWrap(true);
    autoShotState->setStyleSheet(QStringLiteral("font-size:12px;color:rgba(253,190,56,1);background:transparent;"));
    autoShotState->hide();
    const int at = verticalLayout_2->indexOf(circle) + 1;
    verticalLayout_2->insertWidget(at, autoShotBox);
    verticalLayout_2->insertWidget(at + 1, autoShotState);

    // Foot pedals and presenters send these keys; the page takes them, not a button that has the focus.
    circle->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);
    circle->setToolTip(QStringLiteral("拍照（空格键、回车键或翻页键）"));

    connect(&m_session, &CaptureSession::previewFrame, this, &TakePhoto::previewFrame);
    connect(autoShotBox, &QCheckBox::toggled, this, [this](bool on) {
        setAutoShot(on);
        Settings::setAutoShot(on);
    });
    autoShotBox->setChecked(Settings::autoShot());
}

void TakePhoto::setAutoShot(bool on)
{
    if (autoShotBox->isChecked() != on) {
        autoShotBox->setChecked(on);
        return;
    }
    if (m_autoShotOn == on)
        return;
    m_autoShotOn = on;
    m_autoShot.reset();
    // Off, the live video is not looked at at all.
    hSetPreviewFrameCallback(on ? &CaptureSession::onPreviewFrame : nullptr);
    autoShotState->setVisible(on);
    circle->setRingProgress(0);
    showAutoShotState();
}

void TakePhoto::previewFrame(const QImage& frame)
{
    // The camera keeps playing while other pages are shown, and a stored image may stand in place of the video: the
    // teacher is not placing sheets then.
    if (!m_autoShotOn || !isVisible() || showingStill || !m_session.isOpen())
        return;
    const qint64 now = m_session.nowMs();
    if (m_autoShot.step(frame, now)) {
        // The same road as the button: the guard, the still, its check. A still the guard holds back (a press just
        // before) is asked for again at the next frame: the sheet is not yet photographed.
        if (m_session.isOpen() && takeStill() != CaptureSession::Take::Asked)
            m_autoShot.shotMissed();
    }
    circle->setRingProgress(m_autoShot.settleProgress(now));
    showAutoShotState();
}

void TakePhoto::showAutoShotState()
{
    QString text;
    switch (m_autoShot.state()) {
    case AutoShot::State::Waiting:
        text = QStringLiteral("等待放纸");
        break;
    case AutoShot::State::Moving:
        text = m_autoShot.pressPending() ? QStringLiteral("放稳后拍照") : QStringLiteral("检测到移动");
        break;
    case AutoShot::State::Settling:
        text = QStringLiteral("保持不动…");
        break;
    case AutoShot::State::CoolDown:
        text = QStringLiteral("已拍，请换纸");
        break;
    }
    autoShotState->setText(text);
}

void TakePhoto::checkStill(const QByteArray& jpeg)
{
    const QImage picture = StillCheck::decode(jpeg);
    CheckedStill still{jpeg, m_stillCheck.judge(StillCheck::measure(picture)), AutoShot::reduce(picture), QString()};
    if (m_held.jpeg.isEmpty()) {
        m_held = still;
    } else {
        switch (StillCheck::afterRetake(m_held.result, m_held.small, still.result, still.small)) {
        case StillCheck::Retake::KeepFirst:
            if (!still.result.sheet)
                AppLog::write(QStringLiteral("capture: a retake shows no sheet; the still before it is kept"));
            break;
        case StillCheck::Retake::KeepRetake:
            m_held = still;
            break;
        case StillCheck::Retake::KeepBoth:
            // The sheet was swapped while it was taken again: each still is the only one of its sheet.
            AppLog::write(QStringLiteral("capture: a retake shows another sheet; both stills are kept"));
            handOver(m_held);
            m_held = still;
            m_held.note = QStringLiteral("重拍时画面已变，请核对");
            break;
        }
    }
    if (!m_held.result.passed() && m_retakes < kMaxRetakes && m_session.takeAgain()) {
        ++m_retakes;
        return;
    }
    flushHeldStill();
}

void TakePhoto::flushHeldStill()
{
    if (m_held.jpeg.isEmpty())
        return;
    const CheckedStill still = m_held;
    m_held = CheckedStill();
    m_retakes = 0;
    handOver(still);
}

void TakePhoto::handOver(const CheckedStill& still)
{
    m_stillCheck.remember(still.result);
    const int cells = sliderImageList->imageFiles().size();
    saveStill(still.jpeg);
    // Nothing is dropped: a still that failed every try is handed over, marked with the reason.
    const QString warning = still.result.passed() ? still.note : StillCheck::reasonText(still.result.problem);
    if (!warning.isEmpty() && sliderImageList->imageFiles().size() > cells)
        sliderImageList->setWarning(sliderImageList->imageFiles().last(), warning);
}

bool TakePhoto::isTakeKey(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_PageDown:
        return true;
    default:
        return false;
    }
}

void TakePhoto::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The keys of a foot pedal reach the page without a click into it first.
    setFocus(Qt::OtherFocusReason);
}
