#include "dbus/OperateRequest.h"

#include <QUuid>

void OperateRequest::read(const QJsonObject& obj)
{
    operateID = obj.contains("operateID") ? obj.value("operateID").toString() : QUuid::createUuid().toString();
    userName = obj.value("userName").toString();
    opType = obj.value("opType").toInt(0);
}

void RestoreRequest::read(const QJsonObject& obj)
{
    OperateRequest::read(obj);
    backupDir = obj.value("backupDir").toString();
    backupUUID = obj.value("backupUUID").toString();
    formatData = obj.value("formatData").toBool(false);
    targetDrive = obj.value("targetDrive").toString();
    keepSize = obj.value("keepSize").toBool(false);
}

void FsckRequest::read(const QJsonObject& obj)
{
    OperateRequest::read(obj);
    devicePath = obj.value("devicePath").toString();
}

void TaskRequest::read(const QJsonObject& obj)
{
    OperateRequest::read(obj);
    recoveryInfo = obj.value("recoveryInfo").toString();
}
