#include "SettingsGroup.h"

#include <tessel/widgets/TBackgroundGroup.h>

#include <QEvent>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

SettingsGroup::SettingsGroup(QWidget* parent, BackgroundStyle style)
    : QFrame(parent), m_itemLayout(new QVBoxLayout), m_style(style)
{
    m_itemLayout->setSpacing(10);
    m_itemLayout->setContentsMargins(0, 0, 0, 0);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    if (style == GroupBackground) {
        m_backgroundGroup = new TBackgroundGroup(m_itemLayout);
        m_backgroundGroup->setBackgroundColorType(TPalette::ItemBackground);
        m_backgroundGroup->setItemSpacing(1);
        m_backgroundGroup->setUseWidgetBackground(false);
        outer->addWidget(m_backgroundGroup);
    } else {
        outer->addLayout(m_itemLayout);
    }
}

void SettingsGroup::appendItem(QWidget* item)
{
    insertItem(m_itemLayout->count(), item);
}

void SettingsGroup::insertItem(int index, QWidget* item)
{
    m_itemLayout->insertWidget(index, item);
    item->installEventFilter(this);
    if (m_style == ItemBackground) {
        item->update();
    }
}

void SettingsGroup::removeItem(QWidget* item)
{
    m_itemLayout->removeWidget(item);
    item->removeEventFilter(this);
}

void SettingsGroup::moveItem(QWidget* item, int index)
{
    const int current = m_itemLayout->indexOf(item);
    if (current < 0 || current == index) {
        return;
    }
    m_itemLayout->removeWidget(item);
    m_itemLayout->insertWidget(index, item);
}

void SettingsGroup::setSpacing(int spacing)
{
    m_itemLayout->setSpacing(spacing);
    if (m_backgroundGroup != nullptr) {
        m_backgroundGroup->setItemSpacing(spacing);
    }
}

int SettingsGroup::itemCount() const
{
    return m_itemLayout->count();
}

QWidget* SettingsGroup::getItem(int index) const
{
    if (index < 0 || index >= itemCount()) {
        return nullptr;
    }
    return m_itemLayout->itemAt(index)->widget();
}

void SettingsGroup::clear()
{
    while (QLayoutItem* entry = m_itemLayout->takeAt(0)) {
        if (QWidget* item = entry->widget()) {
            item->removeEventFilter(this);
            item->hide();
            item->setParent(nullptr);
            item->deleteLater();
        }
        delete entry;
    }
}

bool SettingsGroup::eventFilter(QObject* watched, QEvent* event)
{
    // Items that appear or vanish change which ones get the rounded outer corners.
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
        if (m_backgroundGroup != nullptr) {
            m_backgroundGroup->update();
        }
    }
    return QFrame::eventFilter(watched, event);
}
