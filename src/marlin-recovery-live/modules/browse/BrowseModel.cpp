#include "BrowseModel.h"

#include <QDateTime>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>

namespace {

enum Listing
{
    NotAsked = 0,
    Asked = 1,
    Filled = 2
};

QString childPath(const QString& parent, const QString& name)
{
    return parent.isEmpty() ? name : parent + "/" + name;
}

} // namespace

BrowseModel::BrowseModel(QObject* parent) : QStandardItemModel(parent)
{
    setHorizontalHeaderLabels({tr("Name"), tr("Size"), tr("Date Modified")});
    connect(this, &QStandardItemModel::itemChanged, this, [this](QStandardItem* item) {
        if (item->column() != NameColumn) {
            return;
        }
        // The listed contents of a folder follow its mark, so what is seen checked is what gets copied.
        for (int row = 0; row < item->rowCount(); ++row) {
            QStandardItem* child = item->child(row, NameColumn);
            if (child->checkState() != item->checkState()) {
                child->setCheckState(item->checkState());
            }
        }
        emit checkedChanged();
    });
}

QList<QStandardItem*> BrowseModel::newRow(const QString& path, const QString& kind, qint64 bytes, qint64 mtime) const
{
    auto* name = new QStandardItem(path.section('/', -1));
    name->setData(path, PathRole);
    name->setData(kind, KindRole);
    name->setData(bytes, BytesRole);
    name->setData(kind == "dir" ? NotAsked : Filled, ListingRole);
    name->setEditable(false);
    name->setCheckable(true);
    name->setCheckState(Qt::Unchecked);
    if (kind == "link") {
        name->setToolTip(tr("Link"));
    }
    // A folder's own size says nothing about what it holds.
    auto* size = new QStandardItem(kind == "dir" ? QString() : QLocale().formattedDataSize(bytes, 1));
    size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* date = new QStandardItem(
        mtime > 0 ? QLocale().toString(QDateTime::fromSecsSinceEpoch(mtime), QLocale::ShortFormat) : QString());
    for (QStandardItem* item : {size, date}) {
        item->setEditable(false);
    }
    return {name, size, date};
}

void BrowseModel::setVolumes(const QJsonArray& volumes)
{
    removeRows(0, rowCount());
    for (const QJsonValue& value : volumes) {
        const QJsonObject volume = value.toObject();
        QList<QStandardItem*> row =
            newRow(volume.value("name").toString(), "dir", qint64(volume.value("size").toDouble()), 0);
        // A volume's size is its file system's, worth showing beside its label.
        row.at(SizeColumn)->setText(QLocale().formattedDataSize(qint64(volume.value("size").toDouble()), 1));
        const QString label = volume.value("label").toString();
        if (!label.isEmpty()) {
            row.at(NameColumn)->setToolTip(label);
        }
        appendRow(row);
    }
}

QModelIndex BrowseModel::indexOfPath(const QString& path) const
{
    QModelIndex parent;
    QString walked;
    for (const QString& name : path.split('/', Qt::SkipEmptyParts)) {
        walked = childPath(walked, name);
        QModelIndex found;
        for (int row = 0; row < rowCount(parent); ++row) {
            const QModelIndex child = index(row, NameColumn, parent);
            if (child.data(PathRole).toString() == walked) {
                found = child;
                break;
            }
        }
        if (!found.isValid()) {
            return {};
        }
        parent = found;
    }
    return parent;
}

bool BrowseModel::setEntries(const QString& path, const QJsonArray& entries)
{
    const QModelIndex index = indexOfPath(path);
    QStandardItem* folder = index.isValid() ? itemFromIndex(index) : nullptr;
    if (folder == nullptr) {
        return false;
    }
    folder->removeRows(0, folder->rowCount());
    const bool checked = folder->checkState() == Qt::Checked;
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        QList<QStandardItem*> row =
            newRow(childPath(path, entry.value("name").toString()), entry.value("kind").toString(),
                   qint64(entry.value("size").toDouble()), qint64(entry.value("mtime").toDouble()));
        // What lies in a checked folder is copied with it.
        row.at(NameColumn)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
        folder->appendRow(row);
    }
    folder->setData(Filled, ListingRole);
    return true;
}

void BrowseModel::forgetRequest(const QString& path)
{
    const QModelIndex index = indexOfPath(path);
    if (index.isValid() && index.data(ListingRole).toInt() == Asked) {
        setData(index, NotAsked, ListingRole);
    }
}

bool BrowseModel::isUnlistedFolder(const QModelIndex& index) const
{
    const QModelIndex name = index.siblingAtColumn(NameColumn);
    return name.data(KindRole).toString() == "dir" && name.data(ListingRole).toInt() != Filled;
}

bool BrowseModel::hasChildren(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() == NameColumn && isUnlistedFolder(parent)) {
        return true;
    }
    return QStandardItemModel::hasChildren(parent);
}

bool BrowseModel::canFetchMore(const QModelIndex& parent) const
{
    return parent.isValid() && isUnlistedFolder(parent) &&
           parent.siblingAtColumn(NameColumn).data(ListingRole).toInt() == NotAsked;
}

void BrowseModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent)) {
        return;
    }
    const QModelIndex name = parent.siblingAtColumn(NameColumn);
    setData(name, Asked, ListingRole);
    emit folderWanted(name.data(PathRole).toString());
}

void BrowseModel::collectChecked(const QStandardItem* parent, QList<const QStandardItem*>* out) const
{
    for (int row = 0; row < parent->rowCount(); ++row) {
        const QStandardItem* item = parent->child(row, NameColumn);
        if (item->checkState() == Qt::Checked) {
            out->append(item);
        } else {
            collectChecked(item, out);
        }
    }
}

QStringList BrowseModel::checkedPaths() const
{
    QList<const QStandardItem*> items;
    collectChecked(invisibleRootItem(), &items);
    QStringList paths;
    for (const QStandardItem* item : items) {
        paths.append(item->data(PathRole).toString());
    }
    return paths;
}

qint64 BrowseModel::checkedBytes() const
{
    QList<const QStandardItem*> items;
    collectChecked(invisibleRootItem(), &items);
    qint64 bytes = 0;
    for (const QStandardItem* item : items) {
        if (item->data(KindRole).toString() != "dir") {
            bytes += item->data(BytesRole).toLongLong();
        }
    }
    return bytes;
}

int BrowseModel::checkedFolders() const
{
    QList<const QStandardItem*> items;
    collectChecked(invisibleRootItem(), &items);
    return int(std::count_if(items.begin(), items.end(),
                             [](const QStandardItem* item) { return item->data(KindRole).toString() == "dir"; }));
}
