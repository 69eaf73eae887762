#include "BaseHeaderView.h"

#include <tessel/widgets/GlazeStyle.h>
#include <tessel/widgets/TPalette.h>

#include <QPainter>
#include <QPainterPath>

using namespace Tessel::Widgets;

namespace {
const int HeaderHeight = 36;
const int TextMargin = 10;
} // namespace

BaseHeaderView::BaseHeaderView(Qt::Orientation orientation, QWidget* parent) : QHeaderView(orientation, parent) {}

QSize BaseHeaderView::sizeHint() const
{
    QSize size = QHeaderView::sizeHint();
    size.setHeight(qMax(size.height(), HeaderHeight));
    return size;
}

void BaseHeaderView::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(viewport());
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(viewport()->rect()), GlazeStyle::ControlRadius, GlazeStyle::ControlRadius);
        painter.fillPath(path, TPalette::of(this).color(TPalette::ItemBackground));
    }
    QHeaderView::paintEvent(event);
}

void BaseHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (model() == nullptr) {
        return;
    }
    const QString text = model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
    const QRect textRect = rect.adjusted(TextMargin, 0, -TextMargin, 0);
    painter->save();
    QFont font = painter->font();
    font.setWeight(QFont::Medium);
    painter->setFont(font);
    painter->setPen(TPalette::of(this).color(TPalette::TextTitle));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
    painter->restore();
}
