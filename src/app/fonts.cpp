#include "app/fonts.h"

#include <QFontDatabase>
#include <QString>

namespace qvlink {

void registerTahomaFaces() {
    static const char* const kFaces[] = {"/usr/share/wine/fonts/tahoma.ttf",
                                         "/usr/share/wine/fonts/tahomabd.ttf"};
    for (const char* path : kFaces) {
        QFontDatabase::addApplicationFont(QString::fromLatin1(path));
    }
}

}  // namespace qvlink
