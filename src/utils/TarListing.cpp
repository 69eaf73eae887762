#include "TarListing.h"

#include "core/command.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>

namespace {

const qint64 BlockSize = 512;
// What tar prints for the zero block that ends an archive, and for a file that ends before it (C locale).
const QString ZeroBlock = "** Block of NULs **";
const QString EndOfFile = "** End of File **";

} // namespace

namespace TarListing {

qint64 parse(const QString& listing, QStringList& members)
{
    static const QRegularExpression Line("^block (\\d+): (.*)$");
    members.clear();
    QList<QRegularExpressionMatch> lines;
    for (const QString& line : listing.split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = Line.match(line);
        if (match.hasMatch()) {
            lines.append(match);
        }
    }
    // Only the last line tells how the archive ended; a member may carry the same text as its name (the bytes
    // after the block decide).
    const QString last = lines.isEmpty() ? QString() : lines.constLast().captured(2);
    const bool ended = last == ZeroBlock || last == EndOfFile;
    const qint64 zeroBlock = last == ZeroBlock ? lines.constLast().captured(1).toLongLong() : -1;
    if (ended) {
        lines.removeLast();
    }
    for (const QRegularExpressionMatch& line : qAsConst(lines)) {
        members.append(line.captured(2));
    }
    return zeroBlock;
}

bool zeroFrom(const QString& archive, qint64 block)
{
    QFile file(archive);
    if (block < 0 || !file.open(QIODevice::ReadOnly) || file.size() - block * BlockSize < 2 * BlockSize ||
        !file.seek(block * BlockSize)) {
        return false;
    }
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(1 << 16);
        if (chunk.isEmpty() || chunk.count('\0') != chunk.size()) {
            return false;
        }
    }
    return true;
}

// Listed with --absolute-names: tar shows the names as stored, not with a leading "/" already taken off. "env"
// sets the C locale past sudo, which keeps none: tar's own words are read here.
bool listWhole(const QString& archive, QStringList& members)
{
    QString output;
    QString err;
    if (!SpawnCmd("sudo",
                  {"env", "LC_ALL=C", "tar", "--list", "--block-number", "--absolute-names", "--quoting-style=escape",
                   "--file=" + archive},
                  output, err)) {
        qWarning().noquote() << "tar cannot list " + archive + ": " + err;
        return false;
    }
    if (!zeroFrom(archive, parse(output, members))) {
        qWarning().noquote() << "no end-of-archive marker, the archive was cut off: " + archive;
        return false;
    }
    return true;
}

} // namespace TarListing
