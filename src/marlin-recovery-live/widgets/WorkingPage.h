#pragma once

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

public slots:
    void setProgressValue(int value);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Tessel::Widgets::TWaterProgress* m_progress;
    QLabel* m_titleLabel;
    QLabel* m_tipLabel;
};
