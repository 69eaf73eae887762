#pragma once

#include <QJsonObject>
#include <QWidget>

class QLabel;
class QPushButton;

// The last word before a whole-disk backup is written over another disk: which disk, and that everything on it goes.
class RestoreDiskConfirmPage : public QWidget
{
    Q_OBJECT

public:
    explicit RestoreDiskConfirmPage(QWidget* parent = nullptr);

    void setDisk(const QJsonObject& disk, bool keepSize);
    QJsonObject disk() const { return m_disk; }
    bool keepSize() const { return m_keepSize; }

    QLabel* messageLabel() const { return m_message; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* cancelButton() const { return m_cancel; }

signals:
    void confirmed();
    void cancelled();

private:
    QLabel* m_title;
    QLabel* m_message;
    QPushButton* m_cancel;
    QPushButton* m_restore;
    QJsonObject m_disk;
    bool m_keepSize = false;
};
