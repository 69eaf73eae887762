#include "WorkingPage.h"

#include <tessel/widgets/TFontSizeManager.h>
#include <tessel/widgets/TWaterProgress.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

WorkingPage::WorkingPage(QWidget* parent)
    : QWidget(parent), m_progress(new TWaterProgress(this)),
      m_titleLabel(new QLabel(tr("Restoring your system, please wait..."), this)),
      m_tipLabel(new QLabel(tr("Do not remove your storage device, power off or unplug your machine"), this)),
      m_timeLeftLabel(new QLabel(this)), m_detailLabel(new QLabel(this)), m_cancelButton(new QPushButton(this))
{
    m_detailLabel->setObjectName("detailLabel");
    m_detailLabel->hide();
    m_cancelButton->setText(tr("Cancel"));
    m_cancelButton->setMinimumSize(160, 36);
    m_cancelButton->setAutoDefault(true);
    m_cancelButton->hide();
    connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        m_cancelButton->setEnabled(false);
        emit cancelRequested();
    });
    m_timeLeftLabel->setObjectName("timeLeftLabel");
    TFontSizeManager::instance()->bind(m_timeLeftLabel, TFontSizeManager::T5);
    // Its line stays reserved while empty, so nothing moves when the estimate appears.
    m_timeLeftLabel->setMinimumHeight(m_timeLeftLabel->fontMetrics().height());
    m_timeLeftLabel->setAlignment(Qt::AlignCenter);
    TFontSizeManager::instance()->bind(m_titleLabel, TFontSizeManager::T2);
    TFontSizeManager::instance()->bind(m_tipLabel, TFontSizeManager::T4);
    m_progress->setFixedSize(120, 120);
    auto* outer = new QVBoxLayout(this);
    auto* inner = new QVBoxLayout;
    inner->setContentsMargins(0, 0, 0, 0);
    inner->setSpacing(10);
    inner->addStretch();
    inner->addWidget(m_progress, 0, Qt::AlignHCenter);
    inner->addWidget(m_timeLeftLabel, 0, Qt::AlignHCenter);
    inner->addWidget(m_titleLabel, 0, Qt::AlignHCenter);
    inner->addWidget(m_tipLabel, 0, Qt::AlignHCenter);
    inner->addWidget(m_detailLabel, 0, Qt::AlignHCenter);
    inner->addStretch();
    inner->addWidget(m_cancelButton, 0, Qt::AlignHCenter);
    outer->addLayout(inner);
    m_progress->start();
    m_progress->setValue(1);
}

void WorkingPage::setTitle(const QString& text)
{
    if (!text.isEmpty()) {
        m_titleLabel->setText(text);
    }
}

void WorkingPage::setTip(const QString& text)
{
    if (!text.isEmpty()) {
        m_tipLabel->setText(text);
    }
}

QString WorkingPage::title() const
{
    return m_titleLabel->text();
}

QString WorkingPage::tip() const
{
    return m_tipLabel->text();
}

int WorkingPage::progressValue() const
{
    return m_progress->value();
}

QString WorkingPage::timeLeftText() const
{
    return m_timeLeftLabel->text();
}

void WorkingPage::setDetail(const QString& text)
{
    m_detailLabel->setText(text);
    m_detailLabel->setVisible(!text.isEmpty());
}

QString WorkingPage::detail() const
{
    return m_detailLabel->text();
}

void WorkingPage::setCancellable(bool cancellable)
{
    m_cancelButton->setVisible(cancellable);
    m_cancelButton->setEnabled(cancellable);
    setFocusProxy(cancellable ? m_cancelButton : nullptr);
}

void WorkingPage::restart()
{
    m_cancelButton->setEnabled(true);
    setDetail(QString());
    m_estimator.reset();
    m_progress->setValue(0);
    m_timeLeftLabel->clear();
}

void WorkingPage::setProgressValue(int value)
{
    m_progress->setValue(value);
    m_estimator.addProgress(value);
    m_timeLeftLabel->setText(TimeLeftEstimator::text(m_estimator.secondsLeft()));
}

void WorkingPage::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F4 && event->modifiers() == Qt::AltModifier) {
        QCoreApplication::quit();
    }
    QWidget::keyPressEvent(event);
}
