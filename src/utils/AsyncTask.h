#pragma once

// Does the slow work behind the GUI's short requests on a thread of its own: repairs one partition, lists the
// partitions for the check page, gathers the restore page information, starts the system repair tool. One worker, one
// job; the result leaves through a signal carrying JSON text.

#include "FsTab.h"
#include "utils.h"

#include <QThread>

struct PartitionCheckItem
{
    QString devicePath;
    QString label;
    QString uuid;
    QString mountPoint;
    QString fsType;
    int status = 0;
    int deviceType = -1;
};

class AsyncTask : public QThread
{
    Q_OBJECT

public:
    enum Action
    {
        RepairPartition = 1,
        PartitionCheckList = 2,
        LiveRestorePage = 4,
        SystemRepairTool = 5,
    };

    explicit AsyncTask(int action);

    void setDevicePath(const QString& devicePath);
    void setRootUUID(const QString& uuid);

    bool GetPartitionCheckItemList(QList<PartitionCheckItem>& items, int liveType, const QList<BlkIdInfo>& blkIdInfos);
    void initLiveRestorePageInfo();
    void initSystemRepairToolPage();

    // The check list and the restore page information as the JSON texts the GUI reads.
    static QString checkListJson(const QList<PartitionCheckItem>& items);

signals:
    void fixPartitionSuccess();
    void fixPartitionFailed(QString error);
    void getPartitionCheckItemFinish(QString itemListJson);
    void initLiveRestorePageFinish(QString data);
    void initSystemRepairToolPageFinish();
    void initSystemRepairToolPageFailed(QString error);

protected:
    void run() override;

private:
    void fixPartition();
    void partitionCheckList();
    void addFstabInformation(QList<PartitionCheckItem>& items);
    QString rootFile(const QString& relative) const;
    void markSystemPartitionsWithoutRoot(QList<PartitionCheckItem>& items);

    int m_action;
    QString m_devicePath;
    QString m_rootUUID;
    QString m_rootMountPoint;
    QString m_recoveryUUID;
    QStringList m_fstabUUIDs;
    FSTabInfoList m_fstabInfos;
    bool m_rootMountedHere = false;
    int m_liveType = -1;
};
