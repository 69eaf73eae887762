#include "utils.h"

#include "core/command.h"

#include <QDebug>
#include <QJsonDocument>

namespace Utils {

bool getProcessNameByPid(int pid, QString& name)
{
    const QString pipeline =
        QString("cat /proc/%1/stat | awk -F\")\" '{print $1}' | awk -F\"(\" '{print $2}'").arg(pid);
    QString err;
    if (!SpawnCmd("/bin/bash", {"-c", pipeline}, name, err)) {
        return false;
    }
    name.remove(" ");
    name.remove("\n");
    // The pipeline ends in awk, which succeeds even when the process is gone; a name is never empty.
    return !name.isEmpty();
}

QString getCurrentTimeByDate()
{
    QString output;
    QString err;
    if (!SpawnCmd("date", {"-u", "+%Y-%m-%dT%H:%M:%SZ"}, output, err)) {
        return QString();
    }
    return output.trimmed();
}

bool rebootSystem(bool ignoreInhibitors, bool force)
{
    QStringList args{"reboot"};
    if (force) {
        args << "-f";
    } else if (ignoreInhibitors) {
        args << "-i";
    }
    return SpawnCmd("systemctl", args);
}

bool removePathBySudo(const QString& path)
{
    return SpawnCmd("sudo", {"rm", "-rf", path});
}

bool isValidRbkFile(const QString& filePath)
{
    QString output;
    QString err;
    const bool ran = SpawnCmd("marlin-clone", {"--rbk-info", filePath}, output, err);
    // A tool that could not run or failed has not vouched for the image either.
    return ran && !err.contains("invalid file");
}

QJsonObject stringToJson(const QString& text)
{
    QByteArray bytes = text.toLocal8Bit();
    const int end = bytes.indexOf('\0');
    if (end >= 0) {
        bytes.truncate(end);
    }
    return QJsonDocument::fromJson(bytes).object();
}

QString jsonToString(const QJsonObject& obj)
{
    return QString::fromUtf8(QJsonDocument(obj).toJson(QJsonDocument::Indented));
}

} // namespace Utils
