#include "dbus/OperateResponse.h"

#include "utils.h"

QJsonObject OperateResponse::toJson() const
{
    return QJsonObject{{"operateID", operateID}, {"userName", userName},    {"opType", opType},
                       {"retCode", retCode},     {"progress", progress},    {"errMsg", errMsg},
                       {"data", data},           {"autoReboot", autoReboot}};
}

QString OperateResponse::toString() const
{
    return Utils::jsonToString(toJson());
}
