#include "ui/caption_group_box.h"

#include <QStyleOptionGroupBox>
#include <QStylePainter>

namespace qvlink {

CaptionGroupBox::CaptionGroupBox(const QString& title, const QColor& captionColor, QWidget* parent)
    : QGroupBox(title, parent), m_captionColor(captionColor) {}

void CaptionGroupBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    option.textColor = m_captionColor;
    option.palette.setColor(QPalette::WindowText, m_captionColor);
    painter.drawComplexControl(QStyle::CC_GroupBox, option);
}

}  // namespace qvlink
