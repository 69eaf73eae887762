#pragma once

#include "utils.h"

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class BaseTableView;
class RadioItem;
class SettingsGroup;
class TreeViewModel;

namespace Tessel::Widgets {
class TFileChooserEdit;
class TTipLabel;
} // namespace Tessel::Widgets

// The three ways back to a working system: reset to factory settings from the initial backup (optionally keeping
// personal files), restore from a directory of backup files, or restore from a restore point in a table. The page
// only validates the choice and asks its owner through signals; errors come back through
// onManualRestoreErrorChanged().
class RestorePage : public QWidget
{
    Q_OBJECT

public:
    enum Mode
    {
        FactoryReset = 0,
        BackupFiles = 1,
        RestorePoint = 2
    };

    explicit RestorePage(QWidget* parent = nullptr);

    // For the recovery live environment: directory chooser, a title, no context menus.
    void setLiveMode();
    bool isLiveMode() const { return m_isLive; }
    // Device, encrypted and LVM systems can only go back to the factory state.
    void setFactoryResetOnly();

    int mode() const { return m_mode; }
    // The backup-files and restore point controls are null in the factory-reset-only form.
    RadioItem* factoryItem() const { return m_factoryItem; }
    RadioItem* backupFilesItem() const { return m_filesItem; }
    RadioItem* restorePointItem() const { return m_restorePointItem; }
    QCheckBox* keepCheckBox() const { return m_keepCheckBox; }
    // Null in the factory-reset-only form, like the backup-files item it belongs to.
    QCheckBox* otherDiskCheckBox() const { return m_otherDiskCheckBox; }
    Tessel::Widgets::TFileChooserEdit* fileChooser() const { return m_fileChooser; }
    Tessel::Widgets::TTipLabel* tipLabel() const { return m_tipLabel; }
    QPushButton* restoreButton() const { return m_restoreButton; }
    QPushButton* browseButton() const { return m_browseButton; }
    QPushButton* busyButton() const { return m_busyButton; }
    BaseTableView* tableView() const { return m_tableView; }
    TreeViewModel* model() const { return m_model; }
    SettingsGroup* group() const { return m_group; }

    // A directory holds a backup image when it exists and has a file with the suffix "rbk", exactly.
    static bool hasBackupImage(const QString& directory);
    // The confirmation before a reset to factory settings, keeping personal files or not; true when confirmed.
    static bool confirmReset(QWidget* parent, bool keepPersonalFiles, bool isLive);

signals:
    void requestSystemRestore(bool formatData);
    void requestManualRestore(QString directory);
    // A whole-disk backup from a directory, onto a disk the person picks whether or not its own disk is there.
    void requestRestoreOntoChosenDisk(QString directory);
    void requestManualRestoreNew(QString directory, QString backupUUID);
    void requestTreeViewListItem(TreeViewModel* model);
    // The files of the chosen backup directory or restore point, to copy single ones.
    void requestBrowse(QString directory, QString backupUUID);

public slots:
    void onSystemRestoreItemVisibelChanged(bool value);
    void onRestoreButtonVisibleChanged(bool value);
    void onManualRestoreErrorChanged(Utils::ErrorType errorType);
    void showError(const QString& text);
    void onCancelRestore();
    void onItemChecked();
    void restore();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void initItems();
    void initLayout();
    void initConnections();
    void finishDeferredSetup();
    QWidget* newKeepContent(QCheckBox* checkBox);
    void showRestorePointContent(const QMargins& margins);
    void onDirectoryChanged(const QString& directory);
    // The check mark, and what Restore Now restores, follow the current row however it moved.
    void onCurrentRowChanged(const QModelIndex& index);
    void updateColumnWidth();
    void confirmFactoryReset();
    void restoreFromRestorePoint();
    void initBrowseButton();
    // Browsing is offered for exactly what Restore Now would restore from a backup.
    void updateBrowseButton();
    void browse();

    QCheckBox* m_keepCheckBox;
    QCheckBox* m_otherDiskCheckBox = nullptr;
    Tessel::Widgets::TFileChooserEdit* m_fileChooser;
    Tessel::Widgets::TTipLabel* m_tipLabel;
    QPushButton* m_restoreButton;
    QPushButton* m_browseButton = nullptr;
    RadioItem* m_factoryItem;
    RadioItem* m_filesItem;
    RadioItem* m_restorePointItem;
    QPushButton* m_busyButton;
    BaseTableView* m_tableView;
    TreeViewModel* m_model;
    SettingsGroup* m_group;
    QWidget* m_tableHolder;
    QVBoxLayout* m_layout;
    // Exclusive: the chosen restore choice cannot be clicked away, one always stays chosen.
    QButtonGroup* m_choices;
    int m_mode = FactoryReset;
    bool m_isLive = false;
};
