#include "MountPath.h"

#include <QFileInfo>
#include <QStringList>

namespace MountPath {

bool isInside(const QString& path, const QString& root)
{
    if (root == "/") {
        return path.startsWith('/');
    }
    return path == root || path.startsWith(root + "/");
}

QString resolveInside(const QString& mountPoint, const QString& relative)
{
    const QString root = mountPoint.isEmpty() ? QString() : QFileInfo(mountPoint).canonicalFilePath();
    const QStringList parts = relative.split('/', Qt::SkipEmptyParts);
    if (root.isEmpty() || parts.contains("..")) {
        return QString();
    }
    QString resolved = root;
    bool exists = true;
    for (const QString& part : parts) {
        if (part == ".") {
            continue;
        }
        const QString next = (resolved == "/" ? resolved : resolved + "/") + part;
        const QFileInfo info(next);
        exists = exists && (info.exists() || info.isSymLink());
        if (!exists) {
            resolved = next;
            continue;
        }
        const QString canonical = info.canonicalFilePath();
        if (canonical.isEmpty() || !isInside(canonical, root)) {
            return QString();
        }
        resolved = canonical;
    }
    return resolved;
}

} // namespace MountPath
