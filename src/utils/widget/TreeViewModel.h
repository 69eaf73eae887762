#pragma once

#include <QStandardItemModel>

// The restore points: one row per backup with its path (column 0), time (column 1) and UUID (column 2). Only the
// first two columns are reported, so the UUID travels with the row without being shown.
class TreeViewModel : public QStandardItemModel
{
    Q_OBJECT

public:
    enum Column
    {
        PathColumn = 0,
        TimeColumn = 1,
        UUIDColumn = 2
    };

    explicit TreeViewModel(QObject* parent = nullptr);

    void appendRow(const QList<QStandardItem*>& items);
    void clear();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    void itemsIsReady();

private:
    int m_rowCount = 0;
};
