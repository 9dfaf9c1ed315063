#include "app/fonts.h"

#include <QFontDatabase>
#include <QString>

namespace qvlink {

void registerTahomaFace() {
    // Only the regular face: the package's bold face draws no heavier than the regular one
    // at the grids' 9 and 11 px, while a bold synthesised from the regular face does.
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
}

}  // namespace qvlink
