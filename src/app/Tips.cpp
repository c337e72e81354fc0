#include "app/Tips.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMovie>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "widgets/FormLayout.h"

Tips::Tips(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Tips"));
    resize(860, 543);
    setMinimumSize(860, 543);
    setStyleSheet(QStringLiteral("background-color:rgba(255,255,255,100);border:0px"));
    setWindowTitle(QStringLiteral("Form"));

    auto* outer = new QHBoxLayout(this);
    outer->setSpacing(0);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addItem(FormLayout::horizontalSpacer(40, QSizePolicy::Expanding));
    auto* inner = new QVBoxLayout();
    inner->setSpacing(0);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setScaledContents(false);
    m_label->setAttribute(Qt::WA_TranslucentBackground);
    m_label->setAutoFillBackground(false);
    inner->addWidget(m_label);
    outer->addLayout(inner);
    outer->addItem(FormLayout::horizontalSpacer(40, QSizePolicy::Expanding));

    // Exactly frameless: with the main window as parent this makes the dialog a child laid over it.
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);

    // No Qt parent: the destructor owns it, so it stops before the label it draws into goes away.
    m_movie = new QMovie(QStringLiteral(":/AmbrelClient/Resources/tips.gif"), QByteArray());
    m_label->setMovie(m_movie);
    m_movie->start();
    // Started, but nobody sees it before the window shows the overlay: each frame would wake the program for
    // nothing, about sixteen times a second.
    if (!isVisible())
        m_movie->setPaused(true);
}

void Tips::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_movie->setPaused(false);
}

void Tips::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    m_movie->setPaused(true);
}

Tips::~Tips()
{
    m_label->setMovie(nullptr);
    delete m_movie;
}
