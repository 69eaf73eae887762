#pragma once

class QString;
class QWidget;

namespace GuiTest {

// Saves the widget's window as NAME.png in $SCREENSHOT_DIR, with a dialog painted where it stands over the window
// (a dialog is a window of its own). Without SCREENSHOT_DIR it saves nothing and answers true.
bool saveScreenshot(QWidget* widget, const QString& name, QWidget* dialog = nullptr);

} // namespace GuiTest
