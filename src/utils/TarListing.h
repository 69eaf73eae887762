#pragma once

// What tar itself makes of an archive: its member names, and whether it ends with tar's end-of-archive marker (two
// zero blocks, then only zero padding). GNU tar lists and extracts an archive cut at a member boundary without a
// word, so a listing alone never proves an archive whole.

#include <QString>
#include <QStringList>

namespace TarListing {

// The member names in the output of "tar --list --block-number" (C locale, escape quoting), and the block at which
// tar met a zero block; -1 when the output ends at the end of the file, before any zero block.
qint64 parse(const QString& listing, QStringList& members);
// Whether the file holds at least two blocks from block on and nothing but zero bytes there.
bool zeroFrom(const QString& archive, qint64 block);
// Lists archive through tar (as root): true only when tar read every member and the archive ends with its marker.
bool listWhole(const QString& archive, QStringList& members);

} // namespace TarListing
