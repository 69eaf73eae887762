#include "TBackgroundGroup.h"

#include "GlazeStyle.h"

#include <QBoxLayout>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace Tessel::Widgets {

namespace {

// A rectangle whose corners are rounded only where it meets the outside of the group.
QPainterPath itemPath(const QRectF& r, qreal radius, bool roundStart, bool roundEnd, bool vertical)
{
    const bool tl = roundStart;
    const bool tr = vertical ? roundStart : roundEnd;
    const bool bl = vertical ? roundEnd : roundStart;
    const bool br = roundEnd;
    const qreal d = 2 * radius;
    QPainterPath path;
    path.moveTo(r.left() + (tl ? radius : 0), r.top());
    path.lineTo(r.right() - (tr ? radius : 0), r.top());
    if (tr) {
        path.arcTo(QRectF(r.right() - d, r.top(), d, d), 90, -90);
    }
    path.lineTo(r.right(), r.bottom() - (br ? radius : 0));
    if (br) {
        path.arcTo(QRectF(r.right() - d, r.bottom() - d, d, d), 0, -90);
    }
    path.lineTo(r.left() + (bl ? radius : 0), r.bottom());
    if (bl) {
        path.arcTo(QRectF(r.left(), r.bottom() - d, d, d), 270, -90);
    }
    path.lineTo(r.left(), r.top() + (tl ? radius : 0));
    if (tl) {
        path.arcTo(QRectF(r.left(), r.top(), d, d), 180, -90);
    }
    path.closeSubpath();
    return path;
}

} // namespace

TBackgroundGroup::TBackgroundGroup(QLayout* layout, QWidget* parent)
    : QWidget(parent), m_radius(GlazeStyle::ControlRadius)
{
    if (!layout) {
        layout = new QVBoxLayout;
        layout->setContentsMargins(0, 0, 0, 0);
    }
    setLayout(layout);
    setItemSpacing(1);
}

void TBackgroundGroup::setItemSpacing(int spacing)
{
    layout()->setSpacing(spacing);
    update();
}

int TBackgroundGroup::itemSpacing() const
{
    return layout()->spacing();
}

void TBackgroundGroup::setItemMargins(const QMargins& margins)
{
    layout()->setContentsMargins(margins);
}

QMargins TBackgroundGroup::itemMargins() const
{
    return layout()->contentsMargins();
}

void TBackgroundGroup::setBackgroundColorType(TPalette::ColorType type)
{
    m_backgroundType = type;
    update();
}

void TBackgroundGroup::setUseWidgetBackground(bool use)
{
    m_useWidgetBackground = use;
    update();
}

void TBackgroundGroup::setRadius(int radius)
{
    m_radius = qMax(0, radius);
    update();
}

bool TBackgroundGroup::event(QEvent* event)
{
    const bool result = QWidget::event(event);
    // Items move only when the layout runs; that is when the backgrounds behind them must follow.
    if (event->type() == QEvent::LayoutRequest) {
        update();
    }
    return result;
}

void TBackgroundGroup::paintEvent(QPaintEvent*)
{
    if (m_useWidgetBackground || m_backgroundType == TPalette::NoType) {
        return;
    }
    QList<QRect> rects;
    QLayout* l = layout();
    for (int i = 0; i < l->count(); ++i) {
        QLayoutItem* item = l->itemAt(i);
        if (item->widget() ? !item->widget()->isHidden() : item->layout() != nullptr) {
            if (item->geometry().isValid()) {
                rects.append(item->geometry());
            }
        }
    }
    if (rects.isEmpty()) {
        return;
    }
    const auto* box = qobject_cast<QBoxLayout*>(l);
    const bool vertical =
        !box || box->direction() == QBoxLayout::TopToBottom || box->direction() == QBoxLayout::BottomToTop;
    const bool reversed =
        box && (box->direction() == QBoxLayout::BottomToTop || box->direction() == QBoxLayout::RightToLeft);
    if (reversed) {
        std::reverse(rects.begin(), rects.end());
    }

    const TPalette tp = TPalette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(tp.color(isEnabled() ? QPalette::Active : QPalette::Disabled, m_backgroundType));
    for (int i = 0; i < rects.size(); ++i) {
        const qreal radius = qMin<qreal>(m_radius, qMin(rects.at(i).width(), rects.at(i).height()) / 2.0);
        p.drawPath(itemPath(QRectF(rects.at(i)), radius, i == 0, i == rects.size() - 1, vertical));
    }
}

} // namespace Tessel::Widgets
