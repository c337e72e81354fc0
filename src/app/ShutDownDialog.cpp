#include "app/ShutDownDialog.h"

#include <algorithm>

#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "core/AppLog.h"
#include "service/HttpCommunicationThread.h"
#include "upload/QueueLookup.h"
#include "upload/UploadLedger.h"

namespace {

constexpr int kPollIntervalMs = 3000;

const char kUploadTitle[] = "照片正在上传中";
const char kUploadSubtitle[] = "照片数量越多需要的时间越长，上传过程中请不要关闭程序";
const char kRecognitionTitle[] = "正在识别需要补拍学生名单";
const char kRecognitionSubtitle[] = "正在拼命识别中，请给我一首歌的时间";
const char kWait[] = "等待";
const char kContinue[] = "继续拍照";
const char kClose[] = "关闭窗口";
const char kOutOfReachSubtitle[] = "照片已保存在本机，下次打开时自动上传";
const char kOtherCopySubtitle[] = "关闭本窗口不影响另一个窗口继续上传";

QLabel* makeLabel(QWidget* parent, const char* objectName, const QString& style, const QString& text)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(objectName));
    label->setStyleSheet(style);
    label->setText(text);
    return label;
}

} // namespace

ShutDownDialog::ShutDownDialog(QWidget* parent) : QDialog(parent)
{
    setupUi();
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);

    m_timer.setInterval(kPollIntervalMs);
    m_timer.setSingleShot(false);
    connect(&m_timer, SIGNAL(timeout()), this, SLOT(timerTimeout()));
    connect(waitButton, SIGNAL(clicked()), this, SLOT(wait()));
    connect(continueButton, SIGNAL(clicked()), this, SLOT(toTakePicture()));
}

void ShutDownDialog::setupUi()
{
    setFixedSize(450, 260);
    setStyleSheet(QStringLiteral("background:white;"));
    setWindowTitle(QStringLiteral("照片上传"));

    m_titleLabel = makeLabel(this, "titleLabel",
                             QStringLiteral("font-family:\"Microsoft YaHei\";font-size:20px;font-weight:500;"
                                            "color:rgba(51,51,51,1);"),
                             QString::fromUtf8(kUploadTitle));
    m_subtitleLabel = makeLabel(this, "subtitleLabel",
                                QStringLiteral("font-family:\"Microsoft YaHei\";font-size:12px;font-weight:400;"
                                               "color:rgba(51,51,51,1);"),
                                QString::fromUtf8(kUploadSubtitle));

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setMinimumSize(326, 7);
    m_progressBar->setTextVisible(false);
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(24);
    m_progressBar->setStyleSheet(
        QStringLiteral("QProgressBar{border:none;background:rgba(216,216,216,1);border-radius:8px;}"
                       "QProgressBar::chunk{background:#FDA738;border-radius:8px;}"));

    m_percentLabel = makeLabel(this, "percentLabel",
                               QStringLiteral("font-family:\"Microsoft YaHei\";font-size:14px;font-weight:500;"
                                              "color:rgba(253,167,56,1);"),
                               QString());
    m_percentLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_percentLabel->hide();
    m_estimateLabel = makeLabel(this, "estimateLabel",
                                QStringLiteral("font-family:\"Microsoft YaHei\";font-size:14px;font-weight:400;"
                                               "color:rgba(255,82,82,1);"),
                                QStringLiteral("预估剩余时间：3分钟"));
    m_estimateLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    waitButton = new QPushButton(this);
    waitButton->setObjectName(QStringLiteral("waitButton"));
    waitButton->setFixedSize(85, 35);
    waitButton->setStyleSheet(QStringLiteral("border:1px solid #FDA738;border-radius:4px;"
                                             "color:rgba(253,167,56,1);font-size:14px;background:white;"));
    waitButton->setText(QString::fromUtf8(kWait));
    continueButton = new QPushButton(this);
    continueButton->setObjectName(QStringLiteral("continueButton"));
    continueButton->setFixedSize(85, 35);
    continueButton->setStyleSheet(
        QStringLiteral("background:qlineargradient(x1:0,y1:1,x2:0,y2:0,stop:0 rgba(253,190,56,255),"
                       "stop:1 rgba(253,167,56,255));color:white;font-size:14px;"
                       "border:1px solid #FDA738;border-radius:4px;"));
    continueButton->setText(QString::fromUtf8(kContinue));
    // Enter never quits: the default is the button that keeps the program running in every phase.
    continueButton->setAutoDefault(false);
    waitButton->setDefault(true);
    layOut();
}

void ShutDownDialog::layOut()
{
    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(0);
    outer->setContentsMargins(32, 21, 32, 21);

    auto* titleRow = new QHBoxLayout();
    titleRow->addWidget(m_titleLabel);
    titleRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    outer->addLayout(titleRow);

    outer->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    outer->addWidget(m_subtitleLabel);
    outer->addSpacing(12);
    outer->addWidget(m_progressBar);
    outer->addSpacing(8);
    auto* labelRow = new QHBoxLayout();
    labelRow->addWidget(m_percentLabel);
    labelRow->addWidget(m_estimateLabel);
    outer->addLayout(labelRow);
    outer->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));

    auto* buttonRow = new QHBoxLayout();
    buttonRow->setSpacing(0);
    buttonRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    buttonRow->addWidget(waitButton);
    buttonRow->addItem(new QSpacerItem(18, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    buttonRow->addWidget(continueButton);
    outer->addLayout(buttonRow);
}

ShutDownDialog::~ShutDownDialog() = default;

void ShutDownDialog::setImageFolder(const TaskFolders& folders)
{
    // Without a task nothing is uploaded, so nothing can be waited for.
    if (!folders.isValid())
        return;
    folders.ensureImageFolder();
    m_folders = folders;
}

void ShutDownDialog::setQueueState(const QueueState& state)
{
    m_queueState = state;
    // The bar and the texts follow the worker as it publishes, not only at the next poll.
    if (uploadPhase && isVisible())
        timerTimeout();
}

int ShutDownDialog::countWaitingImages()
{
    // The worker's published count, over every task it empties: no look at the folders here.
    QueueState looked;
    const QueueState* counted = &m_queueState;
    if (m_queueState.pending() == 0) {
        // The worker has nothing left (or has not said yet): a sheet put there since its last look still counts.
        // The folders then hold no more than the refused sheets, so this look costs little. Before the folder is
        // known, "." would be counted: nothing waits.
        if (m_folders.isValid() && m_ledgers.empty()) {
            // The worker also finishes what the teacher queued under other tasks: the teacher waits for those too.
            QList<TaskFolders> tasks{m_folders};
            tasks += QueueLookup::otherTasksOf(HttpCommunicationThread::uid, m_folders);
            for (const TaskFolders& task : tasks) {
                auto ledger = std::make_unique<UploadLedger>();
                ledger->openForTask(task);
                m_ledgers.emplace_back(task, std::move(ledger));
            }
        }
        for (const auto& [task, ledger] : m_ledgers) {
            const QueueState ofTask = QueueLookup::ofFolder(task.taskId(), task.imageFolder(), *ledger);
            looked.tasks += ofTask.tasks;
            looked.images += ofTask.images;
        }
        counted = &looked;
    }
    // Refused images stay in the folder but are not waited for: they are named instead, as the worker knows them
    // once it has said anything.
    const QueueState& refused = m_queueState.published ? m_queueState : *counted;
    m_refused = refused.refused();
    m_refusedImages = refused.refusedImages();
    return counted->pending();
}

void ShutDownDialog::showEstimate(const QString& text)
{
    if (m_refused == 0) {
        m_estimateLabel->setText(text);
        m_estimateLabel->setToolTip(QString());
        return;
    }
    // The dialog's width is fixed: a long list of names ends in "…" and is read whole in the tooltip.
    const QString named =
        QStringLiteral("%1张照片未能上传：").arg(m_refused) + m_refusedImages.join(QStringLiteral("、"));
    m_estimateLabel->ensurePolished();
    const int room = width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
    m_estimateLabel->setText(m_estimateLabel->fontMetrics().elidedText(named, Qt::ElideRight, room));
    m_estimateLabel->setToolTip(named);
}

bool ShutDownDialog::checkPending(Visit visit)
{
    m_progressBar->setValue(0);
    m_percentLabel->setText(QStringLiteral("0%"));
    initialCount = countWaitingImages();
    m_remaining = initialCount;
    if (initialCount > 0) {
        m_progressBar->setMaximum(initialCount);
        showEstimate(QStringLiteral("  "));
        uploadPhase = true;
        showUploadTexts();
        followReach();
        m_timer.start();
        return true;
    }
    if (m_refused > 0) {
        if (visit == Visit::ProgressPage)
            return false;
        showRefusedTexts();
        return true;
    }

    int proofread = 0;
    int total = 0;
    HttpCommunicationThread::getZeroProofreadStatus(&proofread, &total);
    if (proofread == total)
        return false;
    uploadPhase = false;
    showRecognitionTexts(QStringLiteral(" "));
    m_timer.start();
    return true;
}

void ShutDownDialog::timerTimeout()
{
    if (m_inTick)
        return;
    m_inTick = true;
    if (uploadPhase) {
        const int remaining = countWaitingImages();
        if (remaining == 0 && m_refused > 0) {
            showRefusedTexts();
        } else if (remaining == 0) {
            uploadPhase = false;
            m_stuck = QueueState::Link::Ok;
            m_progressBar->setMaximum(100);
            m_progressBar->setValue(0);
            m_percentLabel->setText(QStringLiteral("0%"));
            showRecognitionTexts(QStringLiteral("  "));
        } else {
            // Out of range when images were added while waiting: the bar then keeps its position.
            m_remaining = remaining;
            m_progressBar->setValue(initialCount - remaining);
            setPercentage((initialCount - remaining) * 100 / initialCount);
            showEstimate(QStringLiteral("  "));
            followReach();
        }
    } else {
        int proofread = 0;
        int total = 0;
        HttpCommunicationThread::getZeroProofreadStatus(&proofread, &total);
        m_progressBar->setMaximum(total);
        m_progressBar->setValue(proofread);
        if (proofread == total) {
            m_percentLabel->setText(QStringLiteral("100%"));
            m_progressBar->setMaximum(1);
            m_progressBar->setValue(1);
            m_estimateLabel->setText(QStringLiteral("  "));
            m_timer.stop();
            m_inTick = false;
            accept();
            return;
        }
        // Without a total there is no share to show: keep what the label says.
        if (total != 0)
            m_percentLabel->setText(QString::number(proofread * 100 / total) + QLatin1Char('%'));
    }
    m_inTick = false;
}

void ShutDownDialog::setPercentage(int percent)
{
    m_percentLabel->setText(QString::number(std::clamp(percent, 0, 100)) + QLatin1Char('%'));
}

void ShutDownDialog::showRecognitionTexts(const QString& estimate)
{
    m_titleLabel->setText(QString::fromUtf8(kRecognitionTitle));
    m_subtitleLabel->setText(QString::fromUtf8(kRecognitionSubtitle));
    showEstimate(estimate);
    waitButton->setText(QString::fromUtf8(kContinue));
    continueButton->setText(QString::fromUtf8(kClose));
}

void ShutDownDialog::showUploadTexts()
{
    m_stuck = QueueState::Link::Ok;
    m_titleLabel->setText(QString::fromUtf8(kUploadTitle));
    m_subtitleLabel->setText(QString::fromUtf8(kUploadSubtitle));
    waitButton->setText(QString::fromUtf8(kWait));
    continueButton->setText(QString::fromUtf8(kContinue));
}

void ShutDownDialog::followReach()
{
    // The worker's published link: until it has said anything, images are taken to move. While another copy holds
    // the folder this copy's worker does not run, and the main window says so.
    const QueueState::Link published = m_queueState.published ? m_queueState.link : QueueState::Link::Ok;
    const QueueState::Link link = m_otherCopyUploading ? QueueState::Link::OtherCopy : published;
    if (link == m_stuck)
        return;
    if (link == QueueState::Link::Ok) {
        showUploadTexts();
        AppLog::write(QStringLiteral("wait dialog: images move again"));
        return;
    }
    // Waiting would be for ever: the teacher is told why, may go back to work or quit, and the images stay in the
    // folder for the worker to send at the next start.
    m_stuck = link;
    m_titleLabel->setText(QueueState::linkText(link));
    m_subtitleLabel->setText(
        QString::fromUtf8(link == QueueState::Link::OtherCopy ? kOtherCopySubtitle : kOutOfReachSubtitle));
    waitButton->setText(QString::fromUtf8(kContinue));
    continueButton->setText(QString::fromUtf8(kClose));
    AppLog::write(QStringLiteral("wait dialog: nothing can move (%1), the teacher may quit with the images kept")
                      .arg(QueueState::linkText(link)));
}

void ShutDownDialog::showOtherCopyUploading(bool uploading)
{
    m_otherCopyUploading = uploading;
    if (uploadPhase)
        followReach();
}

void ShutDownDialog::showRefusedTexts()
{
    // Nothing more will go on its own: no polling, and the buttons of the phase that may end the program.
    uploadPhase = false;
    m_stuck = QueueState::Link::Ok;
    m_timer.stop();
    m_progressBar->setMaximum(1);
    m_progressBar->setValue(0);
    m_percentLabel->setText(QStringLiteral("0%"));
    m_titleLabel->setText(QStringLiteral("%1 张照片无法上传").arg(m_refused));
    // No promise of another attempt: a file that is no image never uploads. The teacher settles them in the
    // upload queue ("重试" or "不再上传"); quitting keeps them where they are.
    m_subtitleLabel->setText(QStringLiteral("照片仍在本机，可在上传队列中重试或不再上传"));
    showEstimate(QStringLiteral("  "));
    waitButton->setText(QString::fromUtf8(kContinue));
    continueButton->setText(QString::fromUtf8(kClose));
}

void ShutDownDialog::centreOn(const QWidget* window)
{
    QRect area;
    if (window && window->isVisible() && !window->isMinimized())
        area = window->frameGeometry();
    else if (const QScreen* screen = window && window->screen() ? window->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isEmpty())
        return;
    // move() places the frame, which is not known before the dialog is first shown (and absent without a window
    // manager): the dialog's own size is the best guess until then.
    const QSize frame = frameGeometry().size().expandedTo(size());
    move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
}

void ShutDownDialog::wait()
{
    // Waiting is all "等待" does, unless the images cannot be sent: then it reads "继续拍照".
    if (uploadPhase && m_stuck == QueueState::Link::Ok)
        return;
    emit toHomePageUi();
    accept();
}

void ShutDownDialog::toTakePicture()
{
    if (uploadPhase && m_stuck == QueueState::Link::Ok) {
        emit toHomePageUi();
        accept();
        return;
    }
    // Support reads how the program ended and what it left behind.
    AppLog::write(QStringLiteral("quit: by the wait dialog's 关闭窗口, %1 image(s) left to upload, %2 refused%3")
                      .arg(uploadPhase ? m_remaining : 0)
                      .arg(m_refused)
                      .arg(m_stuck == QueueState::Link::Ok
                               ? QString()
                               : QStringLiteral(" (") + QueueState::linkText(m_stuck) + QLatin1Char(')')));
    m_timer.stop();
    accept();
    emit shutDownApplication();
}

void ShutDownDialog::timerStop()
{
    m_timer.stop();
}

void ShutDownDialog::setPollInterval(int milliseconds)
{
    m_timer.setInterval(milliseconds);
}

bool ShutDownDialog::isPolling() const
{
    return m_timer.isActive();
}

bool ShutDownDialog::isUploadPhase() const
{
    return uploadPhase;
}
