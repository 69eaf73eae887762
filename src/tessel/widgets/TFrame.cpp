#include "TFrame.h"

#include "GlazeStyle.h"

#include <QPainter>

namespace Tessel::Widgets {

TFrame::TFrame(QWidget* parent) : QFrame(parent), m_radius(GlazeStyle::PanelRadius)
{
    // A plain box makes frameWidth() follow lineWidth(), so contents never overlap the border.
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(0);
}

void TFrame::setBackgroundColorType(TPalette::ColorType type)
{
    if (type != m_backgroundType) {
        m_backgroundType = type;
        update();
    }
}

void TFrame::setRadius(int radius)
{
    radius = qMax(0, radius);
    if (radius != m_radius) {
        m_radius = radius;
        update();
    }
}

void TFrame::paintEvent(QPaintEvent*)
{
    const TPalette tp = TPalette::of(this);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QColor background =
        m_backgroundType == TPalette::NoType ? palette().color(QPalette::Window) : tp.color(group, m_backgroundType);

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int line = lineWidth();
    const qreal half = line / 2.0;
    const QRectF r = QRectF(rect()).adjusted(half, half, -half, -half);
    p.setPen(line > 0 ? QPen(tp.color(TPalette::FrameBorder), line, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin)
                      : QPen(Qt::NoPen));
    p.setBrush(background);
    p.drawRoundedRect(r, qMax<qreal>(0, m_radius - half), qMax<qreal>(0, m_radius - half));
}

} // namespace Tessel::Widgets
