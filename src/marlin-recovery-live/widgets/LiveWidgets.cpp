#include "LiveWidgets.h"

#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TIconButton.h>

#include <QCoreApplication>

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

bool confirm(QWidget* parent, const QString& title, const QString& message, const QString& confirmText)
{
    Tessel::Widgets::TDialog dialog(parent);
    dialog.setIcon(QIcon::fromTheme("dialog-warning", QIcon(":/warning.svg")));
    // The live session has no window manager to place or raise the dialog.
    dialog.setWindowFlag(Qt::BypassWindowManagerHint);
    dialog.setTitle(title);
    // Sized by the dialog itself to its wrapped texts.
    dialog.setMessage(message);
    dialog.addButton(QCoreApplication::translate("LiveWidgets", "Cancel"));
    const int goOn = dialog.addButton(confirmText, true, Tessel::Widgets::TDialog::ButtonWarning);
    dialog.moveToCenter();
    return dialog.exec() == goOn;
}

} // namespace LiveWidgets
