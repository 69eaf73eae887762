#pragma once

#include <QStandardItemModel>

// The restore points: one row per backup with its path (column 0), size on disk (column 1), time (column 2) and
// UUID (column 3). Only the first three columns are reported, so the UUID travels with the row without being shown.
class TreeViewModel : public QStandardItemModel
{
    Q_OBJECT

public:
    enum Column
    {
        PathColumn = 0,
        SizeColumn = 1,
        TimeColumn = 2,
        UUIDColumn = 3
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
