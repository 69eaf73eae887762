#include "MountPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <climits>
#include <unistd.h>

namespace {

// As the kernel's limit on the links of one path walk.
const int MaxLinks = 40;

// The target of a link exactly as stored; null when path is no link.
QString linkTarget(const QString& path)
{
    char buffer[PATH_MAX];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return size < 0 ? QString() : QFile::decodeName(QByteArray(buffer, int(size)));
}

} // namespace

namespace MountPath {

bool isInside(const QString& path, const QString& root)
{
    // An empty root is no directory (a canonical path of something that does not exist): nothing lies inside it.
    if (!path.startsWith('/') || !root.startsWith('/')) {
        return false;
    }
    // Whole components: "/mnt/ab" does not lie inside "/mnt/a".
    const QStringList rootParts = QDir::cleanPath(root).split('/', Qt::SkipEmptyParts);
    const QStringList pathParts = QDir::cleanPath(path).split('/', Qt::SkipEmptyParts);
    return pathParts.size() >= rootParts.size() && pathParts.mid(0, rootParts.size()) == rootParts;
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

QString resolveInRoot(const QString& root, const QString& path)
{
    if (root.isEmpty()) {
        return QString();
    }
    const QString base = root == "/" ? QString() : (root.endsWith('/') ? root.chopped(1) : root);
    QStringList pending = path.split('/', Qt::SkipEmptyParts);
    QStringList done;
    int links = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeFirst();
        if (part == "." || (part == ".." && done.isEmpty())) {
            continue;
        }
        if (part == "..") {
            done.removeLast();
            continue;
        }
        const QString target = linkTarget(base + "/" + (done + QStringList{part}).join('/'));
        if (target.isNull()) {
            done.append(part);
            continue;
        }
        if (++links > MaxLinks) {
            return QString();
        }
        if (target.startsWith('/')) {
            done.clear();
        }
        pending = target.split('/', Qt::SkipEmptyParts) + pending;
    }
    return done.isEmpty() ? (base.isEmpty() ? QString("/") : base) : base + "/" + done.join('/');
}

} // namespace MountPath
