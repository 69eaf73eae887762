#include "TTipLabel.h"

namespace Tessel::Widgets {

TTipLabel::TTipLabel(QWidget* parent) : TTipLabel(QString(), parent) {}

TTipLabel::TTipLabel(const QString& text, QWidget* parent) : TLabel(text, parent)
{
    setFontSizeLevel(TFontSizeManager::T7);
    setForegroundColorType(TPalette::TextTips);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

} // namespace Tessel::Widgets
