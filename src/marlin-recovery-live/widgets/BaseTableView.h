#pragma once

#include <QPersistentModelIndex>
#include <QTreeView>

class BaseHeaderView;
class BaseItemDelegate;

// A flat list shown as a table: rounded rows drawn from the toolkit palette, the row under the mouse and the chosen
// row (the current index, nothing is selected) highlighted.
class BaseTableView : public QTreeView
{
    Q_OBJECT

public:
    explicit BaseTableView(QWidget* parent = nullptr);
    ~BaseTableView() override;

    BaseHeaderView* headerView() const { return m_headerView; }
    int hoverRow() const { return m_hoverRow; }
    int pressedRow() const { return m_pressedRow; }

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setHoverRow(int row);
    void setPressedRow(int row);
    // Repaints the rows a highlight leaves and reaches.
    void moveTrackedRow(int& tracked, int row);
    void updateRow(int row);

    BaseHeaderView* m_headerView;
    BaseItemDelegate* m_delegate;
    int m_hoverRow = -1;
    int m_pressedRow = -1;
};
