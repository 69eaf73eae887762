#include "RestoreDiskConfirmPage.h"

#include "RestoreDiskChooser.h"

#include <tessel/widgets/TFontSizeManager.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using Tessel::Widgets::TFontSizeManager;

RestoreDiskConfirmPage::RestoreDiskConfirmPage(QWidget* parent)
    : QWidget(parent), m_title(new QLabel(tr("Replace everything on this disk?"), this)), m_message(new QLabel(this)),
      m_cancel(new QPushButton(tr("Cancel"), this)), m_restore(new QPushButton(tr("Restore"), this))
{
    TFontSizeManager::instance()->bind(m_title, TFontSizeManager::T3);
    m_message->setWordWrap(true);
    m_message->setFixedWidth(560);
    for (QPushButton* button : {m_cancel, m_restore}) {
        button->setFixedSize(200, 40);
    }
    // Nothing is written by a stray Enter: the safe answer is the default.
    m_cancel->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addSpacing(20);
    buttons->addWidget(m_restore);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(m_title, 0, Qt::AlignHCenter);
    layout->addSpacing(10);
    layout->addWidget(m_message, 0, Qt::AlignHCenter);
    layout->addStretch();
    layout->addLayout(buttons);
    layout->addSpacing(20);

    connect(m_restore, &QPushButton::clicked, this, &RestoreDiskConfirmPage::confirmed);
    connect(m_cancel, &QPushButton::clicked, this, &RestoreDiskConfirmPage::cancelled);
}

void RestoreDiskConfirmPage::setDisk(const QJsonObject& disk, bool keepSize)
{
    m_disk = disk;
    m_keepSize = keepSize;
    const QString size = keepSize ? tr("The partitions keep the sizes they had at the backup.")
                                  : tr("The last partition grows to fill the disk.");
    m_message->setText(tr("The backup will be written onto this disk:\n%1\n\nEverything on it will be replaced by the "
                          "backup and cannot be recovered. %2")
                           .arg(RestoreDiskChooser::describe(disk), size));
    m_cancel->setFocus();
}
