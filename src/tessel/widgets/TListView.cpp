#include "TListView.h"

#include "GlazeStyle.h"

#include <QPainter>
#include <QStyledItemDelegate>

namespace Tessel::Widgets {

namespace {

class ItemDelegate : public QStyledItemDelegate
{
public:
    explicit ItemDelegate(TListView* view) : QStyledItemDelegate(view), m_view(view) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return m_view->itemSize().isValid() ? m_view->itemSize() : QStyledItemDelegate::sizeHint(option, index);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        // An index widget is the whole item; a background behind it would only peek out at its corners.
        if (m_view->indexWidget(index)) {
            return;
        }
        const TPalette tp = TPalette::of(m_view);
        const QColor accent = option.palette.color(QPalette::Active, QPalette::Highlight);
        QColor background;
        if (m_view->itemBackgroundType() != TPalette::NoType) {
            background = tp.color(m_view->itemBackgroundType());
        }
        if (option.state & QStyle::State_Selected) {
            background = tp.color(TPalette::ItemBackgroundHover);
        } else if ((option.state & QStyle::State_MouseOver) && (option.state & QStyle::State_Enabled)) {
            background = tp.color(TPalette::ItemBackgroundHover);
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (background.isValid()) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(background);
            painter->drawRoundedRect(QRectF(option.rect), m_view->itemRadius(), m_view->itemRadius());
        }
        if (option.state & QStyle::State_Selected) {
            painter->setPen(QPen(accent, 1.5));
            painter->setBrush(Qt::NoBrush);
            const QRectF r = QRectF(option.rect).adjusted(0.75, 0.75, -0.75, -0.75);
            painter->drawRoundedRect(r, m_view->itemRadius(), m_view->itemRadius());
        }
        painter->restore();

        // The background above is the whole highlight; the style must not add its own.
        QStyleOptionViewItem content(option);
        content.state &= ~(QStyle::State_Selected | QStyle::State_MouseOver | QStyle::State_HasFocus);
        content.textElideMode = m_view->textElideMode();
        content.rect = option.rect.adjusted(8, 8, -8, -8);
        QStyledItemDelegate::paint(painter, content, index);
    }

private:
    TListView* m_view;
};

} // namespace

TListView::TListView(QWidget* parent) : QListView(parent), m_itemRadius(GlazeStyle::ControlRadius)
{
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setItemDelegate(new ItemDelegate(this));
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
}

void TListView::setItemSize(const QSize& size)
{
    if (size == m_itemSize) {
        return;
    }
    m_itemSize = size;
    // The layout caches item sizes; only a relayout asks the delegate again.
    scheduleDelayedItemsLayout();
}

void TListView::setItemRadius(int radius)
{
    m_itemRadius = qMax(0, radius);
    viewport()->update();
}

void TListView::setItemBackgroundType(TPalette::ColorType type)
{
    m_backgroundType = type;
    viewport()->update();
}

} // namespace Tessel::Widgets
