// Groups rows (settings items, options) on one rounded background, separated by thin gaps.
#pragma once

#include "TPalette.h"

#include <QMargins>
#include <QWidget>

class QLayout;

namespace Tessel::Widgets {

// Takes a box layout of items and paints a background behind each laid-out item: the first and last get the
// group's rounded outer corners, the ones between square corners, and the item spacing (1 px to start with) lets
// the page show through as separators. Items are expected not to paint a background of their own
// (useWidgetBackground() false); with it true the group paints nothing and items draw their own.
class TBackgroundGroup : public QWidget
{
    Q_OBJECT

public:
    // The layout becomes the group's layout (a vertical box layout when null).
    explicit TBackgroundGroup(QLayout* layout = nullptr, QWidget* parent = nullptr);

    void setItemSpacing(int spacing);
    int itemSpacing() const;

    void setItemMargins(const QMargins& margins); // the layout's contents margins
    QMargins itemMargins() const;

    // The items' background colour; starts at TPalette::ItemBackground.
    void setBackgroundColorType(TPalette::ColorType type);
    TPalette::ColorType backgroundColorType() const { return m_backgroundType; }

    void setUseWidgetBackground(bool use);
    bool useWidgetBackground() const { return m_useWidgetBackground; }

    void setRadius(int radius); // starts at GlazeStyle::ControlRadius
    int radius() const { return m_radius; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    TPalette::ColorType m_backgroundType = TPalette::ItemBackground;
    int m_radius;
    bool m_useWidgetBackground = false;
};

} // namespace Tessel::Widgets
