#pragma once

#include "TimeLeftEstimator.h"

#include <QWidget>

class QLabel;

namespace Tessel::Widgets {
class TWaterProgress;
}

// Shown alone while the service restores or backs up; nothing leads away from it but the outcome.
class WorkingPage : public QWidget
{
    Q_OBJECT
public:
    explicit WorkingPage(QWidget* parent = nullptr);

    // Empty texts are ignored, so a caller can leave the default in place.
    void setTitle(const QString& text);
    void setTip(const QString& text);
    QString title() const;
    QString tip() const;
    int progressValue() const;
    // Empty while there is no sound estimate.
    QString timeLeftText() const;
    // A new task starts: the estimate starts over.
    void restart();
    void setClock(TimeLeftEstimator::Clock clock) { m_estimator = TimeLeftEstimator(std::move(clock)); }

public slots:
    void setProgressValue(int value);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Tessel::Widgets::TWaterProgress* m_progress;
    QLabel* m_titleLabel;
    QLabel* m_tipLabel;
    QLabel* m_timeLeftLabel;
    TimeLeftEstimator m_estimator;
};
