#pragma once

#include <QFrame>

// One row of the repair page's partition list: a rounded item background; the page lays the row's content on it.
class PartitionItem : public QFrame
{
    Q_OBJECT
public:
    explicit PartitionItem(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};
