// The toolkit's colours: a QPalette for the two theme types plus the few roles Qt has no name for.
#pragma once

#include <QColor>
#include <QPalette>

#include <array>

class QWidget;

namespace Tessel::Widgets {

enum class ThemeType
{
    Light,
    Dark
};

// A QPalette filled with the toolkit's colours for one theme type, carrying extra colour types besides Qt's roles.
// The Qt part is what the glaze style and plain Qt widgets paint with (QPalette::Highlight is the accent); the extra
// types are read by the toolkit's widgets and by application code that paints its own items. The extra types do not
// travel through QWidget::setPalette(): ask TPalette::of(widget) for them.
class TPalette : public QPalette
{
public:
    enum ColorType
    {
        NoType,              // "use the Qt role instead" wherever a ColorType is optional
        ItemBackground,      // tiles, grouped rows, table rows
        ItemBackgroundHover, // emphasised item: hovered or chosen tile
        TextTitle,           // headings
        TextTips,            // secondary, explanatory text
        TextWarning,         // errors and destructive actions
        TextLively,          // accent-coloured text
        FrameBorder,         // 1 px outlines of panels and inputs
        NColorTypes
    };

    explicit TPalette(ThemeType type = ThemeType::Light);

    ThemeType themeType() const { return m_themeType; }

    using QPalette::brush;
    using QPalette::color;
    using QPalette::setColor;

    // NoType gives an invalid colour. In the Disabled group the colour is faded.
    QColor color(ColorType type) const { return color(QPalette::Active, type); }
    QColor color(ColorGroup group, ColorType type) const;
    void setColor(ColorType type, const QColor& color);

    // The toolkit palette matching a widget: its theme type is read from the widget's own window colour, so a
    // dark-themed subtree gets dark extras even inside a light application.
    static TPalette of(const QWidget* widget);
    // Light when the window colour is light, dark otherwise.
    static ThemeType themeTypeOf(const QPalette& palette);

private:
    ThemeType m_themeType;
    std::array<QColor, NColorTypes> m_extra;
};

} // namespace Tessel::Widgets
