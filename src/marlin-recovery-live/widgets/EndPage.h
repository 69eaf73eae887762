#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The outcome of a restore or backup and the one way out: reboot after success, power off after failure.
class EndPage : public QWidget
{
    Q_OBJECT
public:
    enum State
    {
        Success = 0,
        Warning = 1,
        Failure = 2
    };

    explicit EndPage(int state, QWidget* parent = nullptr);

    // The icon and the button's action follow the latest outcome, so a page reused for a later failure powers
    // off instead of rebooting into a system that did not come back.
    void setState(int state);
    int state() const { return m_state; }
    void setTitle(const QString& text);
    void setMessage(const QString& text);
    void setButtonText(const QString& text);
    QString title() const;
    QString message() const;
    QPushButton* actionButton() const { return m_actionButton; }
    // Path of the icon shown for the current state.
    QString iconPath() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void onActionClicked();

    int m_state;
    QLabel* m_iconLabel;
    QLabel* m_titleLabel;
    QLabel* m_messageLabel;
    QPushButton* m_actionButton;
};
