#pragma once

// Fonts of the windows are given as character heights in pixels at 96 pixels per inch.

#include <QFont>
#include <QStringList>

namespace qvlink {

/// `family` at `pixelSize`, falling back to a font of the same metrics family when the
/// machine lacks it (Tahoma and Arial are rarely installed outside Windows).
inline QFont pixelFont(const QString& family, int pixelSize, bool bold = false) {
    QFont font(family);
    font.setFamilies({family, QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

}  // namespace qvlink
