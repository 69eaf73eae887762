#pragma once

#include <QJsonObject>
#include <QWidget>

class QLabel;
class QPushButton;

// Shown at start-up instead of the home page when the last restore was cut off after it had begun writing: the
// system may not start until that restore is run again. It says what the restore was and when it began.
class InterruptedRestorePage : public QWidget
{
    Q_OBJECT
public:
    explicit InterruptedRestorePage(QWidget* parent = nullptr);

    // The record the cut-off restore left on the recovery partition.
    void setMark(const QJsonObject& mark);
    QJsonObject mark() const { return m_mark; }

    QString title() const;
    QString message() const;
    QString detail() const;
    QPushButton* restoreAgainButton() const { return m_restoreAgainButton; }
    QPushButton* otherOptionsButton() const { return m_otherOptionsButton; }

    // What the restore of a record was, in the person's words ("Reset to factory settings, keeping personal
    // files", "Restore from the backup of <date>").
    static QString describe(const QJsonObject& mark);
    // What running the restore of a record again writes, for its confirmation: the backup and the partitions.
    static QString whatWillBeWritten(const QJsonObject& mark);

signals:
    void restoreAgain();
    void otherOptions();

private:
    QJsonObject m_mark;
    QLabel* m_iconLabel;
    QLabel* m_titleLabel;
    QLabel* m_messageLabel;
    QLabel* m_detailLabel;
    QPushButton* m_restoreAgainButton;
    QPushButton* m_otherOptionsButton;
};
