#include "SettingsItem.h"

#include <tessel/widgets/GlazeStyle.h>
#include <tessel/widgets/TPalette.h>

#include <QPainter>
#include <QPainterPath>

using namespace Tessel::Widgets;

SettingsItem::SettingsItem(QWidget* parent) : QFrame(parent) {}

void SettingsItem::setIsErr(bool err)
{
    if (m_isErr == err) {
        return;
    }
    m_isErr = err;
    update();
}

void SettingsItem::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    const TPalette palette = TPalette::of(this);
    QColor background = palette.color(isEnabled() ? QPalette::Active : QPalette::Disabled, TPalette::ItemBackground);
    if (m_isErr) {
        // A faint wash of the warning colour: the row stays readable but stands out.
        QColor warning = palette.color(TPalette::TextWarning);
        warning.setAlpha(40);
        background = warning;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), GlazeStyle::ControlRadius, GlazeStyle::ControlRadius);
    painter.fillPath(path, background);
}

void SettingsItem::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    update();
}
