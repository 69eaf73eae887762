#pragma once

#include <QJsonArray>
#include <QStandardItemModel>
#include <QStringList>

// The browse tree: one folder per volume at the top, each folder's entries fetched from the service when it is first
// expanded. The name column carries the browse path and a check box; checked entries are what gets copied.
class BrowseModel : public QStandardItemModel
{
    Q_OBJECT
public:
    enum Column
    {
        NameColumn = 0,
        SizeColumn = 1,
        DateColumn = 2
    };
    enum Role
    {
        PathRole = Qt::UserRole + 1,
        KindRole,
        BytesRole,
        // 0 not asked for, 1 asked for, 2 filled.
        ListingRole
    };

    explicit BrowseModel(QObject* parent = nullptr);

    void setVolumes(const QJsonArray& volumes);
    // A folder's entries as the service lists them; false when no folder of the tree has that path.
    bool setEntries(const QString& path, const QJsonArray& entries);
    // The folder's listing failed: it is asked for again when next expanded.
    void forgetRequest(const QString& path);
    QModelIndex indexOfPath(const QString& path) const;

    // Checked entries without a checked folder above them: what a copy takes.
    QStringList checkedPaths() const;
    // The sizes of the checked files; folders count only with what is known of them.
    qint64 checkedBytes() const;
    int checkedFolders() const;

    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    void folderWanted(const QString& path);
    void checkedChanged();

private:
    QList<QStandardItem*> newRow(const QString& path, const QString& kind, qint64 bytes, qint64 mtime) const;
    void collectChecked(const QStandardItem* parent, QList<const QStandardItem*>* out) const;
    bool isUnlistedFolder(const QModelIndex& index) const;
};
