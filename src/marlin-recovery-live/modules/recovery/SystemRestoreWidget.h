#pragma once

#include <QWidget>

class RestorePage;
class TreeViewModel;

namespace Tessel::Widgets {
class TFrame;
class TIconButton;
} // namespace Tessel::Widgets

// What the restore page needs to know about the installed system and its backups, as the service sends it.
struct RestoreBaseInfo
{
    QString recoveryUUID;
    QString osType;
    QString backupInfo;
    QString recoveryInfo;
    int osVersion = -1;
    bool isExitsInitBackup = false;
    bool isDeviceOS = false;
    bool isLvm = false;
    bool isEncrypted = false;
    bool isFileManagerEncrypted = false;

    static RestoreBaseInfo fromJson(const QString& json);
};

// The page behind "System Restore": the restore options with a back button. It decides from the service's
// information which options to offer, or hands a pending order straight on, and forwards the user's choice.
class SystemRestoreWidget : public QWidget
{
    Q_OBJECT

public:
    explicit SystemRestoreWidget(QWidget* parent = nullptr);

    void loadRestorePageInfo(const QString& json);
    // false when the last load handed a pending order on instead of offering the options.
    bool isShowingOptions() const { return m_info.recoveryInfo.isEmpty() || m_info.isFileManagerEncrypted; }
    void initUI(const RestoreBaseInfo& info);

    RestorePage* restorePage() const { return m_restorePage; }
    Tessel::Widgets::TIconButton* backwardButton() const { return m_backwardButton; }
    const RestoreBaseInfo& info() const { return m_info; }
    bool hasEncryptedMapper() const { return m_hasEncryptedMapper; }
    // Where the open encrypted system shows up; tests point it elsewhere.
    void setMapperDirectory(const QString& directory);

signals:
    void cancel();
    void systemRestoreClicked(bool formatData);
    void manualRestoreClicked(QString directory, QString backupUUID);
    void customRestoreClicked(QString directory);
    void chosenDiskRestoreClicked(QString directory);
    void recoveryTriggered(QString recoveryInfo);
    void browseClicked(QString directory, QString backupUUID);

public slots:
    void onSystemRestore(bool formatData);
    void onManualRestore(QString directory, QString backupUUID);
    void onCustomRestore(QString directory);
    void onProcessTreeViewListItem(TreeViewModel* model);

private:
    void createRestorePage();
    static bool findEncryptedMapper(const QString& directory);

    RestorePage* m_restorePage = nullptr;
    Tessel::Widgets::TIconButton* m_backwardButton;
    Tessel::Widgets::TFrame* m_frame;
    RestoreBaseInfo m_info;
    bool m_hasEncryptedMapper = false;
    bool m_shown = false;
};
