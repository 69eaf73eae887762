#include "TApplication.h"

#include "GlazeStyle.h"
#include "TFontSizeManager.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

#include <unistd.h>

namespace Tessel::Widgets {

namespace {

QString runtimeDirectory()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && QFileInfo(xdg).isDir() && QFileInfo(xdg).isWritable()) {
        return xdg;
    }
    const QString run = QStringLiteral("/run/user/%1").arg(::getuid());
    if (QFileInfo(run).isDir() && QFileInfo(run).isWritable()) {
        return run;
    }
    return QDir::tempPath();
}

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    QApplication::setStyle(new GlazeStyle);
    setPalette(TPalette(m_themeType));

    QFont font = QApplication::font();
    font.setPixelSize(TFontSizeManager::fontPixelSize(TFontSizeManager::T6));
    setFont(font);

    // Fallback icons are only consulted for a named theme; without any (no desktop platform theme) use the
    // freedesktop base theme, which every icon theme inherits from.
    if (QIcon::themeName().isEmpty()) {
        QIcon::setThemeName(QStringLiteral("hicolor"));
    }
    QStringList fallback = QIcon::fallbackSearchPaths();
    fallback.append(QStringLiteral(":/tessel/theme"));
    QIcon::setFallbackSearchPaths(fallback);
}

TApplication::~TApplication() = default;

TApplication* TApplication::instance()
{
    return qobject_cast<TApplication*>(QCoreApplication::instance());
}

QString TApplication::singleInstanceLockPath(const QString& key)
{
    // The key becomes part of a file name: anything but a plain name character is replaced.
    QString name = key;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return QStringLiteral("%1/tessel-%2-%3.lock").arg(runtimeDirectory()).arg(::getuid()).arg(name);
}

bool TApplication::setSingleInstance(const QString& key)
{
    if (m_instanceLock && key == m_instanceKey) {
        return true;
    }
    auto lock = std::make_unique<QLockFile>(singleInstanceLockPath(key));
    // Never stale by age: a lock counts as stale only when the process that wrote it is gone.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        return false;
    }
    m_instanceLock = std::move(lock);
    m_instanceKey = key;
    return true;
}

void TApplication::releaseSingleInstance()
{
    m_instanceLock.reset();
    m_instanceKey.clear();
}

void TApplication::setThemeType(ThemeType type)
{
    if (type == m_themeType) {
        return;
    }
    m_themeType = type;
    setPalette(TPalette(type));
    emit themeTypeChanged(type);
}

void TApplication::setProductIcon(const QIcon& icon)
{
    m_productIcon = icon;
}

QStyle* TApplication::setStyle(const QString& name)
{
    QStyle* style = createStyle(name);
    if (style) {
        QApplication::setStyle(style);
    }
    return style;
}

} // namespace Tessel::Widgets
