#include "LiveWidgets.h"

#include <tessel/widgets/TIconButton.h>

namespace LiveWidgets {

Tessel::Widgets::TIconButton* newBackwardButton(QWidget* parent)
{
    auto* button = new Tessel::Widgets::TIconButton(parent);
    button->setAccessibleName("backwardButton");
    button->setFixedSize(50, 50);
    button->setIcon(QIcon(":/return.svg"));
    button->setIconSize(QSize(50, 50));
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace LiveWidgets
