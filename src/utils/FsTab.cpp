#include "FsTab.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>

namespace {

FSTabInfoPtr parseLine(const QString& text)
{
    FSTabInfoPtr info(new FSTabInfo);
    const QString trimmed = text.trimmed();
    info->isComment = trimmed.startsWith("#");
    info->isEmpty = trimmed.isEmpty();
    if (info->isEmpty) {
        return info;
    }
    info->line = text;
    if (info->isComment) {
        return info;
    }
    QString spaced = text;
    spaced.replace('\t', ' ');
    const QStringList fields = spaced.split(' ', Qt::SkipEmptyParts);
    if (fields.size() != 6) {
        return info;
    }
    info->device = fields.at(0);
    info->mountPoint = fields.at(1);
    info->type = fields.at(2);
    info->options = fields.at(3);
    info->dump = fields.at(4);
    info->pass = fields.at(5);
    return info;
}

bool isEntry(const FSTabInfoPtr& info)
{
    return !info->isComment && !info->isEmpty;
}

} // namespace

FSTabInfoList FSTab::getFSTabFromFile(const QString& fileName)
{
    FSTabInfoList list;
    QFile file(fileName);
    if (!file.exists()) {
        qWarning().noquote().nospace() << "getFSTabFromFile file not exists, fileName: " << fileName;
        return list;
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return list;
    }
    return fromText(file.readAll());
}

FSTabInfoList FSTab::fromText(const QByteArray& text)
{
    FSTabInfoList list;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray& line : lines) {
        list.append(parseLine(QString::fromUtf8(line)));
    }
    return list;
}

QString FSTab::getUUIDFromInfo(const FSTabInfoPtr& info)
{
    if (info.isNull() || !info->device.startsWith("UUID=")) {
        return QString();
    }
    const QStringList parts = info->device.split('=', Qt::SkipEmptyParts);
    return parts.size() == 2 ? parts.at(1) : QString();
}

FSTabInfoPtr FSTab::findByUUID(const FSTabInfoList& list, const QString& uuid)
{
    // Entries without a UUID must not match an empty one.
    if (uuid.isEmpty()) {
        return FSTabInfoPtr();
    }
    for (const FSTabInfoPtr& info : list) {
        if (isEntry(info) && getUUIDFromInfo(info) == uuid) {
            return info;
        }
    }
    return FSTabInfoPtr();
}

QStringList FSTab::getUUIDList(const FSTabInfoList& list)
{
    QStringList uuids;
    for (const FSTabInfoPtr& info : list) {
        if (!isEntry(info) || info->options.contains("bind")) {
            continue;
        }
        const QString uuid = getUUIDFromInfo(info);
        if (!uuid.isEmpty()) {
            uuids.append(uuid);
        }
    }
    return uuids;
}

QString FSTab::swapUUID(const FSTabInfoList& list)
{
    static const QRegularExpression wellFormed(
        "^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$");
    for (const FSTabInfoPtr& info : list) {
        if (isEntry(info) && info->type == "swap") {
            const QString uuid = getUUIDFromInfo(info);
            return wellFormed.match(uuid).hasMatch() ? uuid : QString();
        }
    }
    return QString();
}
