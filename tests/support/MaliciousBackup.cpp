#include "MaliciousBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cstring>

namespace {

const int Block = 512;

void putText(QByteArray& header, int offset, int size, const QByteArray& text)
{
    std::memcpy(header.data() + offset, text.constData(), size_t(qMin(size, int(text.size()))));
}

void putOctal(QByteArray& header, int offset, int size, qint64 value)
{
    putText(header, offset, size, QByteArray::number(value, 8).rightJustified(size - 1, '0'));
}

QByteArray padded(const QByteArray& data)
{
    const int rest = data.size() % Block;
    return rest == 0 ? data : data + QByteArray(Block - rest, '\0');
}

QByteArray header(const QByteArray& name, char type, qint64 size, const QByteArray& linkTarget)
{
    QByteArray block(Block, '\0');
    putText(block, 0, 100, name);
    putOctal(block, 100, 8, type == '2' ? 0777 : 0644);
    putOctal(block, 108, 8, 0);
    putOctal(block, 116, 8, 0);
    putOctal(block, 124, 12, size);
    putOctal(block, 136, 12, 1700000000);
    block[156] = type;
    putText(block, 157, 100, linkTarget);
    putText(block, 257, 8, QByteArray("ustar  \0", 8));
    putText(block, 265, 32, "root");
    putText(block, 297, 32, "root");
    std::memset(block.data() + 148, ' ', 8);
    int sum = 0;
    for (const char byte : std::as_const(block)) {
        sum += static_cast<unsigned char>(byte);
    }
    putText(block, 148, 8, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
    return block;
}

// Names and link targets that do not fit their fields go first in GNU long-name records.
QByteArray memberRecords(const LiveTest::TarMember& member)
{
    QByteArray records;
    const QByteArray name = member.name.toUtf8();
    const QByteArray link = member.linkTarget.toUtf8();
    if (name.size() >= 100) {
        records += header("././@LongLink", 'L', name.size() + 1, QByteArray()) + padded(name + '\0');
    }
    if (link.size() >= 100) {
        records += header("././@LongLink", 'K', link.size() + 1, QByteArray()) + padded(link + '\0');
    }
    if (member.type != 0) {
        return records + header(name.left(99), member.type, 0, link.left(99));
    }
    if (!member.linkTarget.isEmpty()) {
        return records + header(name.left(99), '2', 0, link.left(99));
    }
    return records + header(name.left(99), '0', member.content.size(), QByteArray()) + padded(member.content);
}

} // namespace

namespace LiveTest {

bool writeTar(const QString& path, const QList<TarMember>& members)
{
    QByteArray archive;
    for (const TarMember& member : members) {
        archive += memberRecords(member);
    }
    archive += QByteArray(2 * Block, '\0');
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(archive) == archive.size();
}

namespace MaliciousBackup {

QByteArray dataInfo(const QString& uuid, const QString& directory)
{
    return "UUID=" + uuid.toUtf8() + "\nDirectory=" + directory.toUtf8() + "\n";
}

bool writeArchive(const QString& path, const QByteArray& dataInfo, const QList<TarMember>& members)
{
    return writeTar(path, QList<TarMember>{{"datainfo", dataInfo, QString()}} + members);
}

bool absoluteMembers(const QString& archive, const QString& uuid, const QString& victim, const QByteArray& content)
{
    return writeArchive(archive, dataInfo(uuid, "-P"),
                        {{"opt/someapp/harmless.txt", "harmless\n", QString()}, {victim, content, QString()}});
}

bool directoryLeavesPartition(const QString& archive, const QString& uuid, const QString& victim,
                              const QByteArray& content)
{
    // More ".." than any mount point has components: the surplus ones stay at "/".
    const QFileInfo info(victim);
    const QString directory = QString("../").repeated(12) + info.absolutePath().mid(1);
    return writeArchive(archive, dataInfo(uuid, directory),
                        {{QFileInfo(info.absolutePath()).fileName() + "/" + info.fileName(), content, QString()}});
}

bool dotDotMember(const QString& archive, const QString& uuid, const QString& victim, const QByteArray& content)
{
    return writeArchive(archive, dataInfo(uuid, "opt"),
                        {{"opt/someapp/harmless.txt", "harmless\n", QString()},
                         {"opt/" + QString("../").repeated(12) + victim.mid(1), content, QString()}});
}

bool foreignPartition(const QString& archive, const QString& foreignUUID)
{
    return writeArchive(archive, dataInfo(foreignUUID, "opt"), {{"opt/planted.txt", "planted\n", QString()}});
}

bool makeWritableByAll(const QString& dir)
{
    return QFile::setPermissions(dir,
                                 QFile::permissions(dir) | QFile::WriteOther | QFile::ExeOther | QFile::ReadOther) &&
           QProcess::execute("setfacl", {"-m", "o:rwx", dir}) == 0;
}

} // namespace MaliciousBackup
} // namespace LiveTest
