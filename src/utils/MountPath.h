#pragma once

// Paths below a mount point that come from requests or from files on a disk: resolved inside that mount point, so
// that neither ".." nor a link can make root create, change or read something outside the partition it named.

#include <QString>

namespace MountPath {

// Whether path is root or lies below it (both canonical), compared component by component; false when either is
// empty or relative.
bool isInside(const QString& path, const QString& root);
// relative below mountPoint with every link of its existing part resolved; the part that does not exist yet is kept
// as named. Empty when it would leave the mount point: a ".." component, a link that points outside, a dangling
// link, or a mount point that does not exist.
QString resolveInside(const QString& mountPoint, const QString& relative);
// path as the system installed on root sees it, root being its "/": every link is followed inside root (an absolute
// target starts again at root, ".." never climbs above it), the part that does not exist is kept as named. Empty
// when root is empty or the links loop.
QString resolveInRoot(const QString& root, const QString& path);

} // namespace MountPath
