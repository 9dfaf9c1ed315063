#pragma once

// A group box whose caption has a colour of its own. A colour given to the box's palette would
// reach every control inside it (a grid's scroll-bar arrows, say); this one is only painted.

#include <QColor>
#include <QGroupBox>

namespace qvlink {

class CaptionGroupBox : public QGroupBox {
public:
    CaptionGroupBox(const QString& title, const QColor& captionColor, QWidget* parent = nullptr);

    QColor captionColor() const { return m_captionColor; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_captionColor;
};

}  // namespace qvlink
