#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

// The time a task still needs, from when its progress reports arrive: the rate is smoothed over about a minute, so
// a burst or a pause moves the estimate gently, and nothing is claimed until enough progress has been seen.
class TimeLeftEstimator
{
public:
    // Milliseconds on a steady clock; tests give their own.
    using Clock = std::function<qint64()>;

    explicit TimeLeftEstimator(Clock clock = Clock());

    void reset();
    void addProgress(int percent);
    // Seconds left; -1 while the estimate is not yet sound.
    int secondsLeft() const;
    // "About 3 minutes left"; empty for -1.
    static QString text(int seconds);

private:
    Clock m_clock;
    qint64 m_startTime = -1;
    int m_startValue = 0;
    qint64 m_lastTime = -1;
    int m_lastValue = 0;
    // Percent per millisecond.
    double m_rate = 0;
};
