#include "BaseItemDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace {
const int MinimumRowHeight = 36;
const int TextMargin = 10;
} // namespace

BaseItemDelegate::BaseItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QSize BaseItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(qMax(size.height(), MinimumRowHeight));
    return size;
}

// The row background is the view's; a cell draws only its check mark and its elided text.
void BaseItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QRect textRect = option.rect.adjusted(TextMargin, 0, -TextMargin, 0);
    const QVariant check = index.data(Qt::CheckStateRole);
    if (check.isValid() && check.toInt() == Qt::Checked) {
        const int side = 16;
        const QRect mark(textRect.right() - side, textRect.center().y() - side / 2, side, side);
        QStyleOptionViewItem markOption = option;
        markOption.rect = mark;
        markOption.state |= QStyle::State_On;
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &markOption, painter, widget);
        textRect.setRight(mark.left() - TextMargin);
    }
    const QString text =
        option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, textRect.width());
    painter->save();
    painter->setPen(option.palette.color(option.state & QStyle::State_Enabled ? QPalette::Active : QPalette::Disabled,
                                         QPalette::Text));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
    painter->restore();
}

bool BaseItemDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                 const QModelIndex& index)
{
    if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    const int frame = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, view) + 1;
    const int available = view->visualRect(index).width() - 2 * frame;
    if (!text.isEmpty() && option.fontMetrics.horizontalAdvance(text) > available) {
        QToolTip::showText(event->globalPos(), QString("<div>%1</div>").arg(text.toHtmlEscaped()), view);
        return true;
    }
    QToolTip::hideText();
    return true;
}
