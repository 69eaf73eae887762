#include "BaseItemDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace {
const int MinimumRowHeight = 36;
const int TextMargin = 10;
const int CheckMarkSide = 16;

bool isChecked(const QModelIndex& index)
{
    const QVariant check = index.data(Qt::CheckStateRole);
    return check.isValid() && check.toInt() == Qt::Checked;
}
} // namespace

BaseItemDelegate::BaseItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QSize BaseItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(qMax(size.height(), MinimumRowHeight));
    return size;
}

QRect BaseItemDelegate::checkMarkRect(const QStyleOptionViewItem& option)
{
    const QRect inner = option.rect.adjusted(TextMargin, 0, -TextMargin, 0);
    return QRect(inner.right() - CheckMarkSide, inner.center().y() - CheckMarkSide / 2, CheckMarkSide, CheckMarkSide);
}

QRect BaseItemDelegate::textRect(const QStyleOptionViewItem& option, const QModelIndex& index)
{
    QRect rect = option.rect.adjusted(TextMargin, 0, -TextMargin, 0);
    if (isChecked(index)) {
        rect.setRight(checkMarkRect(option).left() - TextMargin);
    }
    return rect;
}

QString BaseItemDelegate::elidedText(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                         textRect(option, index).width());
}

// The row background is the view's; a cell draws only its check mark and its elided text.
void BaseItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (isChecked(index)) {
        QStyleOptionViewItem markOption = option;
        markOption.rect = checkMarkRect(option);
        markOption.state |= QStyle::State_On;
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &markOption, painter, widget);
    }
    painter->save();
    painter->setPen(option.palette.color(option.state & QStyle::State_Enabled ? QPalette::Active : QPalette::Disabled,
                                         QPalette::Text));
    painter->drawText(textRect(option, index), Qt::AlignLeft | Qt::AlignVCenter, elidedText(option, index));
    painter->restore();
}

bool BaseItemDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                 const QModelIndex& index)
{
    if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty() && elidedText(option, index) != text) {
        QToolTip::showText(event->globalPos(), QString("<div>%1</div>").arg(text.toHtmlEscaped()), view);
        return true;
    }
    QToolTip::hideText();
    return true;
}
