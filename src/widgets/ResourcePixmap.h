#pragma once

#include <QPixmap>
#include <QString>

// Images of the resource bundle as pixmaps for labels and hand-made icons. On a scaled screen (device pixel ratio
// above 1) the bundle's "name@2x.ext" drawing is taken when there is one, marked with ratio 2 so that it keeps its
// logical size and stays sharp. QIcon(path) finds these variants itself; QPixmap(path) does not.
namespace ResourcePixmap {

QPixmap load(const QString& path);

} // namespace ResourcePixmap
