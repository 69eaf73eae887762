#include "WorkingPage.h"

#include <tessel/widgets/TFontSizeManager.h>
#include <tessel/widgets/TWaterProgress.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

WorkingPage::WorkingPage(QWidget* parent)
    : QWidget(parent), m_progress(new TWaterProgress(this)),
      m_titleLabel(new QLabel(tr("Restoring your system, please wait..."), this)),
      m_tipLabel(new QLabel(tr("Do not remove your storage device, power off or unplug your machine"), this)),
      m_timeLeftLabel(new QLabel(this))
{
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
    inner->addStretch();
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

void WorkingPage::restart()
{
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
