#include "widgets/ResourcePixmap.h"

#include <QGuiApplication>

namespace ResourcePixmap {

QPixmap load(const QString& path)
{
    if (qApp && qApp->devicePixelRatio() > 1.0) {
        const int dot = path.lastIndexOf(QLatin1Char('.'));
        if (dot > path.lastIndexOf(QLatin1Char('/'))) {
            QPixmap doubled(path.left(dot) + QStringLiteral("@2x") + path.mid(dot));
            if (!doubled.isNull()) {
                doubled.setDevicePixelRatio(2.0);
                return doubled;
            }
        }
    }
    return QPixmap(path);
}

} // namespace ResourcePixmap
