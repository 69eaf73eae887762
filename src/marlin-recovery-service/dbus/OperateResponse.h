#pragma once

// What the service sends back in ReportProgress, Success and Error: one indented JSON text.

#include <QJsonObject>
#include <QString>

struct OperateResponse
{
    QString operateID;
    QString userName;
    int opType = 0;
    int retCode = 0;
    int progress = 0;
    QString errMsg;
    QString data;
    bool autoReboot = false;

    QJsonObject toJson() const;
    QString toString() const;
};
