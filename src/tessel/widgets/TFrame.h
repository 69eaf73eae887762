// A rounded panel: the surface pages and tiles are laid out on.
#pragma once

#include "TPalette.h"

#include <QFrame>

namespace Tessel::Widgets {

// Paints a rounded rectangle in its background colour and, when lineWidth() > 0, a border of that width in the
// palette's frame border colour. The background is the palette's Window colour unless a toolkit colour type is
// chosen (TPalette::ItemBackground for tiles, for example); TPalette::NoType goes back to Window. The frame shape
// and shadow of QFrame are not drawn. Line width starts at 0.
class TFrame : public QFrame
{
    Q_OBJECT

public:
    explicit TFrame(QWidget* parent = nullptr);

    void setBackgroundColorType(TPalette::ColorType type);
    TPalette::ColorType backgroundColorType() const { return m_backgroundType; }

    // Corner radius in pixels; 0 draws square corners. Starts at GlazeStyle::PanelRadius.
    void setRadius(int radius);
    int radius() const { return m_radius; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TPalette::ColorType m_backgroundType = TPalette::NoType;
    int m_radius;
};

} // namespace Tessel::Widgets
