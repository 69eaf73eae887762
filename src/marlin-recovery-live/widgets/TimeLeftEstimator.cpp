#include "TimeLeftEstimator.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>

namespace {

// How long the smoothing looks back, and what must have been seen before an estimate is shown.
const double SmoothingMs = 60000;
const qint64 MinimumElapsedMs = 10000;
const int MinimumProgress = 2;

qint64 steadyNow()
{
    static QElapsedTimer timer;
    if (!timer.isValid()) {
        timer.start();
    }
    return timer.elapsed();
}

} // namespace

TimeLeftEstimator::TimeLeftEstimator(Clock clock) : m_clock(clock ? std::move(clock) : Clock(steadyNow)) {}

void TimeLeftEstimator::reset()
{
    m_startTime = -1;
    m_startValue = 0;
    m_lastTime = -1;
    m_lastValue = 0;
    m_rate = 0;
}

void TimeLeftEstimator::addProgress(int percent)
{
    const qint64 now = m_clock();
    if (m_startTime < 0) {
        m_startTime = m_lastTime = now;
        m_startValue = m_lastValue = percent;
        return;
    }
    if (percent <= m_lastValue || now <= m_lastTime) {
        return;
    }
    const double dt = double(now - m_lastTime);
    const double rate = (percent - m_lastValue) / dt;
    // Weighted by the time the step took: many quick reports count as much as one slow one.
    const double weight = m_rate == 0 ? 1.0 : 1.0 - std::exp(-dt / SmoothingMs);
    m_rate += weight * (rate - m_rate);
    m_lastTime = now;
    m_lastValue = percent;
}

int TimeLeftEstimator::secondsLeft() const
{
    if (m_startTime < 0 || m_rate <= 0 || m_lastValue >= 100 || m_lastValue - m_startValue < MinimumProgress ||
        m_lastTime - m_startTime < MinimumElapsedMs) {
        return -1;
    }
    return int(std::ceil((100 - m_lastValue) / m_rate / 1000));
}

QString TimeLeftEstimator::text(int seconds)
{
    if (seconds < 0) {
        return QString();
    }
    if (seconds < 60) {
        return QCoreApplication::translate("WorkingPage", "Less than a minute left");
    }
    const int minutes = int(std::lround(seconds / 60.0));
    if (minutes == 1) {
        return QCoreApplication::translate("WorkingPage", "About 1 minute left");
    }
    if (minutes < 60) {
        return QCoreApplication::translate("WorkingPage", "About %1 minutes left").arg(minutes);
    }
    return QCoreApplication::translate("WorkingPage", "About %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}
