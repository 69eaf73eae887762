#include "ItemFrame.h"

#include <tessel/widgets/TFontSizeManager.h>
#include <tessel/widgets/TLabel.h>

#include <QApplication>
#include <QDebug>
#include <QEvent>
#include <QHBoxLayout>
#include <QImageReader>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <cmath>

using namespace Tessel::Widgets;

namespace {
const int RadioSize = 20;
const int TitleHeight = 60;
const QList<int> KnownLayouts = {1001, 1002, 2001, 2002};
} // namespace

ItemFrame::ItemFrame(const QString& title, const QString& description, const QString& iconPath, QWidget* parent)
    : TFrame(parent), m_titleLabel(new TLabel(title, this)), m_descriptionLabel(new TLabel(description, this)),
      m_iconLabel(new TLabel(this)), m_checkLabel(new TLabel(this)),
      m_radioMark(loadPixmap(":/radio_button.svg", QSize(RadioSize, RadioSize)))
{
    setObjectName("ItemFrame");
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setAttribute(Qt::WA_Hover);
    setLineWidth(0);
    setBackgroundColorType(TPalette::ItemBackground);
    m_titleLabel->setFontSizeLevel(TFontSizeManager::T4);
    m_iconLabel->setAlignment(Qt::AlignCenter);
    m_checkLabel->setFixedSize(RadioSize, RadioSize);
    setIcon(iconPath, 96);
}

QString ItemFrame::title() const
{
    return m_titleLabel->text();
}

QPixmap ItemFrame::loadPixmap(const QString& path, const QSize& size)
{
    const qreal ratio = qApp->devicePixelRatio();
    QImageReader reader(path);
    if (!reader.canRead()) {
        return QPixmap(path);
    }
    reader.setScaledSize(QSize(int(std::lround(size.width() * ratio)), int(std::lround(size.height() * ratio))));
    QPixmap pixmap = QPixmap::fromImage(reader.read());
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

void ItemFrame::setIcon(const QString& iconPath, int size)
{
    m_iconLabel->setPixmap(loadPixmap(iconPath, QSize(size, size)));
}

void ItemFrame::setChecked(bool checked)
{
    m_checked = checked;
    if (checked) {
        m_checkLabel->setPixmap(m_radioMark);
        m_checkLabel->setVisible(true);
    } else {
        m_checkLabel->clear();
    }
}

void ItemFrame::initLayout()
{
    if (!KnownLayouts.contains(m_layoutType)) {
        qWarning().noquote() << "ItemFrame::initLayout, invalid layout, m_layout = " + QString::number(m_layoutType);
        return;
    }
    initTileLayout();
}

void ItemFrame::initTileLayout()
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    auto* checkRow = new QHBoxLayout;
    checkRow->addStretch();
    checkRow->addWidget(m_checkLabel, 0, Qt::AlignRight | Qt::AlignTop);
    layout->addLayout(checkRow);
    layout->addWidget(m_iconLabel, 0, Qt::AlignHCenter);
    layout->addSpacing(5);
    layout->addSpacing(-12);
    auto* textColumn = new QVBoxLayout;
    m_titleLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_titleLabel->setWordWrap(true);
    m_titleLabel->setFixedHeight(TitleHeight);
    m_descriptionLabel->setAlignment(Qt::AlignCenter);
    m_descriptionLabel->setWordWrap(true);
    m_descriptionLabel->hide();
    textColumn->addWidget(m_titleLabel);
    textColumn->addWidget(m_descriptionLabel);
    layout->addLayout(textColumn);
}

bool ItemFrame::event(QEvent* event)
{
    if (event->type() == QEvent::HoverEnter) {
        setBackgroundColorType(TPalette::ItemBackgroundHover);
    } else if (event->type() == QEvent::HoverLeave) {
        setBackgroundColorType(TPalette::ItemBackground);
    }
    return TFrame::event(event);
}

void ItemFrame::mousePressEvent(QMouseEvent* event)
{
    // Taking the press makes this tile the receiver of the release, where the choice is made.
    event->accept();
}

void ItemFrame::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_checked) {
        setChecked(true);
    }
    emit clicked(true);
    TFrame::mouseReleaseEvent(event);
}
