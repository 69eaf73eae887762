#include "EndPage.h"

#include "ItemFrame.h"

#include <core/command.h>
#include <tessel/widgets/GlazeStyle.h>
#include <tessel/widgets/TFontSizeManager.h>

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

using namespace Tessel::Widgets;

namespace {
const int IconSize = 128;
const int MinMessageHeight = 100;
const double MessageWidthFactor = 0.606;
} // namespace

EndPage::EndPage(int state, QWidget* parent)
    : QWidget(parent), m_state(state), m_iconLabel(new QLabel(this)), m_titleLabel(new QLabel(this)),
      m_messageLabel(new QLabel(this)), m_actionButton(new QPushButton(this))
{
    // The main window sends Back on this page straight to the first page.
    setAccessibleDescription("ResultWidget");
    m_messageLabel->setObjectName("messageLabel");
    TFontSizeManager::instance()->bind(m_titleLabel, TFontSizeManager::T2);
    TFontSizeManager::instance()->bind(m_messageLabel, TFontSizeManager::T4);
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_actionButton->setFixedSize(220, 40);
    setButtonType(m_actionButton, ButtonType::Recommended);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(m_iconLabel, 0, Qt::AlignCenter);
    layout->addWidget(m_titleLabel, 0, Qt::AlignCenter);
    layout->addWidget(m_messageLabel, 0, Qt::AlignCenter);
    layout->addStretch();
    layout->addWidget(m_actionButton, 0, Qt::AlignCenter);
    layout->addSpacing(20);

    setState(state);
    connect(m_actionButton, &QPushButton::clicked, this, &EndPage::onActionClicked);
}

QString EndPage::iconPath() const
{
    if (m_state == Success) {
        return ":/success.svg";
    }
    return m_state == Failure ? ":/failed.svg" : ":/warning.svg";
}

void EndPage::setState(int state)
{
    m_state = state;
    m_iconLabel->setPixmap(ItemFrame::loadPixmap(iconPath(), QSize(IconSize, IconSize)));
}

void EndPage::setTitle(const QString& text)
{
    m_titleLabel->setText(text);
}

void EndPage::setMessage(const QString& text)
{
    m_messageLabel->setText(text);
}

void EndPage::setButtonText(const QString& text)
{
    m_actionButton->setText(text);
}

QString EndPage::title() const
{
    return m_titleLabel->text();
}

QString EndPage::message() const
{
    return m_messageLabel->text();
}

void EndPage::resizeEvent(QResizeEvent* event)
{
    const int width = int(this->width() * MessageWidthFactor);
    m_messageLabel->setFixedWidth(width);
    m_messageLabel->setFixedHeight(std::max(m_messageLabel->heightForWidth(width), MinMessageHeight));
    QWidget::resizeEvent(event);
}

void EndPage::onActionClicked()
{
    if (m_state == Failure) {
        SpawnCmd("sudo", {"poweroff"});
        return;
    }
    SpawnCmd("sudo", {"reboot", "-f"});
}
