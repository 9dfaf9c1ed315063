#include "ui/color.h"

#include <QGuiApplication>
#include <QPalette>

namespace qvlink {
namespace {

struct SystemColorRole {
    std::uint8_t index;  ///< low byte of the system colour value
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

/// System colour indexes of the colour values and the palette entries that play their part.
constexpr SystemColorRole kSystemColors[] = {
    {0x05, QPalette::Active, QPalette::Base},         // window background
    {0x08, QPalette::Active, QPalette::WindowText},   // window text
    {0x0F, QPalette::Active, QPalette::Button},       // button face
    {0x18, QPalette::Active, QPalette::ToolTipBase},  // tooltip background
};

}  // namespace

QColor toQColor(TColor color) {
    if (color == clNone) {
        return {};
    }
    if ((color & 0xFF000000) == clSystemFlag) {
        const auto index = static_cast<std::uint8_t>(color & 0xFF);
        for (const SystemColorRole& entry : kSystemColors) {
            if (entry.index == index) {
                return QGuiApplication::palette().color(entry.group, entry.role);
            }
        }
        return {};
    }
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

}  // namespace qvlink
