#include "PartitionItem.h"

#include <tessel/widgets/GlazeStyle.h>
#include <tessel/widgets/TPalette.h>

#include <QPainter>

using namespace Tessel::Widgets;

namespace {
const QSize ItemSize(458, 50);
} // namespace

PartitionItem::PartitionItem(QWidget* parent) : QFrame(parent)
{
    setFixedSize(ItemSize);
    setFrameShape(QFrame::NoFrame);
}

void PartitionItem::paintEvent(QPaintEvent*)
{
    const TPalette tp = TPalette::of(this);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(tp.color(group, TPalette::ItemBackground));
    p.drawRoundedRect(rect(), GlazeStyle::ControlRadius, GlazeStyle::ControlRadius);
}

void PartitionItem::resizeEvent(QResizeEvent* event)
{
    // The rounded background is drawn for the whole rectangle, so a new size needs a full repaint.
    QFrame::resizeEvent(event);
    update();
}
