#include "TLabel.h"

#include <QEvent>

namespace Tessel::Widgets {

TLabel::TLabel(QWidget* parent, Qt::WindowFlags flags) : QLabel(parent, flags) {}

TLabel::TLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void TLabel::setFontSizeLevel(TFontSizeManager::SizeType level)
{
    TFontSizeManager::instance()->bind(this, level);
}

void TLabel::setForegroundColorType(TPalette::ColorType type)
{
    m_foregroundType = type;
    applyForeground();
}

void TLabel::applyForeground()
{
    // Setting the palette raises another PaletteChange; the flag keeps that one from coming back here.
    m_applyingForeground = true;
    QPalette pal = palette();
    if (m_foregroundType == TPalette::NoType) {
        setPalette(QPalette());
    } else {
        const TPalette tp = TPalette::of(this);
        pal.setColor(QPalette::Active, QPalette::WindowText, tp.color(QPalette::Active, m_foregroundType));
        pal.setColor(QPalette::Inactive, QPalette::WindowText, tp.color(QPalette::Inactive, m_foregroundType));
        pal.setColor(QPalette::Disabled, QPalette::WindowText, tp.color(QPalette::Disabled, m_foregroundType));
        setPalette(pal);
    }
    m_applyingForeground = false;
}

void TLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !m_applyingForeground && m_foregroundType != TPalette::NoType) {
        applyForeground();
    }
}

} // namespace Tessel::Widgets
