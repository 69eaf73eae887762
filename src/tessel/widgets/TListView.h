// A QListView that lays out items of one fixed size on rounded backgrounds: the home page's tiles.
#pragma once

#include "TPalette.h"

#include <QListView>

namespace Tessel::Widgets {

// Starts frameless with a transparent viewport, so items sit directly on the page. Each item is painted on a
// rounded background of the item background colour (hover and selection tint it), with its icon and text centred;
// text that does not fit is elided as textElideMode() says. An item given a widget with setIndexWidget() is
// that widget alone: nothing is painted behind it.
class TListView : public QListView
{
    Q_OBJECT

public:
    explicit TListView(QWidget* parent = nullptr);

    // Size of every item; an invalid size (the default) lets each item ask the delegate as usual.
    void setItemSize(const QSize& size);
    QSize itemSize() const { return m_itemSize; }

    // Corner radius of the item backgrounds; 0 paints square ones. Starts at GlazeStyle::ControlRadius.
    void setItemRadius(int radius);
    int itemRadius() const { return m_itemRadius; }

    // Whether items get a background at all; TPalette::NoType paints none. Starts at TPalette::ItemBackground.
    void setItemBackgroundType(TPalette::ColorType type);
    TPalette::ColorType itemBackgroundType() const { return m_backgroundType; }

    // Public here, protected in QAbstractScrollArea.
    using QListView::setViewportMargins;

private:
    QSize m_itemSize;
    int m_itemRadius;
    TPalette::ColorType m_backgroundType = TPalette::ItemBackground;
};

} // namespace Tessel::Widgets
