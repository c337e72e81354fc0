#include "pages/DisplayPhotoFooterReTake.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "pages/ImageImport.h"
#include "pages/PageStyles.h"
#include "widgets/FormLayout.h"

DisplayPhotoFooterReTake::DisplayPhotoFooterReTake(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("DisplayPhotoFooterReTake"));
    resize(860, 66);
    setMinimumWidth(860);
    setFixedHeight(66);
    setStyleSheet(QStringLiteral("DisplayPhotoFooterReTake{background:rgba(10,13,23,1);}"));

    auto* layout = new QHBoxLayout(this);
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    FormLayout::addExpandingSpacer(layout, 29);
    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("label_4"));
    m_hint->setStyleSheet(QStringLiteral("font-size:14px;font-family:'Microsoft YaHei';color:rgba(255,82,82,1);"
                                         "background:transparent;"));
    layout->addWidget(m_hint);
    FormLayout::addFixedSpacer(layout, 10);
    m_takePhoto = FormLayout::makeButton(this, QStringLiteral("takePhoto"), QSize(100, 36), PageStyles::filledButton());
    m_takePhoto->setText(QStringLiteral("拍照"));
    layout->addWidget(m_takePhoto);
    FormLayout::addFixedSpacer(layout, 15);
    auto* upload =
        FormLayout::makeButton(this, QStringLiteral("pushButton_2"), QSize(100, 36), PageStyles::outlinedButton());
    upload->setText(QStringLiteral("上传"));
    layout->addWidget(upload);
    FormLayout::addFixedSpacer(layout, 24);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);

    connect(m_takePhoto, SIGNAL(clicked()), this, SLOT(slotTakePhoto()));
    connect(upload, SIGNAL(clicked()), this, SLOT(uploadPng()));
}

void DisplayPhotoFooterReTake::setReTakeMode()
{
    m_hint->setText(QStringLiteral("补拍前请确认已参照处理建议处理完所有问题"));
    m_takePhoto->setText(QStringLiteral("补拍"));
}

void DisplayPhotoFooterReTake::slotTakePhoto()
{
    emit toTakePhoto();
}

void DisplayPhotoFooterReTake::setTaskFolders(const TaskFolders& folders)
{
    m_folders = folders;
}

void DisplayPhotoFooterReTake::uploadPng()
{
    ImageImport::importImages(this, m_folders);
    emit uploadPicStarted();
}
