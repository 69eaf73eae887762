// A button that is only an icon: back, close, browse.
#pragma once

#include <QAbstractButton>

namespace Tessel::Widgets {

// The icon is centred at iconSize() (24 x 24 unless set). A flat button shows a round background only while
// hovered or pressed; a raised one always has a button-coloured round background with a border. Disabled
// buttons paint the icon's disabled form. sizeHint() is the icon size plus 8 px on each side.
class TIconButton : public QAbstractButton
{
    Q_OBJECT
    Q_PROPERTY(bool flat READ isFlat WRITE setFlat)

public:
    explicit TIconButton(QWidget* parent = nullptr);
    explicit TIconButton(const QIcon& icon, QWidget* parent = nullptr);

    void setFlat(bool flat);
    bool isFlat() const { return m_flat; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_flat = false;
};

} // namespace Tessel::Widgets
