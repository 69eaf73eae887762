// The circular percentage indicator: a round vessel filling with water up to the value.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace Tessel::Widgets {

// value() is a percentage, 0 to 100; setValue() clamps into that range. While running, the water surface moves
// in two waves; stopped, it stands still at the same level. The percentage ("42%") is drawn in the middle on a
// badge of its own, so it reads the same wherever the water stands, unless the text is hidden. sizeHint() is
// 128 x 128; the vessel is a circle on the smaller side.
class TWaterProgress : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(bool textVisible READ isTextVisible WRITE setTextVisible)

public:
    explicit TWaterProgress(QWidget* parent = nullptr);

    int value() const { return m_value; }
    bool isRunning() const { return m_running; }

    void setTextVisible(bool visible);
    bool isTextVisible() const { return m_textVisible; }

    // Where the percentage's badge is drawn.
    QRectF badgeRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void setValue(int value);
    void start();
    void stop();

signals:
    void valueChanged(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateTimer();
    QFont textFont() const;
    QRectF vesselRect() const;
    void paintText(QPainter& painter);

    QTimer m_timer;
    QElapsedTimer m_clock;
    qreal m_phase = 0;
    qint64 m_lastTick = 0;
    int m_value = 0;
    bool m_running = false;
    bool m_textVisible = true;
};

} // namespace Tessel::Widgets
