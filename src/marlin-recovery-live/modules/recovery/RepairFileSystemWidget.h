#pragma once

#include <QMap>
#include <QWidget>

class QFrame;
class QGridLayout;
class QLabel;
class QScrollArea;
struct PartitionCheckItem;

namespace Tessel::Widgets {
class TIconButton;
} // namespace Tessel::Widgets

// The file-system repair page: the installed system's partitions with their check result, and a repair button on
// each partition with errors. One repair at a time; the controller reports its outcome.
class RepairFileSystemWidget : public QWidget
{
    Q_OBJECT
public:
    explicit RepairFileSystemWidget(QWidget* parent = nullptr);

    void initUI();
    void initLayout();

    void loadPartitionCheckList(const QString& json);
    void fixSuccess();
    void fixFailed(const QString& error);

    int rowCount() const { return int(m_devicePaths.size()); }
    bool isRepairing() const { return m_repairing; }
    int repairingRow() const { return m_repairingRow; }
    QString resultText() const;
    QString devicePathOfRow(int n) const { return m_devicePaths.value(n); }
    Tessel::Widgets::TIconButton* backwardButton() const { return m_backwardBtn; }

signals:
    void cancel();
    void repairFileSystemClicked(QString devicePath);
    void enableReturnBtn(bool bState);
    void enableCloseBtn(bool bState);
    void backwardBtnClicked();

public slots:
    void onBackWardClick();
    void repairBtnClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void clearList();
    void addRow(const PartitionCheckItem& item);
    void addRepairButton(int n);
    void showRowRepairing(int n);
    void setStatusIcon(int n, const QString& path);
    void setResult(const QString& iconPath, const QString& text);
    void endRepair();
    bool confirmRepair(const QString& devicePath);
    QFrame* buttonFrame(int n) const;
    QLabel* statusLabel(int n) const;

    Tessel::Widgets::TIconButton* m_backwardBtn = nullptr;
    QLabel* m_titleLabel = nullptr;
    QScrollArea* m_scrollArea = nullptr;
    QWidget* m_listWidget = nullptr;
    QGridLayout* m_gridLayout = nullptr;
    QLabel* m_resultIcon = nullptr;
    QLabel* m_resultText = nullptr;
    QMap<int, QString> m_devicePaths;
    bool m_repairing = false;
    int m_repairingRow = -1;
};
