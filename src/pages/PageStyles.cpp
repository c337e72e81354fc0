#include "pages/PageStyles.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QVariant>

#include "widgets/FormLayout.h"

namespace PageStyles {

QString filledButton(int fontPx)
{
    return QStringLiteral("QPushButton{background:qlineargradient(x1:0,y1:1,x2:0,y2:0,stop:0 rgba(253,190,56,255),"
                          "stop:1 rgba(253,167,56,255));border:0px;border-radius:4px;font-size:%1px;"
                          "font-family:'Microsoft YaHei';color:white;}"
                          "QPushButton:hover{background:rgba(253,198,86,255);}"
                          "QPushButton:pressed{background:rgba(230,150,40,255);}")
        .arg(fontPx);
}

QString outlinedButton()
{
    return QStringLiteral("QPushButton{border:2px solid rgba(253,174,56,1);border-radius:4px;font-size:14px;"
                          "font-family:'Microsoft YaHei';color:rgba(253,167,56,1);background:transparent;}"
                          "QPushButton:hover{background:rgba(253,174,56,0.12);}"
                          "QPushButton:pressed{background:rgba(253,174,56,0.25);}");
}

QString iconButton()
{
    return QStringLiteral("QPushButton{border:0px;background:transparent;}"
                          "QPushButton:disabled{background:transparent;}");
}

QString listScrollBar()
{
    // The handle is 8 of the bar's 9 free pixels wide (1 px margin on its left) and at least 119 px long; with nothing
    // to scroll there is no handle, only the bar's dark trough.
    return QStringLiteral("QScrollBar:vertical{width:16px;margin:0px 7px 0px 0px;background:rgba(10,13,23,1);"
                          "border:0px;}"
                          "QScrollBar::handle:vertical{margin:0px 0px 0px 1px;min-height:119px;"
                          "border-radius:4px;background:rgba(109,109,109,1);}"
                          "QScrollBar[scrollable=\"false\"]::handle:vertical{background:transparent;}"
                          "QScrollBar::add-line:vertical,QScrollBar::sub-line:vertical{height:0px;border:0px;}"
                          "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical{background:transparent;}");
}

void styleListScrollBar(QScrollBar* bar)
{
    const auto follow = [bar](int minimum, int maximum) {
        const bool scrollable = maximum > minimum;
        if (bar->property("scrollable").isValid() && bar->property("scrollable").toBool() == scrollable)
            return;
        bar->setProperty("scrollable", scrollable);
        // Property selectors are only matched again when the sheet is applied anew.
        bar->setStyleSheet(listScrollBar());
    };
    follow(bar->minimum(), bar->maximum());
    QObject::connect(bar, &QScrollBar::rangeChanged, bar, follow);
}

QHBoxLayout* setUpHeaderBar(QWidget* bar, const QString& className)
{
    bar->setObjectName(className);
    // Fixed in height only: the window can be maximised, and the bar must run the full width.
    bar->resize(860, 45);
    bar->setMinimumWidth(860);
    bar->setFixedHeight(45);
    bar->setStyleSheet(className + QStringLiteral("{background:rgba(25,28,37,1);"
                                                  "border-bottom:1px solid rgba(37,40,49,1);}"));

    auto* layout = new QHBoxLayout(bar);
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

void setTableColumns(QGridLayout* grid)
{
    grid->addItem(FormLayout::horizontalSpacer(20), 0, 0);
    grid->addItem(FormLayout::horizontalSpacer(40, QSizePolicy::Expanding), 0, 5);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setColumnMinimumWidth(0, 20);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(3, 2);
    grid->setColumnMinimumWidth(3, 200);
    grid->setColumnStretch(4, 2);
    grid->setColumnMinimumWidth(5, 40);
}

} // namespace PageStyles
