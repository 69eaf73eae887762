#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// How a copy ended: what was copied and where, or why it stopped. Leads back to the files or home, never reboots.
class CopyResultPage : public QWidget
{
    Q_OBJECT
public:
    explicit CopyResultPage(QWidget* parent = nullptr);

    void showOutcome(bool success, const QString& title, const QString& message);
    bool isSuccess() const { return m_success; }
    QString title() const;
    QString message() const;
    QPushButton* filesButton() const { return m_filesButton; }
    QPushButton* homeButton() const { return m_homeButton; }

signals:
    void backToFiles();
    void home();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_success = false;
    QLabel* m_iconLabel;
    QLabel* m_titleLabel;
    QLabel* m_messageLabel;
    QPushButton* m_filesButton;
    QPushButton* m_homeButton;
};
