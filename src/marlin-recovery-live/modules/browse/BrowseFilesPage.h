#pragma once

#include <QWidget>

class BrowseModel;
class QLabel;
class QPushButton;
class QTreeView;

// The browsed volumes as a tree whose folders are listed when opened; files and folders are checked for copying.
// "Back" (or Escape) ends the browse, "Copy…" goes on to the choice of a destination.
class BrowseFilesPage : public QWidget
{
    Q_OBJECT
public:
    explicit BrowseFilesPage(QWidget* parent = nullptr);

    BrowseModel* model() const { return m_model; }
    QTreeView* treeView() const { return m_tree; }
    QPushButton* backButton() const { return m_backButton; }
    QPushButton* copyButton() const { return m_copyButton; }
    QLabel* statusLabel() const { return m_statusLabel; }

    void setTitle(const QString& text);
    // An empty page that waits for the volumes.
    void startLoading();
    void showVolumes(const QString& data);
    // The listing of one folder (the service's data text); false when it belongs to no folder of the tree.
    bool showEntries(const QString& data);
    void showFolderError(const QString& path, const QString& error);
    void showError(const QString& error);
    // "3 files, 2 folders (1.2 MB)": the checked entries, for this page and the next.
    QString selectionText() const;

signals:
    void back();
    void copyRequested();
    void folderWanted(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void updateSelection();

    QLabel* m_titleLabel;
    BrowseModel* m_model;
    QTreeView* m_tree;
    QLabel* m_statusLabel;
    QLabel* m_selectionLabel;
    QPushButton* m_backButton;
    QPushButton* m_copyButton;
};
