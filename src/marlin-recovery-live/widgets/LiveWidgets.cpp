#include "LiveWidgets.h"

#include <tessel/widgets/TIconButton.h>

namespace {

Tessel::Widgets::TIconButton* newCornerButton(const QString& icon, QWidget* parent)
{
    auto* button = new Tessel::Widgets::TIconButton(parent);
    button->setFixedSize(50, 50);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(50, 50));
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

namespace LiveWidgets {

Tessel::Widgets::TIconButton* newBackwardButton(QWidget* parent)
{
    Tessel::Widgets::TIconButton* button = newCornerButton(":/return.svg", parent);
    button->setAccessibleName("backwardButton");
    return button;
}

Tessel::Widgets::TIconButton* newCloseButton(QWidget* parent)
{
    return newCornerButton(":/close.svg", parent);
}

} // namespace LiveWidgets
