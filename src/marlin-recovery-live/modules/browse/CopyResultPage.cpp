#include "CopyResultPage.h"

#include "widgets/ItemFrame.h"

#include <tessel/widgets/TFontSizeManager.h>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

namespace {
const int IconSize = 96;
} // namespace

CopyResultPage::CopyResultPage(QWidget* parent)
    : QWidget(parent), m_iconLabel(new QLabel(this)), m_titleLabel(new QLabel(this)), m_messageLabel(new QLabel(this)),
      m_filesButton(new QPushButton(tr("Back to Files"), this)), m_homeButton(new QPushButton(tr("Done"), this))
{
    setAccessibleName("CopyResultPage");
    m_messageLabel->setObjectName("messageLabel");
    TFontSizeManager::instance()->bind(m_titleLabel, TFontSizeManager::T2);
    TFontSizeManager::instance()->bind(m_messageLabel, TFontSizeManager::T5);
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_messageLabel->setTextFormat(Qt::PlainText);
    for (QPushButton* button : {m_filesButton, m_homeButton}) {
        button->setMinimumSize(180, 36);
        button->setAutoDefault(true);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_filesButton);
    buttons->addWidget(m_homeButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(60, 20, 60, 20);
    layout->addStretch();
    layout->addWidget(m_iconLabel, 0, Qt::AlignCenter);
    layout->addWidget(m_titleLabel, 0, Qt::AlignCenter);
    layout->addWidget(m_messageLabel);
    layout->addStretch();
    layout->addLayout(buttons);
    setTabOrder(m_filesButton, m_homeButton);
    setFocusProxy(m_homeButton);

    connect(m_filesButton, &QPushButton::clicked, this, &CopyResultPage::backToFiles);
    connect(m_homeButton, &QPushButton::clicked, this, &CopyResultPage::home);
}

void CopyResultPage::showOutcome(bool success, const QString& title, const QString& message)
{
    m_success = success;
    m_iconLabel->setPixmap(
        ItemFrame::loadPixmap(success ? ":/success.svg" : ":/failed.svg", QSize(IconSize, IconSize)));
    m_titleLabel->setText(title);
    m_messageLabel->setText(message);
}

QString CopyResultPage::title() const
{
    return m_titleLabel->text();
}

QString CopyResultPage::message() const
{
    return m_messageLabel->text();
}

void CopyResultPage::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        emit backToFiles();
        return;
    }
    QWidget::keyPressEvent(event);
}
