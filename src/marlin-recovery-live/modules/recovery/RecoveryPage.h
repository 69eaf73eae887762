#pragma once

#include <QStringList>
#include <QWidget>

class ItemFrame;
class QPushButton;
class QStandardItemModel;

namespace Tessel::Widgets {
class TIconButton;
class TLabel;
class TListView;
class TSpinner;
} // namespace Tessel::Widgets

// Home page: the two entries of the live system as tiles, Next, a busy spinner and an error line; below the tiles
// a way to copy personal files off the installed system first.
class RecoveryPage : public QWidget
{
    Q_OBJECT
public:
    enum Entry
    {
        RepairTools = 0,
        Restore = 1
    };

    explicit RecoveryPage(QWidget* parent = nullptr);

    void setErrorTip(const QString& text, bool visible);
    // The error line saying the service cannot be reached, with "Try Again" beside it; false clears both.
    void showServiceUnreachable(bool unreachable);
    void startBusy();
    void stopBusy();

    ItemFrame* tile(int row) const;
    Tessel::Widgets::TListView* listView() const { return m_listView; }
    QPushButton* nextButton() const { return m_nextBtn; }
    QPushButton* retryButton() const { return m_retryBtn; }
    QPushButton* copyFilesButton() const { return m_copyFilesBtn; }
    Tessel::Widgets::TIconButton* closeButton() const { return m_closeBtn; }
    Tessel::Widgets::TLabel* errorLabel() const { return m_errorLabel; }
    Tessel::Widgets::TSpinner* spinner() const { return m_spinner; }

signals:
    void notifyRepairFileSystem();
    void notifySystemRestore();
    void retryService();
    void notifyCopyPersonalFiles();

public slots:
    void onItemChanged(bool checked);
    void onNextBtnClicked();

private:
    void initUI();
    void initTiles();
    void confirmExit();

    Tessel::Widgets::TIconButton* m_closeBtn = nullptr;
    Tessel::Widgets::TListView* m_listView = nullptr;
    QStandardItemModel* m_model = nullptr;
    Tessel::Widgets::TLabel* m_errorLabel = nullptr;
    QPushButton* m_nextBtn = nullptr;
    QPushButton* m_retryBtn = nullptr;
    QPushButton* m_copyFilesBtn = nullptr;
    Tessel::Widgets::TSpinner* m_spinner = nullptr;
    QStringList m_titles;
    QStringList m_descriptions;
    QStringList m_icons;
    bool m_fixedListSize = true;
};
