#include "GlazeStyle.h"

#include "TPalette.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOption>

namespace Tessel::Widgets {

namespace {

const char* const buttonTypeProperty = "tesselButtonType";

QColor mix(const QColor& a, const QColor& b, qreal t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t, a.alphaF() + (b.alphaF() - a.alphaF()) * t);
}

QColor withAlpha(QColor c, qreal alpha)
{
    c.setAlphaF(c.alphaF() * alpha);
    return c;
}

void fillRounded(QPainter* p, const QRectF& r, qreal radius, const QColor& color)
{
    if (!color.isValid() || color.alpha() == 0) {
        return;
    }
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(Qt::NoPen);
    p->setBrush(color);
    p->drawRoundedRect(r, radius, radius);
    p->restore();
}

// The pen runs inside r, so a border of any width never leaves the control's rectangle.
void strokeRounded(QPainter* p, const QRectF& r, qreal radius, const QColor& color, qreal width)
{
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(QPen(color, width));
    p->setBrush(Qt::NoBrush);
    const qreal h = width / 2;
    p->drawRoundedRect(r.adjusted(h, h, -h, -h), qMax<qreal>(0, radius - h), qMax<qreal>(0, radius - h));
    p->restore();
}

void drawChevronDown(QPainter* p, const QRectF& r, const QColor& color)
{
    const qreal w = qMin<qreal>(10, r.width() - 2);
    const QPointF c = r.center();
    QPainterPath path;
    path.moveTo(c.x() - w / 2, c.y() - w / 4);
    path.lineTo(c.x(), c.y() + w / 4);
    path.lineTo(c.x() + w / 2, c.y() - w / 4);
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p->setBrush(Qt::NoBrush);
    p->drawPath(path);
    p->restore();
}

bool keyboardFocus(const QStyleOption* o)
{
    return (o->state & QStyle::State_HasFocus) && (o->state & QStyle::State_KeyboardFocusChange);
}

struct ButtonLook
{
    QColor fill;
    QColor border;
    QColor text;
};

ButtonLook buttonLook(const QStyleOption* o, ButtonType type, bool flat)
{
    const QPalette& pal = o->palette;
    const TPalette tp(TPalette::themeTypeOf(pal));
    const bool enabled = o->state & QStyle::State_Enabled;
    const bool hover = enabled && (o->state & QStyle::State_MouseOver);
    const bool down = enabled && (o->state & (QStyle::State_Sunken | QStyle::State_On));
    const QColor accent = pal.color(QPalette::Active, QPalette::Highlight);

    ButtonLook look;
    if (type == ButtonType::Recommended) {
        if (!enabled) {
            look.fill = pal.color(QPalette::Disabled, QPalette::Highlight);
        } else if (down) {
            look.fill = accent.darker(118);
        } else if (hover) {
            look.fill = accent.lighter(110);
        } else {
            look.fill = accent;
        }
        look.text = pal.color(QPalette::Active, QPalette::HighlightedText);
        return look;
    }

    const QColor button = pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Button);
    if (flat) {
        look.fill = down ? withAlpha(accent, 0.18) : hover ? withAlpha(accent, 0.09) : QColor(Qt::transparent);
    } else {
        look.fill = down ? mix(button, accent, 0.16) : hover ? mix(button, accent, 0.07) : button;
        look.border = hover || down ? mix(pal.color(QPalette::Mid), accent, 0.45) : pal.color(QPalette::Mid);
        if (!enabled) {
            look.border = tp.color(TPalette::FrameBorder);
        }
    }
    if (type == ButtonType::Warning) {
        look.text = tp.color(enabled ? QPalette::Active : QPalette::Disabled, TPalette::TextWarning);
    } else {
        look.text = pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
    }
    return look;
}

void drawButtonPanel(QPainter* p, const QStyleOption* o, ButtonType type, bool flat, qreal radius)
{
    const ButtonLook look = buttonLook(o, type, flat);
    const QRectF r = QRectF(o->rect);
    fillRounded(p, r, radius, look.fill);
    if (look.border.isValid()) {
        strokeRounded(p, r, radius, look.border, 1);
    }
    if (keyboardFocus(o)) {
        const QColor ring = type == ButtonType::Recommended ? o->palette.color(QPalette::HighlightedText)
                                                            : o->palette.color(QPalette::Active, QPalette::Highlight);
        strokeRounded(p, type == ButtonType::Recommended ? r.adjusted(2, 2, -2, -2) : r, radius, ring, 2);
    }
}

void drawCheckMark(QPainter* p, const QRectF& r, const QColor& color)
{
    QPainterPath path;
    path.moveTo(r.left() + r.width() * 0.24, r.top() + r.height() * 0.52);
    path.lineTo(r.left() + r.width() * 0.43, r.top() + r.height() * 0.70);
    path.lineTo(r.left() + r.width() * 0.77, r.top() + r.height() * 0.32);
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(QPen(color, qMax<qreal>(1.6, r.width() / 9), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p->drawPath(path);
    p->restore();
}

void drawIndicator(QPainter* p, const QStyleOption* o, bool radio)
{
    const QPalette& pal = o->palette;
    const bool enabled = o->state & QStyle::State_Enabled;
    const bool hover = enabled && (o->state & QStyle::State_MouseOver);
    const bool on = o->state & QStyle::State_On;
    const bool partial = o->state & QStyle::State_NoChange;
    const QColor accent = pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);

    const int side = qMin(o->rect.width(), o->rect.height());
    QRectF r(0, 0, side, side);
    r.moveCenter(QRectF(o->rect).center());
    const qreal radius = radio ? side / 2.0 : 4.5;

    if (on || partial) {
        fillRounded(p, r, radius, accent);
        const QColor mark = pal.color(QPalette::Active, QPalette::HighlightedText);
        if (radio) {
            const qreal d = side * 0.38;
            fillRounded(p, QRectF(r.center() - QPointF(d / 2, d / 2), QSizeF(d, d)), d / 2, mark);
        } else if (partial) {
            fillRounded(p, QRectF(r.left() + side * 0.25, r.center().y() - 1, side * 0.5, 2), 1, mark);
        } else {
            drawCheckMark(p, r, mark);
        }
    } else {
        fillRounded(p, r, radius, pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Base));
        // Between text and base, so the empty box reads on light and dark backgrounds alike.
        const QColor idle =
            mix(pal.color(QPalette::Active, QPalette::Text), pal.color(QPalette::Active, QPalette::Base), 0.6);
        const QColor border = hover ? mix(idle, accent, 0.6) : idle;
        strokeRounded(p, r, radius, enabled ? border : pal.color(QPalette::Mid), 1.5);
    }
    // The ring stays inside the indicator: the label's focus frame is not drawn and outside may be clipped.
    if (keyboardFocus(o)) {
        if (on || partial) {
            strokeRounded(p, r.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1.5,
                          withAlpha(pal.color(QPalette::HighlightedText), 0.8), 1.5);
        } else {
            strokeRounded(p, r, radius, accent, 2);
        }
    }
}

} // namespace

void setButtonType(QAbstractButton* button, ButtonType type)
{
    if (!button) {
        return;
    }
    button->setProperty(buttonTypeProperty, int(type));
    button->update();
}

ButtonType buttonType(const QWidget* button)
{
    if (!button) {
        return ButtonType::Normal;
    }
    const QVariant v = button->property(buttonTypeProperty);
    const int type = v.isValid() ? v.toInt() : int(ButtonType::Normal);
    return type == int(ButtonType::Warning) || type == int(ButtonType::Recommended) ? ButtonType(type)
                                                                                    : ButtonType::Normal;
}

GlazeStyle::GlazeStyle() : QProxyStyle(QStringLiteral("Fusion"))
{
    setObjectName(QStringLiteral("glaze"));
}

QPalette GlazeStyle::standardPalette() const
{
    return TPalette(ThemeType::Light);
}

void GlazeStyle::polish(QWidget* widget)
{
    QProxyStyle::polish(widget);
    // Hover states are part of the look, and Qt only tracks them for widgets that ask for hover events.
    if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
        qobject_cast<QComboBox*>(widget) || qobject_cast<QScrollBar*>(widget) || qobject_cast<QHeaderView*>(widget)) {
        widget->setAttribute(Qt::WA_Hover);
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
        view->viewport()->setAttribute(Qt::WA_Hover);
    }
}

int GlazeStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    switch (metric) {
    case PM_ButtonMargin:
        return 16;
    case PM_ButtonDefaultIndicator:
    case PM_ButtonShiftHorizontal:
    case PM_ButtonShiftVertical:
        return 0;
    case PM_IndicatorWidth:
    case PM_IndicatorHeight:
    case PM_ExclusiveIndicatorWidth:
    case PM_ExclusiveIndicatorHeight:
        return 18;
    case PM_CheckBoxLabelSpacing:
    case PM_RadioButtonLabelSpacing:
        return 8;
    case PM_ScrollBarExtent:
        return 10;
    case PM_ScrollBarSliderMin:
        return 36;
    case PM_LayoutLeftMargin:
    case PM_LayoutTopMargin:
    case PM_LayoutRightMargin:
    case PM_LayoutBottomMargin:
        return 12;
    case PM_LayoutHorizontalSpacing:
    case PM_LayoutVerticalSpacing:
        return 8;
    case PM_HeaderMargin:
        return 8;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

int GlazeStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                          QStyleHintReturn* returnData) const
{
    switch (hint) {
    case SH_DialogButtonBox_ButtonsHaveIcons:
    case SH_EtchDisabledText:
    case SH_DitherDisabledText:
    case SH_ScrollBar_Transient:
        return 0;
    case SH_ItemView_ShowDecorationSelected:
        return 1;
    case SH_ToolTipLabel_Opacity:
        return 255;
    default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

QSize GlazeStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                   const QWidget* widget) const
{
    QSize s = QProxyStyle::sizeFromContents(type, option, size, widget);
    switch (type) {
    case CT_PushButton:
        if (const auto* b = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            s.setHeight(qMax(s.height(), ControlHeight));
            if (!b->text.isEmpty()) {
                s.setWidth(qMax(s.width(), 96));
            }
        }
        break;
    case CT_LineEdit:
    case CT_ComboBox:
        s.setHeight(qMax(s.height(), ControlHeight));
        break;
    case CT_HeaderSection:
        s.setHeight(qMax(s.height(), 34));
        break;
    default:
        break;
    }
    return s;
}

QRect GlazeStyle::subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const
{
    if (element == SE_LineEditContents) {
        if (const auto* f = qstyleoption_cast<const QStyleOptionFrame*>(option); f && f->lineWidth > 0) {
            return option->rect.adjusted(8, 1, -8, -1);
        }
    }
    return QProxyStyle::subElementRect(element, option, widget);
}

QRect GlazeStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sc,
                                 const QWidget* widget) const
{
    // Scroll bars have no arrow buttons: the whole length is track, and the slider is a pill on it.
    if (control == CC_ScrollBar) {
        if (const auto* sb = qstyleoption_cast<const QStyleOptionSlider*>(option)) {
            const QRect r = sb->rect;
            const bool horizontal = sb->orientation == Qt::Horizontal;
            const int length = horizontal ? r.width() : r.height();
            const int range = sb->maximum - sb->minimum;
            int sliderLength = length;
            if (range > 0) {
                sliderLength = int(qint64(sb->pageStep) * length / (qint64(range) + sb->pageStep));
                sliderLength =
                    qBound(qMin(length, pixelMetric(PM_ScrollBarSliderMin, sb, widget)), sliderLength, length);
            }
            const int start = sliderPositionFromValue(sb->minimum, sb->maximum, sb->sliderPosition,
                                                      length - sliderLength, sb->upsideDown);
            auto span = [&](int from, int len) {
                return horizontal ? QRect(r.x() + from, r.y(), len, r.height())
                                  : QRect(r.x(), r.y() + from, r.width(), len);
            };
            QRect result;
            switch (sc) {
            case SC_ScrollBarGroove:
                result = r;
                break;
            case SC_ScrollBarSlider:
                result = span(start, sliderLength);
                break;
            case SC_ScrollBarSubPage:
                result = span(0, start);
                break;
            case SC_ScrollBarAddPage:
                result = span(start + sliderLength, length - start - sliderLength);
                break;
            default:
                break; // no line buttons, no first/last buttons
            }
            return visualRect(sb->direction, r, result);
        }
    }
    return QProxyStyle::subControlRect(control, option, sc, widget);
}

void GlazeStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                               const QWidget* widget) const
{
    const QPalette& pal = option->palette;
    const bool enabled = option->state & State_Enabled;
    const QColor accent = pal.color(QPalette::Active, QPalette::Highlight);

    switch (element) {
    case PE_FrameFocusRect:
        // Controls draw their focus ring as part of their panel; only item views keep a separate mark.
        if (qobject_cast<const QAbstractItemView*>(widget)) {
            strokeRounded(painter, QRectF(option->rect), ControlRadius - 2, withAlpha(accent, 0.6), 1);
        }
        return;
    case PE_PanelButtonCommand: {
        const auto* b = qstyleoption_cast<const QStyleOptionButton*>(option);
        drawButtonPanel(painter, option, buttonType(widget), b && (b->features & QStyleOptionButton::Flat),
                        ControlRadius);
        return;
    }
    case PE_PanelButtonTool:
        if ((option->state & State_AutoRaise) && !(option->state & (State_MouseOver | State_Sunken | State_On))) {
            return;
        }
        drawButtonPanel(painter, option, ButtonType::Normal, option->state & State_AutoRaise, ControlRadius - 2);
        return;
    case PE_FrameDefaultButton:
    case PE_FrameButtonBevel:
        return;
    case PE_PanelLineEdit:
        if (const auto* f = qstyleoption_cast<const QStyleOptionFrame*>(option)) {
            fillRounded(painter, QRectF(option->rect), ControlRadius,
                        pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Base));
            if (f->lineWidth > 0) {
                drawPrimitive(PE_FrameLineEdit, option, painter, widget);
            }
            return;
        }
        break;
    case PE_FrameLineEdit: {
        const bool focus = enabled && (option->state & State_HasFocus);
        const bool hover = enabled && (option->state & State_MouseOver);
        QColor border = pal.color(QPalette::Mid);
        if (!enabled) {
            border = TPalette(TPalette::themeTypeOf(pal)).color(TPalette::FrameBorder);
        } else if (focus) {
            border = accent;
        } else if (hover) {
            border = mix(border, accent, 0.45);
        }
        strokeRounded(painter, QRectF(option->rect), ControlRadius, border, focus ? 2 : 1);
        return;
    }
    case PE_IndicatorCheckBox:
        drawIndicator(painter, option, false);
        return;
    case PE_IndicatorRadioButton:
        drawIndicator(painter, option, true);
        return;
    case PE_IndicatorItemViewItemCheck: {
        QStyleOptionButton button;
        button.QStyleOption::operator=(*option);
        button.state &= ~(State_MouseOver | State_HasFocus);
        drawIndicator(painter, &button, false);
        return;
    }
    case PE_PanelItemViewItem:
        if (const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option)) {
            const QRectF r = QRectF(option->rect).adjusted(1, 1, -1, -1);
            const TPalette tp(TPalette::themeTypeOf(pal));
            // Rows of a table join up; only standalone items get rounded corners.
            const bool row = item->viewItemPosition != QStyleOptionViewItem::Invalid &&
                             item->viewItemPosition != QStyleOptionViewItem::OnlyOne;
            const qreal radius = row ? 0 : ControlRadius - 2;
            if (item->backgroundBrush.style() != Qt::NoBrush) {
                fillRounded(painter, r, radius, item->backgroundBrush.color());
            }
            if (option->state & State_Selected) {
                fillRounded(painter, row ? QRectF(option->rect) : r, radius, withAlpha(accent, 0.16));
            } else if (enabled && (option->state & State_MouseOver)) {
                fillRounded(painter, row ? QRectF(option->rect) : r, radius, tp.color(TPalette::ItemBackgroundHover));
            }
            return;
        }
        break;
    case PE_Frame:
        strokeRounded(painter, QRectF(option->rect), ControlRadius,
                      TPalette(TPalette::themeTypeOf(pal)).color(TPalette::FrameBorder), 1);
        return;
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void GlazeStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const
{
    switch (element) {
    case CE_PushButtonBevel:
        if (const auto* b = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            drawButtonPanel(painter, option, buttonType(widget), b->features & QStyleOptionButton::Flat, ControlRadius);
            if (b->features & QStyleOptionButton::HasMenu) {
                const int mbi = pixelMetric(PM_MenuButtonIndicator, b, widget);
                const QRect r = b->rect;
                drawChevronDown(painter, QRectF(r.right() - mbi - 6, r.top(), mbi, r.height()),
                                buttonLook(option, buttonType(widget), false).text);
            }
            return;
        }
        break;
    case CE_PushButtonLabel:
        if (const auto* b = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            QStyleOptionButton copy(*b);
            copy.palette.setColor(QPalette::ButtonText,
                                  buttonLook(option, buttonType(widget), b->features & QStyleOptionButton::Flat).text);
            QProxyStyle::drawControl(element, &copy, painter, widget);
            return;
        }
        break;
    case CE_ItemViewItem:
        if (const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option)) {
            // Selection is a light tint of the accent, so selected text keeps the normal text colour.
            QStyleOptionViewItem copy(*item);
            copy.palette.setColor(QPalette::HighlightedText, item->palette.color(QPalette::Text));
            QProxyStyle::drawControl(element, &copy, painter, widget);
            return;
        }
        break;
    case CE_HeaderSection:
    case CE_HeaderEmptyArea: {
        const TPalette tp(TPalette::themeTypeOf(option->palette));
        const QRect r = option->rect;
        painter->fillRect(r, option->palette.color(QPalette::Base));
        painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), tp.color(TPalette::FrameBorder));
        if (element == CE_HeaderSection) {
            const auto* h = qstyleoption_cast<const QStyleOptionHeader*>(option);
            const bool last =
                h && (h->position == QStyleOptionHeader::End || h->position == QStyleOptionHeader::OnlyOneSection);
            if (!last) {
                painter->fillRect(QRect(r.right(), r.top() + 8, 1, r.height() - 16), tp.color(TPalette::FrameBorder));
            }
            if (option->state & State_MouseOver) {
                painter->fillRect(r.adjusted(0, 0, -1, -1), withAlpha(tp.color(TPalette::ItemBackgroundHover), 0.7));
            }
        }
        return;
    }
    default:
        break;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void GlazeStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                    const QWidget* widget) const
{
    const QPalette& pal = option->palette;
    switch (control) {
    case CC_ScrollBar:
        if (const auto* sb = qstyleoption_cast<const QStyleOptionSlider*>(option)) {
            if (sb->minimum == sb->maximum) {
                return;
            }
            const QRect slider = subControlRect(control, sb, SC_ScrollBarSlider, widget);
            const bool horizontal = sb->orientation == Qt::Horizontal;
            const bool active = sb->activeSubControls & SC_ScrollBarSlider;
            const bool pressed = active && (sb->state & State_Sunken);
            const bool hover = (sb->state & State_MouseOver);
            QColor c = pal.color(QPalette::WindowText);
            c.setAlphaF(pressed ? 0.55f : (hover ? 0.42f : 0.26f));
            const QRectF pill =
                horizontal ? QRectF(slider).adjusted(2, 2.5, -2, -2.5) : QRectF(slider).adjusted(2.5, 2, -2.5, -2);
            fillRounded(painter, pill, qMin(pill.width(), pill.height()) / 2, c);
            return;
        }
        break;
    case CC_ComboBox:
        if (const auto* cb = qstyleoption_cast<const QStyleOptionComboBox*>(option)) {
            const bool enabled = cb->state & State_Enabled;
            if (cb->editable) {
                fillRounded(painter, QRectF(cb->rect), ControlRadius,
                            pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Base));
                QStyleOptionFrame frame;
                frame.QStyleOption::operator=(*cb);
                frame.lineWidth = 1;
                drawPrimitive(PE_FrameLineEdit, &frame, painter, widget);
            } else if (cb->frame) {
                drawButtonPanel(painter, cb, ButtonType::Normal, false, ControlRadius);
            }
            const QRect arrow = subControlRect(CC_ComboBox, cb, SC_ComboBoxArrow, widget);
            drawChevronDown(painter, QRectF(arrow),
                            pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
            return;
        }
        break;
    default:
        break;
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

QStyle* createStyle(const QString& name)
{
    if (name.compare(QLatin1String("glaze"), Qt::CaseInsensitive) == 0) {
        return new GlazeStyle;
    }
    return QStyleFactory::create(name);
}

QStringList styleKeys()
{
    QStringList keys = QStyleFactory::keys();
    keys.append(QStringLiteral("Glaze"));
    return keys;
}

} // namespace Tessel::Widgets
