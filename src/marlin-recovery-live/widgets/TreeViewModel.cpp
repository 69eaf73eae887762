#include "TreeViewModel.h"

#include <QCoreApplication>

TreeViewModel::TreeViewModel(QObject* parent) : QStandardItemModel(parent) {}

void TreeViewModel::appendRow(const QList<QStandardItem*>& items)
{
    // The count rises before the rows arrive, so the views asking during the insertion see them.
    ++m_rowCount;
    QStandardItemModel::appendRow(items);
}

void TreeViewModel::clear()
{
    // The base class resets the model; the views ask for the count only after that.
    m_rowCount = 0;
    QStandardItemModel::clear();
}

int TreeViewModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int TreeViewModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant TreeViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole && section == PathColumn) {
            return QCoreApplication::translate("Recovery.Table.Header", "Backup File");
        }
        if (role == Qt::DisplayRole && section == TimeColumn) {
            return QCoreApplication::translate("Recovery.Table.Header", "Time");
        }
        if (role == Qt::DisplayRole && section == SizeColumn) {
            return QCoreApplication::translate("Recovery.Table.Header", "Size");
        }
        if (role == Qt::TextAlignmentRole) {
            return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        }
        if (role == Qt::InitialSortOrderRole) {
            return QVariant::fromValue(Qt::DescendingOrder);
        }
    }
    // The base model knows only the columns its rows brought, and none while it is empty.
    const int count =
        orientation == Qt::Horizontal ? QStandardItemModel::columnCount() : QStandardItemModel::rowCount();
    if (section < 0 || section >= count) {
        return QVariant();
    }
    return QStandardItemModel::headerData(section, orientation, role);
}
