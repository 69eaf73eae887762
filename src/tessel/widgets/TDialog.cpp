#include "TDialog.h"

#include "GlazeStyle.h"
#include "TApplication.h"
#include "TIconButton.h"
#include "TLabel.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace Tessel::Widgets {

namespace {
constexpr int iconSide = 48;
constexpr int narrowest = 380;
constexpr int widest = 520;
} // namespace

TDialog::TDialog(QWidget* parent) : TDialog(QString(), QString(), parent) {}

TDialog::TDialog(const QString& title, const QString& message, QWidget* parent)
    : QDialog(parent), m_iconLabel(new TLabel(this)), m_titleLabel(new TLabel(this)), m_messageLabel(new TLabel(this)),
      m_closeButton(new TIconButton(QIcon(QStringLiteral(":/tessel/icons/window-close.svg")), this)),
      m_buttonLayout(new QHBoxLayout)
{
    setWindowFlag(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setModal(true);
    if (const TApplication* app = TApplication::instance(); app && !app->productIcon().isNull()) {
        setWindowIcon(app->productIcon());
    }

    m_closeButton->setFlat(true);
    m_closeButton->setIconSize(QSize(16, 16));
    m_closeButton->setFixedSize(32, 32);
    m_closeButton->setFocusPolicy(Qt::NoFocus);
    m_closeButton->setAccessibleName(QStringLiteral("TDialog_closeButton"));
    connect(m_closeButton, &QAbstractButton::clicked, this, &TDialog::reject);

    m_iconLabel->setFixedSize(iconSide, iconSide);
    m_iconLabel->setAlignment(Qt::AlignCenter);
    m_iconLabel->hide();

    TFontSizeManager::instance()->bind(m_titleLabel, TFontSizeManager::T5, QFont::DemiBold);
    m_titleLabel->setForegroundColorType(TPalette::TextTitle);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setWordWrap(true);
    m_titleLabel->setTextFormat(Qt::PlainText);
    m_titleLabel->hide();

    m_messageLabel->setFontSizeLevel(TFontSizeManager::T6);
    m_messageLabel->setAlignment(Qt::AlignCenter);
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setTextFormat(Qt::PlainText);
    m_messageLabel->setTextInteractionFlags(Qt::NoTextInteraction);
    m_messageLabel->hide();

    m_buttonLayout->setContentsMargins(0, 0, 0, 0);
    m_buttonLayout->setSpacing(10);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 24);
    layout->setSpacing(0);
    layout->addWidget(m_iconLabel, 0, Qt::AlignHCenter);
    layout->addSpacing(14);
    layout->addWidget(m_titleLabel);
    layout->addSpacing(8);
    layout->addWidget(m_messageLabel);
    layout->addSpacing(24);
    layout->addLayout(m_buttonLayout);

    setTitle(title);
    setMessage(message);
}

void TDialog::setTitle(const QString& title)
{
    m_titleLabel->setText(title);
    m_titleLabel->setVisible(!title.isEmpty());
    setWindowTitle(title);
}

QString TDialog::title() const
{
    return m_titleLabel->text();
}

void TDialog::setMessage(const QString& message)
{
    m_messageLabel->setText(message);
    m_messageLabel->setVisible(!message.isEmpty());
}

QString TDialog::message() const
{
    return m_messageLabel->text();
}

void TDialog::setIcon(const QIcon& icon)
{
    m_icon = icon;
    updateIcon();
}

void TDialog::setIcon(const QString& fileName)
{
    setIcon(QIcon(fileName));
}

void TDialog::updateIcon()
{
    const bool visible = !m_icon.isNull();
    m_iconLabel->setVisible(visible);
    if (visible) {
        m_iconLabel->setPixmap(m_icon.pixmap(QSize(iconSide, iconSide), devicePixelRatioF()));
    } else {
        m_iconLabel->clear();
    }
}

int TDialog::addButton(const QString& text, bool isDefault, ButtonType type)
{
    auto* button = new QPushButton(text, this);
    button->setMinimumSize(96, GlazeStyle::ControlHeight);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    switch (type) {
    case ButtonWarning:
        setButtonType(button, Tessel::Widgets::ButtonType::Warning);
        break;
    case ButtonRecommend:
        setButtonType(button, Tessel::Widgets::ButtonType::Recommended);
        break;
    case ButtonNormal:
        break;
    }
    connect(button, &QPushButton::clicked, this, [this, button] { onButtonClicked(button); });
    m_buttons.append(button);
    m_buttonLayout->addWidget(button, 1);
    const int index = int(m_buttons.size()) - 1;
    if (isDefault) {
        setDefaultButton(index);
    }
    return index;
}

void TDialog::addButtons(const QStringList& texts)
{
    for (const QString& text : texts) {
        addButton(text);
    }
}

QAbstractButton* TDialog::getButton(int index) const
{
    return index >= 0 && index < m_buttons.size() ? m_buttons.at(index) : nullptr;
}

void TDialog::setDefaultButton(int index)
{
    for (int i = 0; i < m_buttons.size(); ++i) {
        m_buttons.at(i)->setDefault(i == index);
    }
    if (index >= 0 && index < m_buttons.size()) {
        m_buttons.at(index)->setFocus();
    }
}

void TDialog::clearButtons()
{
    for (QPushButton* button : std::as_const(m_buttons)) {
        m_buttonLayout->removeWidget(button);
        button->deleteLater();
    }
    m_buttons.clear();
}

void TDialog::setCloseButtonVisible(bool visible)
{
    m_closeButton->setVisible(visible);
}

bool TDialog::closeButtonVisible() const
{
    return !m_closeButton->isHidden();
}

void TDialog::setOnButtonClickedClose(bool close)
{
    m_closeOnButton = close;
}

void TDialog::onButtonClicked(QPushButton* button)
{
    const int index = int(m_buttons.indexOf(button));
    if (index < 0) {
        return;
    }
    emit buttonClicked(index, button->text());
    if (m_closeOnButton) {
        done(index);
    }
}

void TDialog::reject()
{
    done(-1);
}

void TDialog::ensureSize()
{
    // Fit the width to the buttons and the height to the text; resize() keeps a fixed size set by the caller.
    layout()->activate();
    const QMargins m = layout()->contentsMargins();
    int width = narrowest;
    width = qMax(width, m_buttonLayout->minimumSize().width() + m.left() + m.right());
    width = qMin(width, widest);
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width) : sizeHint().height();
    resize(width, qMax(height, layout()->totalMinimumSize().height()));
}

void TDialog::moveToCenter()
{
    ensureSize();
    QRect area;
    if (QWidget* p = parentWidget()) {
        area = QRect(p->mapToGlobal(QPoint(0, 0)), p->size());
    } else if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        QRect r(QPoint(0, 0), size());
        r.moveCenter(area.center());
        move(r.topLeft());
    }
}

void TDialog::showEvent(QShowEvent* event)
{
    ensureSize();
    updateIcon();
    for (QPushButton* button : std::as_const(m_buttons)) {
        if (button->isDefault()) {
            button->setFocus();
        }
    }
    QDialog::showEvent(event);
}

void TDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    m_closeButton->move(width() - m_closeButton->width() - 8, 8);
    m_closeButton->raise();
}

void TDialog::paintEvent(QPaintEvent*)
{
    const TPalette tp = TPalette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(tp.color(TPalette::FrameBorder), 1));
    p.setBrush(palette().color(QPalette::Base));
    const qreal r = GlazeStyle::PanelRadius;
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), r, r);
}

void TDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    QDialog::mousePressEvent(event);
}

void TDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
    }
    QDialog::mouseMoveEvent(event);
}

void TDialog::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

} // namespace Tessel::Widgets
