#include "TButtonBox.h"

#include "GlazeStyle.h"
#include "TPalette.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QPainter>
#include <QStyleOption>

namespace Tessel::Widgets {

namespace {
constexpr int trackPadding = 3;
constexpr int segmentHeight = 30;
} // namespace

TButtonBoxButton::TButtonBoxButton(const QString& text, QWidget* parent) : TButtonBoxButton(QIcon(), text, parent) {}

TButtonBoxButton::TButtonBoxButton(const QIcon& icon, const QString& text, QWidget* parent) : QAbstractButton(parent)
{
    setIcon(icon);
    setText(text);
    setIconSize(QSize(16, 16));
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
}

QSize TButtonBoxButton::sizeHint() const
{
    const QFontMetrics fm(font());
    int width = 32;
    if (!icon().isNull()) {
        width += iconSize().width();
    }
    if (!text().isEmpty()) {
        width += fm.horizontalAdvance(text()) + (icon().isNull() ? 0 : 6);
    }
    return QSize(qMax(width, 64), segmentHeight);
}

QSize TButtonBoxButton::minimumSizeHint() const
{
    return sizeHint();
}

void TButtonBoxButton::paintEvent(QPaintEvent*)
{
    QStyleOption option;
    option.initFrom(this);
    const QPalette& pal = palette();
    const bool enabled = isEnabled();
    const bool hover = enabled && underMouse();
    const QColor accent = pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect());
    const qreal radius = GlazeStyle::ControlRadius - 2;
    QColor textColor = pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
    if (isChecked()) {
        p.setPen(Qt::NoPen);
        p.setBrush(isDown() ? accent.darker(115) : accent);
        p.drawRoundedRect(r, radius, radius);
        textColor = pal.color(QPalette::HighlightedText);
    } else if (hover || isDown()) {
        QColor fill = accent;
        fill.setAlphaF(isDown() ? 0.18f : 0.09f);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(r, radius, radius);
    }
    if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange)) {
        p.setPen(QPen(isChecked() ? pal.color(QPalette::HighlightedText) : accent, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1, radius - 1);
    }

    const QFontMetrics fm(font());
    const int textWidth = text().isEmpty() ? 0 : fm.horizontalAdvance(text());
    const int iconWidth = icon().isNull() ? 0 : iconSize().width();
    const int gap = iconWidth > 0 && textWidth > 0 ? 6 : 0;
    int x = (width() - (iconWidth + gap + textWidth)) / 2;
    if (iconWidth > 0) {
        const QRect iconRect(x, (height() - iconSize().height()) / 2, iconWidth, iconSize().height());
        icon().paint(&p, iconRect, Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
        x += iconWidth + gap;
    }
    if (textWidth > 0) {
        p.setPen(textColor);
        p.drawText(QRect(x, 0, textWidth, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
}

TButtonBox::TButtonBox(QWidget* parent)
    : QWidget(parent), m_layout(new QBoxLayout(QBoxLayout::LeftToRight, this)), m_group(new QButtonGroup(this))
{
    m_layout->setContentsMargins(trackPadding, trackPadding, trackPadding, trackPadding);
    m_layout->setSpacing(2);
    connect(m_group, &QButtonGroup::buttonClicked, this, &TButtonBox::buttonClicked);
    connect(m_group, &QButtonGroup::buttonPressed, this, &TButtonBox::buttonPressed);
    connect(m_group, &QButtonGroup::buttonReleased, this, &TButtonBox::buttonReleased);
    connect(m_group, &QButtonGroup::buttonToggled, this, &TButtonBox::buttonToggled);
}

void TButtonBox::setOrientation(Qt::Orientation orientation)
{
    m_layout->setDirection(orientation == Qt::Horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
}

Qt::Orientation TButtonBox::orientation() const
{
    return m_layout->direction() == QBoxLayout::LeftToRight ? Qt::Horizontal : Qt::Vertical;
}

void TButtonBox::setButtonList(const QList<QAbstractButton*>& list, bool checkable)
{
    for (QAbstractButton* old : std::as_const(m_buttons)) {
        if (!list.contains(old)) {
            m_group->removeButton(old);
            m_layout->removeWidget(old);
            old->deleteLater();
        }
    }
    m_buttons = list;
    m_group->setExclusive(checkable);
    for (int i = 0; i < list.size(); ++i) {
        QAbstractButton* button = list.at(i);
        m_group->removeButton(button);
        button->setParent(this);
        button->setCheckable(checkable);
        m_group->addButton(button, i);
        m_layout->addWidget(button);
        button->show();
    }
}

QAbstractButton* TButtonBox::button(int id) const
{
    return m_group->button(id);
}

int TButtonBox::id(QAbstractButton* button) const
{
    return m_buttons.contains(button) ? m_group->id(button) : -1;
}

QAbstractButton* TButtonBox::checkedButton() const
{
    return m_group->checkedButton();
}

int TButtonBox::checkedId() const
{
    return m_group->checkedId();
}

void TButtonBox::paintEvent(QPaintEvent*)
{
    const QPalette& pal = palette();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(pal.color(QPalette::Mid), 1));
    p.setBrush(pal.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Button));
    const qreal radius = GlazeStyle::ControlRadius;
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

} // namespace Tessel::Widgets
