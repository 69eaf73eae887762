// A QLabel that takes one of the toolkit's font size levels and, optionally, a toolkit text colour.
#pragma once

#include "TFontSizeManager.h"
#include "TPalette.h"

#include <QLabel>

namespace Tessel::Widgets {

class TLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TLabel(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    explicit TLabel(const QString& text, QWidget* parent = nullptr);

    // Same as TFontSizeManager::instance()->bind(this, level).
    void setFontSizeLevel(TFontSizeManager::SizeType level);

    // Paints the text in a toolkit colour (TPalette::TextTips, TextWarning...) that follows theme changes;
    // TPalette::NoType goes back to the palette's WindowText.
    void setForegroundColorType(TPalette::ColorType type);
    TPalette::ColorType foregroundColorType() const { return m_foregroundType; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyForeground();

    TPalette::ColorType m_foregroundType = TPalette::NoType;
    bool m_applyingForeground = false;
};

} // namespace Tessel::Widgets
