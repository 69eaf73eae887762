#include "TWaterProgress.h"

#include "TFontSizeManager.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace Tessel::Widgets {

namespace {

constexpr int frameInterval = 33;
constexpr qreal radiansPerMs = 0.0045;

// The water surface across the vessel: a sine of the given amplitude around level y, closed along the bottom.
QPainterPath wave(const QRectF& r, qreal level, qreal amplitude, qreal phase, qreal waves)
{
    QPainterPath path;
    const int steps = qMax(24, int(r.width() / 2));
    path.moveTo(r.left(), r.bottom() + 1);
    for (int i = 0; i <= steps; ++i) {
        const qreal x = r.left() + r.width() * i / steps;
        const qreal y = level + amplitude * std::sin(phase + 2 * M_PI * waves * i / steps);
        path.lineTo(x, y);
    }
    path.lineTo(r.right(), r.bottom() + 1);
    path.closeSubpath();
    return path;
}

} // namespace

TWaterProgress::TWaterProgress(QWidget* parent) : QWidget(parent)
{
    m_timer.setInterval(frameInterval);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        const qint64 now = m_clock.elapsed();
        m_phase = std::fmod(m_phase + (now - m_lastTick) * radiansPerMs, 2 * M_PI);
        m_lastTick = now;
        update();
    });
    m_clock.start();
}

QSize TWaterProgress::sizeHint() const
{
    return QSize(128, 128);
}

QSize TWaterProgress::minimumSizeHint() const
{
    return QSize(24, 24);
}

void TWaterProgress::setValue(int value)
{
    value = qBound(0, value, 100);
    if (value == m_value) {
        return;
    }
    m_value = value;
    update();
    emit valueChanged(value);
}

void TWaterProgress::setTextVisible(bool visible)
{
    if (visible != m_textVisible) {
        m_textVisible = visible;
        update();
    }
}

void TWaterProgress::start()
{
    m_running = true;
    updateTimer();
}

void TWaterProgress::stop()
{
    m_running = false;
    updateTimer();
}

void TWaterProgress::updateTimer()
{
    const bool run = m_running && isVisible();
    if (run && !m_timer.isActive()) {
        m_lastTick = m_clock.elapsed();
        m_timer.start();
    } else if (!run) {
        m_timer.stop();
    }
}

void TWaterProgress::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateTimer();
}

void TWaterProgress::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    updateTimer();
}

QRectF TWaterProgress::vesselRect() const
{
    const qreal side = qMin(width(), height());
    QRectF outer(0, 0, side, side);
    outer.moveCenter(QRectF(rect()).center());
    const qreal ring = qMax<qreal>(1.5, side / 40.0);
    const qreal gap = qMax<qreal>(2.0, side / 28.0);
    return outer.adjusted(ring + gap, ring + gap, -(ring + gap), -(ring + gap));
}

QFont TWaterProgress::textFont() const
{
    QFont font = TFontSizeManager::instance()->get(TFontSizeManager::T1, this->font());
    font.setPixelSize(qMax(8, int(qMin(width(), height()) * 0.2)));
    return font;
}

QRectF TWaterProgress::badgeRect() const
{
    // Wide enough for "100%", so the badge keeps its size as the value grows.
    const QFontMetricsF metrics(textFont());
    const QSizeF text(metrics.horizontalAdvance(QStringLiteral("100%")), metrics.height());
    QRectF badge(QPointF(0, 0), text + QSizeF(metrics.height() * 0.6, metrics.height() * 0.2));
    badge.moveCenter(vesselRect().center());
    return badge;
}

void TWaterProgress::paintEvent(QPaintEvent*)
{
    const qreal side = qMin(width(), height());
    if (side < 8) {
        return;
    }
    const QColor accent = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);
    const QColor base = palette().color(QPalette::Base);

    QRectF outer(0, 0, side, side);
    outer.moveCenter(QRectF(rect()).center());
    const qreal ring = qMax<qreal>(1.5, side / 40.0);
    const QRectF vessel = vesselRect();

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    QColor ringColor = accent;
    ringColor.setAlphaF(0.35f);
    p.setPen(QPen(ringColor, ring));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(outer.adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2));

    QPainterPath circle;
    circle.addEllipse(vessel);
    QColor empty = accent;
    empty.setAlphaF(0.08f);
    p.setPen(Qt::NoPen);
    p.fillPath(circle, base);
    p.fillPath(circle, empty);

    // The waves flatten towards empty and full, so 0 % shows no water and 100 % a full, calm vessel.
    const qreal fraction = m_value / 100.0;
    const qreal level = vessel.bottom() - vessel.height() * fraction;
    const qreal amplitude = vessel.height() * 0.035 * std::min(1.0, 8 * std::min(fraction, 1 - fraction));
    const QPainterPath back = wave(vessel, level, amplitude, m_phase + 1.8, 1.2).intersected(circle);
    const QPainterPath front = wave(vessel, level, amplitude, -m_phase, 1.0).intersected(circle);
    QColor backColor = accent;
    backColor.setAlphaF(0.38f);
    p.fillPath(back, backColor);
    p.fillPath(front, accent);

    if (m_textVisible) {
        paintText(p);
    }
}

void TWaterProgress::paintText(QPainter& painter)
{
    // Text straddling the water line is hard to read in either colour: it sits on a badge of the base colour.
    const QRectF badge = badgeRect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(badge, badge.height() / 2, badge.height() / 2);
    painter.setFont(textFont());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(badge, Qt::AlignCenter, QString::number(m_value) + QLatin1Char('%'));
}

} // namespace Tessel::Widgets
