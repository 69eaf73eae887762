// The toolkit's application object: glaze style, toolkit palette and fonts from the start, single-instance support.
#pragma once

#include "TPalette.h"

#include <QApplication>
#include <QIcon>

#include <memory>

class QLockFile;
class QStyle;

namespace Tessel::Widgets {

// On construction the application gets the glaze style, the light toolkit palette, a 14 px (T6) application font,
// and the toolkit's icons as fallbacks for theme icons: QIcon::fromTheme("dialog-warning") and ("ivy-recovery")
// find one even where no icon theme is installed (with no theme named by the platform, "hicolor" is named).
//
// Styles: app.setStyle("glaze") (this class's overload) installs a fresh glaze style. The base-qualified
// QApplication::setStyle("glaze") goes through QStyleFactory, which has no glaze plugin: it returns null and
// changes nothing, which leaves the glaze style installed here in place.
class TApplication : public QApplication
{
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // The running TApplication, or null when the application object is something else.
    static TApplication* instance();

    // Makes this process the only one of the user holding key: true when it now holds the key (also when it held
    // it already), false while another live process holds it. The lock is a QLockFile under the runtime directory
    // ($XDG_RUNTIME_DIR, else /run/user/<uid>, else the temporary directory); a lock left behind by a process that
    // died is taken over. Taking another key releases the one held before. The lock is released on destruction.
    bool setSingleInstance(const QString& key);
    void releaseSingleInstance();
    // Where the lock for key lives.
    static QString singleInstanceLockPath(const QString& key);

    // Installs the toolkit palette of that theme type for the whole application.
    void setThemeType(ThemeType type);
    ThemeType themeType() const { return m_themeType; }

    // The icon that stands for the product; TDialogs created afterwards take it as their window icon.
    void setProductIcon(const QIcon& icon);
    QIcon productIcon() const { return m_productIcon; }

    // Knows "glaze" besides QStyleFactory's names; null (and no change) for an unknown name. The QStyle* overload
    // is QApplication's.
    static QStyle* setStyle(const QString& name);
    using QApplication::setStyle;

signals:
    void themeTypeChanged(Tessel::Widgets::ThemeType type);

private:
    std::unique_ptr<QLockFile> m_instanceLock;
    QString m_instanceKey;
    ThemeType m_themeType = ThemeType::Light;
    QIcon m_productIcon;
};

} // namespace Tessel::Widgets
