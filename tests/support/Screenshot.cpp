#include "Screenshot.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace GuiTest {

bool saveScreenshot(QWidget* widget, const QString& name, QWidget* dialog)
{
    const QString dir = qEnvironmentVariable("SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        return true;
    }
    QCoreApplication::processEvents();
    QWidget* window = widget->window();
    QImage image = window->grab().toImage();
    if (dialog != nullptr && dialog != window) {
        QPainter(&image).drawPixmap(window->mapFromGlobal(dialog->mapToGlobal(QPoint(0, 0))), dialog->grab());
    }
    return image.save(dir + "/" + name + ".png");
}

} // namespace GuiTest
