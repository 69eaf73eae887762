#include "BaseTableView.h"

#include "BaseHeaderView.h"
#include "BaseItemDelegate.h"

#include <tessel/widgets/GlazeStyle.h>
#include <tessel/widgets/TPalette.h>

#include <QHoverEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScroller>

using namespace Tessel::Widgets;

namespace {
const int RowGap = 2;
} // namespace

BaseTableView::BaseTableView(QWidget* parent)
    : QTreeView(parent), m_headerView(new BaseHeaderView(Qt::Horizontal, this)), m_delegate(new BaseItemDelegate(this))
{
    setItemDelegate(m_delegate);
    setHeader(m_headerView);
    m_headerView->setSectionsClickable(true);
    m_headerView->setSectionResizeMode(QHeaderView::Fixed);
    m_headerView->setStretchLastSection(true);
    m_headerView->setSortIndicatorShown(true);
    m_headerView->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_headerView->setContextMenuPolicy(Qt::CustomContextMenu);
    m_headerView->setFocusPolicy(Qt::TabFocus);

    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    setAlternatingRowColors(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::TabFocus);
    setTabOrder(m_headerView, this);
    viewport()->setAttribute(Qt::WA_Hover);
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents);
    QScroller::grabGesture(viewport(), QScroller::TouchGesture);
}

BaseTableView::~BaseTableView()
{
    // Grabbing registers a gesture recognizer of its own, which only this gives back.
    QScroller::ungrabGesture(viewport());
}

void BaseTableView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const TPalette palette = TPalette::of(this);
    const int row = index.row();
    QColor background = palette.color(TPalette::ItemBackground);
    if (row == currentIndex().row() && currentIndex().isValid()) {
        background = palette.color(QPalette::Highlight);
        background.setAlpha(row == m_pressedRow ? 90 : 60);
    } else if (row == m_pressedRow || row == m_hoverRow) {
        background = palette.color(TPalette::ItemBackgroundHover);
    }
    const QRect rect = option.rect.adjusted(0, RowGap / 2, 0, -RowGap / 2);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect), GlazeStyle::ControlRadius, GlazeStyle::ControlRadius);
    painter->fillPath(path, background);
    painter->restore();
    QTreeView::drawRow(painter, option, index);
}

void BaseTableView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTreeView::currentChanged(current, previous);
    updateRow(previous.row());
    updateRow(current.row());
}

bool BaseTableView::viewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        setHoverRow(indexAt(static_cast<QHoverEvent*>(event)->position().toPoint()).row());
        break;
    case QEvent::HoverLeave:
        setHoverRow(-1);
        break;
    default:
        break;
    }
    return QTreeView::viewportEvent(event);
}

void BaseTableView::mousePressEvent(QMouseEvent* event)
{
    setPressedRow(indexAt(event->position().toPoint()).row());
    QTreeView::mousePressEvent(event);
}

void BaseTableView::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeView::mouseReleaseEvent(event);
    setPressedRow(-1);
}

void BaseTableView::setHoverRow(int row)
{
    moveTrackedRow(m_hoverRow, row);
}

void BaseTableView::setPressedRow(int row)
{
    moveTrackedRow(m_pressedRow, row);
}

void BaseTableView::moveTrackedRow(int& tracked, int row)
{
    if (row == tracked) {
        return;
    }
    const int old = tracked;
    tracked = row;
    updateRow(old);
    updateRow(row);
}

void BaseTableView::updateRow(int row)
{
    if (row < 0 || model() == nullptr || row >= model()->rowCount(rootIndex())) {
        return;
    }
    const QRect first = visualRect(model()->index(row, 0, rootIndex()));
    viewport()->update(QRect(0, first.top(), viewport()->width(), first.height()));
}
