<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>RecoveryPage</name>
    <message>
        <source>System Repair Tools</source>
        <translation>系统修复工具</translation>
    </message>
    <message>
        <source>System Restore</source>
        <translation>系统还原</translation>
    </message>
    <message>
        <source>System Repair Tools.</source>
        <translation>系统修复工具。</translation>
    </message>
    <message>
        <source>System Restore.</source>
        <translation>系统还原。</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>下一步</translation>
    </message>
    <message>
        <source>Are you sure you want to exit and reboot your computer?</source>
        <translation>确定要退出并重启计算机吗？</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>重启</translation>
    </message>
</context>
<context>
    <name>WorkingPage</name>
    <message>
        <source>Restoring your system, please wait...</source>
        <translation>正在还原系统，请稍候...</translation>
    </message>
    <message>
        <source>Do not remove your storage device, power off or unplug your machine</source>
        <translation>请勿移除存储设备，请勿关机或断开电源</translation>
    </message>
</context>
<context>
    <name>RecoveryModule</name>
    <message>
        <source>DBus error, please try again</source>
        <translation>D-Bus 错误，请重试</translation>
    </message>
    <message>
        <source>Invalid Caller</source>
        <translation>无效的调用者</translation>
    </message>
    <message>
        <source>Invalid Argument</source>
        <translation>无效的参数</translation>
    </message>
    <message>
        <source>Do not power off or unplug your machine</source>
        <translation>请勿关机或断开电源</translation>
    </message>
    <message>
        <source>Backing up, please wait...</source>
        <translation>正在备份，请稍候...</translation>
    </message>
    <message>
        <source>Restore Successful</source>
        <translation>还原成功</translation>
    </message>
    <message>
        <source>Backup Successful</source>
        <translation>备份成功</translation>
    </message>
    <message>
        <source>Reboot Now</source>
        <translation>立即重启</translation>
    </message>
    <message>
        <source>Restore Failed</source>
        <translation>还原失败</translation>
    </message>
    <message>
        <source>Backup Failed</source>
        <translation>备份失败</translation>
    </message>
    <message>
        <source>Restore failed, error: %1</source>
        <translation>还原失败，错误：%1</translation>
    </message>
    <message>
        <source>Backup failed, error: %1</source>
        <translation>备份失败，错误：%1</translation>
    </message>
    <message>
        <source>Shut Down</source>
        <translation>关机</translation>
    </message>
    <message>
        <source>Backup error, please try again</source>
        <translation>备份出错，请重试</translation>
    </message>
    <message>
        <source>There is something wrong with your backup file</source>
        <translation>备份文件有问题</translation>
    </message>
    <message>
        <source>Your system version does not match the backup file, please update the system and restore again</source>
        <translation>系统版本与备份文件不匹配，请更新系统后重新还原</translation>
    </message>
    <message>
        <source>Your disk info and the backup info do not match, so you cannot restore now</source>
        <translation>磁盘信息与备份信息不匹配，暂时无法还原</translation>
    </message>
    <message>
        <source>Cannot find the target location</source>
        <translation>找不到目标位置</translation>
    </message>
    <message>
        <source>There is something wrong with your initial backup file</source>
        <translation>初始备份文件有问题</translation>
    </message>
    <message>
        <source>Failed to initialize the task</source>
        <translation>任务初始化失败</translation>
    </message>
</context>
</TS>
