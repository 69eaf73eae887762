#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidget;

// Where the checked files go: the machine's other writable partitions with their free space. One too small for the
// selection is listed but cannot be chosen.
class CopyDestinationPage : public QWidget
{
    Q_OBJECT
public:
    explicit CopyDestinationPage(QWidget* parent = nullptr);

    // The service's data text; bytes: the selection's known size, described by selection.
    void setDestinations(const QString& data, qint64 bytes, const QString& selection);
    void startLoading(const QString& selection);
    void showError(const QString& error);
    // The chosen destination's uuid; empty when none is.
    QString chosenUUID() const;
    QString chosenName() const;

    QTreeWidget* list() const { return m_list; }
    QPushButton* backButton() const { return m_backButton; }
    QPushButton* copyButton() const { return m_copyButton; }
    QLabel* statusLabel() const { return m_statusLabel; }

signals:
    void back();
    void copyTo(const QString& uuid);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void updateCopyButton();
    void onCopy();

    QLabel* m_selectionLabel;
    QTreeWidget* m_list;
    QLabel* m_statusLabel;
    QPushButton* m_backButton;
    QPushButton* m_copyButton;
};
