#pragma once

// Small pieces several pages of the live program build the same way.

class QString;
class QWidget;

namespace Tessel::Widgets {
class TIconButton;
}

namespace LiveWidgets {

// The back arrow in a page's top-left corner and the close cross in its top-right one: 50 x 50, flat, never take
// the focus.
Tessel::Widgets::TIconButton* newBackwardButton(QWidget* parent = nullptr);
Tessel::Widgets::TIconButton* newCloseButton(QWidget* parent = nullptr);

// A warning dialog with "Cancel" and a button that goes on (confirmText); true when the person went on.
bool confirm(QWidget* parent, const QString& title, const QString& message, const QString& confirmText);

} // namespace LiveWidgets
