#pragma once

#include "TimeLeftEstimator.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace Tessel::Widgets {
class TWaterProgress;
}

// Shown alone while the service restores, backs up or copies; nothing leads away from it but the outcome, or the
// Cancel of a task that can be cancelled.
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
    // A line under the title, e.g. how much is copied; empty hides it.
    void setDetail(const QString& text);
    QString detail() const;
    // Offers Cancel (hidden unless asked for); it sends cancelRequested once and then waits for the outcome.
    void setCancellable(bool cancellable);
    QPushButton* cancelButton() const { return m_cancelButton; }

signals:
    void cancelRequested();

public slots:
    void setProgressValue(int value);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Tessel::Widgets::TWaterProgress* m_progress;
    QLabel* m_titleLabel;
    QLabel* m_tipLabel;
    QLabel* m_timeLeftLabel;
    QLabel* m_detailLabel;
    QPushButton* m_cancelButton;
    TimeLeftEstimator m_estimator;
};
