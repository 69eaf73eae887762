#pragma once

#include <QJsonObject>
#include <QWidget>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

// The disks a whole-disk backup can be written onto when the disk it was made of is gone, as the service lists them:
// each with its model, serial, size and what it holds now; those that cannot take the backup are shown, but cannot
// be chosen. Arrow keys choose a disk, Enter goes on.
class RestoreDiskChooser : public QWidget
{
    Q_OBJECT

public:
    explicit RestoreDiskChooser(QWidget* parent = nullptr);

    // The service's answer: "needBytes", "recordedDrive", "disks".
    void setDisks(const QJsonObject& data);
    // The disk chosen now; empty when none is.
    QJsonObject chosenDisk() const;
    // Whether the partitions keep the sizes they had at the backup.
    bool keepSize() const;

    QListWidget* diskList() const { return m_list; }
    QCheckBox* wholeDiskBox() const { return m_wholeDisk; }
    QPushButton* nextButton() const { return m_next; }
    QPushButton* backButton() const { return m_back; }
    QLabel* messageLabel() const { return m_message; }

    // One disk as a line of the list.
    static QString describe(const QJsonObject& disk);

signals:
    void chosen(QJsonObject disk, bool keepSize);
    void back();

private:
    void goOn();

    QLabel* m_title;
    QLabel* m_message;
    QListWidget* m_list;
    QCheckBox* m_wholeDisk;
    QPushButton* m_back;
    QPushButton* m_next;
};
