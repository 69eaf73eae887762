#include "RadioItem.h"

#include <tessel/widgets/TPalette.h>
#include <tessel/widgets/TTipLabel.h>

#include <QRadioButton>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

RadioItem::RadioItem(QWidget* parent)
    : SettingsItem(parent), m_radioButton(new QRadioButton), m_contentLayout(new QVBoxLayout), m_header(new QWidget),
      m_tipLabel(new TTipLabel)
{
    m_radioButton->setCheckable(true);
    m_radioButton->setMinimumSize(24, 24);

    // The content sits under the radio button's text; its own margins indent it.
    auto* headerLayout = new QVBoxLayout(m_header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(4);
    headerLayout->addWidget(m_radioButton, 0, Qt::AlignVCenter);
    headerLayout->addLayout(m_contentLayout);

    m_tipLabel->setVisible(false);
    m_tipLabel->setWordWrap(true);
    m_tipLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // Never taller than the contents: spare room in the page goes below the group.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 6, 10, 6);
    layout->addWidget(m_header);
    layout->addWidget(m_tipLabel);
}

void RadioItem::setText(const QString& text)
{
    m_radioButton->setText(text);
}

QString RadioItem::text() const
{
    return m_radioButton->text();
}

void RadioItem::setTipText(const QString& text)
{
    m_tipLabel->setText(text);
}

QString RadioItem::tipText() const
{
    return m_tipLabel->text();
}

bool RadioItem::isChecked() const
{
    return m_radioButton->isChecked();
}

void RadioItem::setChecked(bool checked)
{
    m_radioButton->setChecked(checked);
    if (m_contentWidget) {
        m_contentWidget->setEnabled(checked);
    }
}

void RadioItem::setContentWidget(QWidget* widget)
{
    if (m_contentWidget && m_contentWidget != widget) {
        m_contentLayout->removeWidget(m_contentWidget);
        m_contentWidget->hide();
        m_contentWidget->setParent(nullptr);
        disconnect(m_radioButton, nullptr, m_contentWidget, nullptr);
    }
    m_contentWidget = widget;
    if (widget == nullptr) {
        return;
    }
    connect(m_radioButton, &QRadioButton::toggled, widget, &QWidget::setEnabled, Qt::UniqueConnection);
    widget->setEnabled(m_radioButton->isChecked());
    if (m_contentLayout->indexOf(widget) < 0) {
        m_contentLayout->addWidget(widget);
    }
}

void RadioItem::setTipVisible(bool visible)
{
    m_header->setVisible(visible);
    m_tipLabel->setVisible(!visible);
}
