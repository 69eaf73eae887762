#pragma once

#include <QStyledItemDelegate>

// Cells of the backup table: rows at least 36 pixels high, and the full text as a tooltip when it does not fit.
class BaseItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit BaseItemDelegate(QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The cell's text as painted into option.rect; the tooltip shows exactly when it is cut short.
    QString elidedText(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    // Where the text goes: in from both edges, and left of the check mark when the cell has one.
    static QRect textRect(const QStyleOptionViewItem& option, const QModelIndex& index);
    static QRect checkMarkRect(const QStyleOptionViewItem& option);
};
