#include "pages/DisplayPhotoHead.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "pages/ElidedLabel.h"
#include "pages/ImageImport.h"
#include "pages/PageStyles.h"
#include "widgets/FormLayout.h"

DisplayPhotoHead::DisplayPhotoHead(QWidget* parent) : QWidget(parent)
{
    QHBoxLayout* layout = PageStyles::setUpHeaderBar(this, QStringLiteral("DisplayPhotoHead"));

    FormLayout::addFixedSpacer(layout, 24);
    m_title = new ElidedLabel(QStringLiteral("TextLabel"), this);
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setStyleSheet(QStringLiteral("font-size:24px;font-family:'Microsoft YaHei';color:white;"
                                          "background:transparent;border:0px;"));
    layout->addWidget(m_title);
    FormLayout::addExpandingSpacer(layout);
    auto* upload =
        FormLayout::makeButton(this, QStringLiteral("pushButton_2"), QSize(64, 28), PageStyles::outlinedButton());
    upload->setText(QStringLiteral("上传"));
    layout->addWidget(upload);
    FormLayout::addFixedSpacer(layout, 15);
    auto* takePhoto =
        FormLayout::makeButton(this, QStringLiteral("takePhoto"), QSize(64, 28), PageStyles::filledButton());
    takePhoto->setText(QStringLiteral("拍照"));
    layout->addWidget(takePhoto);
    FormLayout::addFixedSpacer(layout, 23);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);

    connect(takePhoto, SIGNAL(clicked()), this, SLOT(slotTakePhoto()));
    connect(upload, SIGNAL(clicked()), this, SLOT(uploadPng()));
}

void DisplayPhotoHead::setTitle(const QString& title)
{
    m_title->setFullText(title);
}

void DisplayPhotoHead::slotTakePhoto()
{
    emit toTakePhoto();
}

void DisplayPhotoHead::setTaskFolders(const TaskFolders& folders)
{
    m_folders = folders;
}

void DisplayPhotoHead::uploadPng()
{
    ImageImport::importImages(this, m_folders);
    emit uploadPicStarted();
}
