#include "TPalette.h"

#include <QWidget>

namespace Tessel::Widgets {

namespace {

struct Scheme
{
    const char* window;
    const char* text;
    const char* base;
    const char* alternateBase;
    const char* button;
    const char* accent;
    const char* placeholder;
    const char* light;
    const char* midlight;
    const char* mid;
    const char* dark;
    const char* disabledText;
    const char* disabledButton;
    const char* disabledAccent;
    const char* toolTipBase;
    const char* toolTipText;
    const char* itemBackground;
    const char* itemBackgroundHover;
    const char* title;
    const char* tips;
    const char* warning;
    const char* lively;
    const char* border;
};

// Cool greys around one calm blue; the dark scheme keeps the same hues a step brighter so contrast stays even.
const Scheme lightScheme = {"#F2F4F7", "#1D2433", "#FFFFFF", "#F6F8FA", "#FFFFFF", "#2C7BE5", "#8B95A5", "#FFFFFF",
                            "#E9EDF2", "#D0D7E2", "#A8B2C1", "#A3ACB9", "#F4F6F8", "#A9C8F2", "#1D2433", "#FFFFFF",
                            "#FFFFFF", "#EAF2FD", "#1D2433", "#6B7587", "#D93A3A", "#2C7BE5", "#DCE1E8"};
const Scheme darkScheme = {"#1B1E24", "#E7EAF0", "#23272F", "#262A33", "#2B3039", "#3D8BF2", "#7D8694", "#343A45",
                           "#2F343E", "#3A414D", "#12151A", "#5F6774", "#262A31", "#2C4A73", "#E7EAF0", "#1B1E24",
                           "#252A32", "#23344D", "#F1F3F7", "#98A2B3", "#FF6B6B", "#5AA0F5", "#353B46"};

} // namespace

TPalette::TPalette(ThemeType type) : m_themeType(type)
{
    const Scheme& s = type == ThemeType::Light ? lightScheme : darkScheme;
    const QColor text(s.text);
    const QColor accent(s.accent);

    for (ColorGroup group : {Active, Inactive}) {
        QPalette::setColor(group, Window, QColor(s.window));
        QPalette::setColor(group, WindowText, text);
        QPalette::setColor(group, Base, QColor(s.base));
        QPalette::setColor(group, AlternateBase, QColor(s.alternateBase));
        QPalette::setColor(group, Text, text);
        QPalette::setColor(group, Button, QColor(s.button));
        QPalette::setColor(group, ButtonText, text);
        QPalette::setColor(group, BrightText, Qt::white);
        QPalette::setColor(group, Highlight, accent);
        QPalette::setColor(group, HighlightedText, Qt::white);
        QPalette::setColor(group, Link, QColor(s.lively));
        QPalette::setColor(group, LinkVisited, accent.darker(120));
        QPalette::setColor(group, PlaceholderText, QColor(s.placeholder));
        QPalette::setColor(group, Light, QColor(s.light));
        QPalette::setColor(group, Midlight, QColor(s.midlight));
        QPalette::setColor(group, Mid, QColor(s.mid));
        QPalette::setColor(group, Dark, QColor(s.dark));
        QPalette::setColor(group, Shadow, QColor(0, 0, 0, type == ThemeType::Light ? 40 : 110));
        QPalette::setColor(group, ToolTipBase, QColor(s.toolTipBase));
        QPalette::setColor(group, ToolTipText, QColor(s.toolTipText));
    }
    // Disabled controls keep their shape and lose contrast, rather than turning into a different grey widget.
    QPalette::setColor(Disabled, Window, QColor(s.window));
    QPalette::setColor(Disabled, WindowText, QColor(s.disabledText));
    QPalette::setColor(Disabled, Base, QColor(s.disabledButton));
    QPalette::setColor(Disabled, AlternateBase, QColor(s.alternateBase));
    QPalette::setColor(Disabled, Text, QColor(s.disabledText));
    QPalette::setColor(Disabled, Button, QColor(s.disabledButton));
    QPalette::setColor(Disabled, ButtonText, QColor(s.disabledText));
    QPalette::setColor(Disabled, BrightText, Qt::white);
    QPalette::setColor(Disabled, Highlight, QColor(s.disabledAccent));
    QPalette::setColor(Disabled, HighlightedText, QColor(type == ThemeType::Light ? "#FFFFFF" : "#9AA3B0"));
    QPalette::setColor(Disabled, Link, QColor(s.disabledText));
    QPalette::setColor(Disabled, LinkVisited, QColor(s.disabledText));
    QPalette::setColor(Disabled, PlaceholderText, QColor(s.disabledText));
    QPalette::setColor(Disabled, Light, QColor(s.light));
    QPalette::setColor(Disabled, Midlight, QColor(s.midlight));
    QPalette::setColor(Disabled, Mid, QColor(s.mid));
    QPalette::setColor(Disabled, Dark, QColor(s.dark));
    QPalette::setColor(Disabled, Shadow, QColor(0, 0, 0, 0));
    QPalette::setColor(Disabled, ToolTipBase, QColor(s.toolTipBase));
    QPalette::setColor(Disabled, ToolTipText, QColor(s.toolTipText));

    m_extra[ItemBackground] = QColor(s.itemBackground);
    m_extra[ItemBackgroundHover] = QColor(s.itemBackgroundHover);
    m_extra[TextTitle] = QColor(s.title);
    m_extra[TextTips] = QColor(s.tips);
    m_extra[TextWarning] = QColor(s.warning);
    m_extra[TextLively] = QColor(s.lively);
    m_extra[FrameBorder] = QColor(s.border);
}

QColor TPalette::color(ColorGroup group, ColorType type) const
{
    if (type <= NoType || type >= NColorTypes) {
        return QColor();
    }
    QColor c = m_extra[type];
    if (group == Disabled) {
        c.setAlphaF(c.alphaF() * 0.45f);
    }
    return c;
}

void TPalette::setColor(ColorType type, const QColor& color)
{
    if (type > NoType && type < NColorTypes) {
        m_extra[type] = color;
    }
}

TPalette TPalette::of(const QWidget* widget)
{
    return TPalette(widget ? themeTypeOf(widget->palette()) : ThemeType::Light);
}

ThemeType TPalette::themeTypeOf(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Window).lightness() >= 128 ? ThemeType::Light : ThemeType::Dark;
}

} // namespace Tessel::Widgets
