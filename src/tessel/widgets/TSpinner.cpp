#include "TSpinner.h"

#include <QPainter>

#include <cmath>

namespace Tessel::Widgets {

namespace {
constexpr int frameInterval = 16;
constexpr qreal degreesPerMs = 0.36;
} // namespace

TSpinner::TSpinner(QWidget* parent) : QWidget(parent)
{
    m_timer.setInterval(frameInterval);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TSpinner::advance);
    m_clock.start();
}

QSize TSpinner::sizeHint() const
{
    return QSize(32, 32);
}

void TSpinner::start()
{
    m_playing = true;
    updateTimer();
}

void TSpinner::stop()
{
    m_playing = false;
    updateTimer();
}

void TSpinner::updateTimer()
{
    const bool run = m_playing && isVisible();
    if (run && !m_timer.isActive()) {
        m_lastTick = m_clock.elapsed();
        m_timer.start();
    } else if (!run) {
        m_timer.stop();
    }
}

void TSpinner::advance()
{
    // Steps follow the clock, not the tick count, so a busy event loop slows the frame rate, not the turn.
    const qint64 now = m_clock.elapsed();
    m_angle = std::fmod(m_angle + (now - m_lastTick) * degreesPerMs, 360.0);
    m_lastTick = now;
    update();
}

void TSpinner::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateTimer();
}

void TSpinner::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    updateTimer();
}

void TSpinner::paintEvent(QPaintEvent*)
{
    const qreal side = qMin(width(), height());
    if (side < 4) {
        return;
    }
    const qreal pen = qMax<qreal>(2.0, side / 10.0);
    QRectF r(0, 0, side - pen, side - pen);
    r.moveCenter(QRectF(rect()).center());

    QColor accent = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);
    QColor track = accent;
    track.setAlphaF(0.16f);

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(track, pen));
    p.drawEllipse(r);
    p.setPen(QPen(accent, pen, Qt::SolidLine, Qt::RoundCap));
    // Qt angles run counter-clockwise in 1/16 degree; negate to turn clockwise. The arc spans a quarter turn.
    p.drawArc(r, int(-m_angle * 16) + 90 * 16, -100 * 16);
}

} // namespace Tessel::Widgets
