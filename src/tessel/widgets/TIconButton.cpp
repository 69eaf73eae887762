#include "TIconButton.h"

#include "TPalette.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace Tessel::Widgets {

TIconButton::TIconButton(QWidget* parent) : TIconButton(QIcon(), parent) {}

TIconButton::TIconButton(const QIcon& icon, QWidget* parent) : QAbstractButton(parent)
{
    setIcon(icon);
    setIconSize(QSize(24, 24));
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TIconButton::setFlat(bool flat)
{
    if (flat != m_flat) {
        m_flat = flat;
        update();
    }
}

QSize TIconButton::sizeHint() const
{
    return iconSize() + QSize(16, 16);
}

QSize TIconButton::minimumSizeHint() const
{
    return iconSize();
}

void TIconButton::paintEvent(QPaintEvent*)
{
    QStyleOption option;
    option.initFrom(this);
    const QPalette& pal = palette();
    const QColor accent = pal.color(QPalette::Active, QPalette::Highlight);
    const bool enabled = isEnabled();
    const bool hover = enabled && underMouse();
    const bool down = enabled && (isDown() || isChecked());

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    const qreal side = qMin(width(), height());
    QRectF circle(0, 0, side, side);
    circle.moveCenter(QRectF(rect()).center());

    QColor fill = Qt::transparent;
    if (m_flat) {
        if (down) {
            fill = accent;
            fill.setAlphaF(0.18f);
        } else if (hover) {
            fill = accent;
            fill.setAlphaF(0.09f);
        }
    } else {
        const QColor button = pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Button);
        fill = down ? button.darker(108) : hover ? button.darker(104) : button;
        p.setPen(QPen(pal.color(QPalette::Mid), 1));
    }
    if (!m_flat || fill.alpha() > 0) {
        if (m_flat) {
            p.setPen(Qt::NoPen);
        }
        p.setBrush(fill);
        p.drawEllipse(m_flat ? circle : circle.adjusted(0.5, 0.5, -0.5, -0.5));
    }
    if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange)) {
        p.setPen(QPen(accent, 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(circle.adjusted(1, 1, -1, -1));
    }

    QSize size = iconSize().boundedTo(rect().size());
    QRect target(QPoint(0, 0), size);
    target.moveCenter(rect().center());
    const QIcon::Mode mode = !enabled ? QIcon::Disabled : hover ? QIcon::Active : QIcon::Normal;
    icon().paint(&p, target, Qt::AlignCenter, mode, isChecked() ? QIcon::On : QIcon::Off);
}

} // namespace Tessel::Widgets
