// The busy indicator: an accent arc turning on a faint track.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace Tessel::Widgets {

// Turns once a second while playing. It only spends timer ticks while it is both playing and visible: a spinner
// started while hidden begins to turn when shown. Its size is whatever the layout gives it (sizeHint 32 x 32);
// the arc scales with the smaller side.
class TSpinner : public QWidget
{
    Q_OBJECT

public:
    explicit TSpinner(QWidget* parent = nullptr);

    bool isPlaying() const { return m_playing; }

    QSize sizeHint() const override;

public slots:
    void start();
    void stop();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateTimer();
    void advance();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qreal m_angle = 0;
    qint64 m_lastTick = 0;
    bool m_playing = false;
};

} // namespace Tessel::Widgets
