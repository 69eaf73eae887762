<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>BrowseFilesPage</name>
    <message>
        <source>Back</source>
        <translation>返回</translation>
    </message>
    <message>
        <source>Copy…</source>
        <translation>复制…</translation>
    </message>
    <message>
        <source>Opening, please wait...</source>
        <translation>正在打开，请稍候...</translation>
    </message>
    <message>
        <source>There is nothing to browse.</source>
        <translation>没有可浏览的内容。</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) (%1)</source>
        <translation>
            <numerusform>%n 个文件（%1）</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) and %1 folder(s), at least %2</source>
        <translation>
            <numerusform>%n 个文件和 %1 个文件夹，至少 %2</numerusform>
        </translation>
    </message>
    <message>
        <source>Selected: %1</source>
        <translation>已选择：%1</translation>
    </message>
    <message>
        <source>Check the files to copy.</source>
        <translation>请勾选要复制的文件。</translation>
    </message>
</context>
<context>
    <name>BrowseFlow</name>
    <message>
        <source>Personal files of the installed system (read-only)</source>
        <translation>已安装系统的个人文件（只读）</translation>
    </message>
    <message>
        <source>Files in the backup %1</source>
        <translation>备份 %1 中的文件</translation>
    </message>
    <message>
        <source>Copying files, please wait...</source>
        <translation>正在复制文件，请稍候...</translation>
    </message>
    <message>
        <source>Do not remove the disk the files are copied to</source>
        <translation>请勿移除正在写入文件的磁盘</translation>
    </message>
    <message>
        <source>Copying to %1</source>
        <translation>正在复制到 %1</translation>
    </message>
    <message>
        <source>%1 of %2 copied</source>
        <translation>已复制 %1 / %2</translation>
    </message>
    <message>
        <source>The files cannot be opened: %1</source>
        <translation>无法打开文件：%1</translation>
    </message>
    <message>
        <source>Copy Failed</source>
        <translation>复制失败</translation>
    </message>
    <message>
        <source>The recovery service stopped before the copy finished.</source>
        <translation>复制完成前恢复服务已停止。</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) (%1) copied to &quot;%2&quot; on %3.</source>
        <translation>
            <numerusform>已将 %n 个文件（%1）复制到 %3 上的“%2”。</numerusform>
        </translation>
    </message>
    <message>
        <source>Names already taken there, so copied under new names:</source>
        <translation>以下名称在目标位置已存在，已使用新名称复制：</translation>
    </message>
    <message>
        <source>%1 as %2</source>
        <translation>%1 复制为 %2</translation>
    </message>
    <message>
        <source>Needed: %1, free: %2</source>
        <translation>需要：%1，可用：%2</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) (%1) were copied completely before it stopped.</source>
        <translation>
            <numerusform>停止前已完整复制 %n 个文件（%1）。</numerusform>
        </translation>
    </message>
    <message>
        <source>Files Copied</source>
        <translation>文件已复制</translation>
    </message>
    <message>
        <source>Copy Cancelled</source>
        <translation>复制已取消</translation>
    </message>
</context>
<context>
    <name>BrowseModel</name>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>大小</translation>
    </message>
    <message>
        <source>Date Modified</source>
        <translation>修改日期</translation>
    </message>
    <message>
        <source>Link</source>
        <translation>链接</translation>
    </message>
</context>
<context>
    <name>CopyDestinationPage</name>
    <message>
        <source>Back</source>
        <translation>返回</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>复制</translation>
    </message>
    <message>
        <source>Copy to</source>
        <translation>复制到</translation>
    </message>
    <message>
        <source>Partition</source>
        <translation>分区</translation>
    </message>
    <message>
        <source>Disk</source>
        <translation>磁盘</translation>
    </message>
    <message>
        <source>File System</source>
        <translation>文件系统</translation>
    </message>
    <message>
        <source>Files to copy: %1</source>
        <translation>要复制的文件：%1</translation>
    </message>
    <message>
        <source>Looking for partitions, please wait...</source>
        <translation>正在查找分区，请稍候...</translation>
    </message>
    <message>
        <source>%1 free of %2</source>
        <translation>可用 %1，共 %2</translation>
    </message>
    <message>
        <source>Not enough free space for the selection</source>
        <translation>可用空间不足以容纳所选内容</translation>
    </message>
    <message>
        <source>too small</source>
        <translation>空间不足</translation>
    </message>
    <message>
        <source>No other partition can take the files. Connect a USB disk and go back and forth to look again.</source>
        <translation>没有其他分区可以存放这些文件。请连接 USB 磁盘，然后返回再进入以重新查找。</translation>
    </message>
    <message>
        <source>No partition has enough free space for the selection.</source>
        <translation>没有分区有足够的可用空间容纳所选内容。</translation>
    </message>
    <message>
        <source>Free Space</source>
        <translation>可用空间</translation>
    </message>
    <message>
        <source>cannot be opened</source>
        <translation>无法打开</translation>
    </message>
</context>
<context>
    <name>CopyResultPage</name>
    <message>
        <source>Back to Files</source>
        <translation>返回文件</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>完成</translation>
    </message>
</context>
<context>
    <name>InterruptedRestorePage</name>
    <message>
        <source>The last restore did not finish</source>
        <translation>上次还原未完成</translation>
    </message>
    <message>
        <source>Restore Again</source>
        <translation>再次还原</translation>
    </message>
    <message>
        <source>Other Options</source>
        <translation>其他选项</translation>
    </message>
    <message>
        <source>It was cut off while it was writing to your disk, and your system may not start until it is restored. Run the restore again to finish it.</source>
        <translation>还原在写入磁盘时被中断，系统在还原之前可能无法启动。请再次运行还原以完成它。</translation>
    </message>
    <message>
        <source>%1, started %2</source>
        <translation>%1，开始于 %2</translation>
    </message>
    <message>
        <source>Reset to factory settings, keeping personal files</source>
        <translation>恢复出厂设置，保留个人文件</translation>
    </message>
    <message>
        <source>Reset to factory settings</source>
        <translation>恢复出厂设置</translation>
    </message>
    <message>
        <source>Restore from a backup</source>
        <translation>从备份还原</translation>
    </message>
    <message>
        <source>Restore from the backup of %1</source>
        <translation>从 %1 的备份还原</translation>
    </message>
    <message>
        <source>The initial backup will be written onto your system&apos;s partitions again. Your personal files are kept.</source>
        <translation>将再次把初始备份写入系统的分区。您的个人文件将被保留。</translation>
    </message>
    <message>
        <source>The initial backup will be written onto your system&apos;s partitions again, and the personal files of all users on this device will be cleared.</source>
        <translation>将再次把初始备份写入系统的分区，并清除此设备上所有用户的个人文件。</translation>
    </message>
    <message>
        <source>The backup will be written onto your system&apos;s partitions again.</source>
        <translation>将再次把备份写入系统的分区。</translation>
    </message>
    <message>
        <source>The backup in %1 will be written onto your system&apos;s partitions again.</source>
        <translation>将再次把 %1 中的备份写入系统的分区。</translation>
    </message>
    <message>
        <source>Partitions it writes: %1</source>
        <translation>将写入的分区：%1</translation>
    </message>
</context>
<context>
    <name>LiveWidgets</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>Recovery.Table.Header</name>
    <message>
        <source>Backup File</source>
        <translation>备份文件</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>大小</translation>
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
    <message>
        <source>The recovery service cannot be reached.</source>
        <translation>无法连接到恢复服务。</translation>
    </message>
    <message>
        <source>Restore Again</source>
        <translation>再次还原</translation>
    </message>
    <message>
        <source>The Restore Cannot Be Resumed</source>
        <translation>还原无法继续</translation>
    </message>
    <message>
        <source>The recovery partition is missing, read-only or full, so the restore cannot be recorded there. If the restore is cut off, by a power failure for example, it cannot be run again from here, and your system may not start. You may continue anyway.</source>
        <translation>恢复分区缺失、只读或已满，无法在其中记录本次还原。如果还原被中断（例如断电），将无法在此再次运行，系统可能无法启动。您仍可以继续。</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>继续</translation>
    </message>
    <message>
        <source>The recovery service stopped before the task finished.</source>
        <translation>恢复服务在任务完成前停止了。</translation>
    </message>
    <message>
        <source>The target location is full, please free up some space and try again</source>
        <translation>目标位置已满，请释放一些空间后重试</translation>
    </message>
    <message>
        <source>The backup lies where the restore would write; move it to another disk and try again</source>
        <translation>备份位于还原将要写入的位置；请将其移到另一块磁盘后重试</translation>
    </message>
    <message>
        <source>The restore cannot write %1: it is missing, in use or too small. Nothing was written.</source>
        <translation>还原无法写入 %1：它不存在、正在使用或太小。未写入任何内容。</translation>
    </message>
    <message>
        <source>The partition for &quot;%1&quot; of the initial backup cannot be found (it may have been formatted). Nothing was restored.</source>
        <translation>找不到初始备份中“%1”对应的分区（可能已被格式化）。未还原任何内容。</translation>
    </message>
    <message>
        <source>The system&apos;s partitions are found on more than one device (%1). Remove the disks that are not this computer&apos;s own and try again.</source>
        <translation>在多个设备上发现了系统分区（%1）。请移除不属于本计算机的磁盘后重试。</translation>
    </message>
    <message>
        <source>Other users can change the target location, please choose a folder only administrators can change</source>
        <translation>其他用户可以更改目标位置，请选择只有管理员才能更改的文件夹</translation>
    </message>
    <message>
        <source>Copy cancelled</source>
        <translation>复制已取消</translation>
    </message>
    <message>
        <source>Not enough free space on the destination</source>
        <translation>目标位置可用空间不足</translation>
    </message>
    <message>
        <source>another task is running</source>
        <translation>另一个任务正在运行</translation>
    </message>
    <message>
        <source>The chosen disk is not there; choose the disk again</source>
        <translation>所选磁盘不存在，请重新选择磁盘</translation>
    </message>
    <message>
        <source>The chosen disk holds the backup; choose another disk</source>
        <translation>所选磁盘上存有该备份，请选择其他磁盘</translation>
    </message>
    <message>
        <source>A partition of the chosen disk is in use (mounted); unmount it or choose another disk</source>
        <translation>所选磁盘上的某个分区正在使用（已挂载），请卸载该分区或选择其他磁盘</translation>
    </message>
    <message>
        <source>The backup was written, but the disk&apos;s extra space could not be used</source>
        <translation>备份已写入，但无法使用磁盘的剩余空间</translation>
    </message>
    <message>
        <source>The chosen disk is too small: this backup needs a disk of at least %1 bytes</source>
        <translation>所选磁盘太小：此备份需要至少 %1 字节的磁盘</translation>
    </message>
    <message>
        <source>Cannot open it for browsing</source>
        <translation>无法打开以浏览</translation>
    </message>
    <message>
        <source>Cannot open the folder</source>
        <translation>无法打开该文件夹</translation>
    </message>
    <message>
        <source>Cannot read the chosen files</source>
        <translation>无法读取所选文件</translation>
    </message>
    <message>
        <source>Cannot write to the destination</source>
        <translation>无法写入目标位置</translation>
    </message>
    <message>
        <source>Cannot find the destination</source>
        <translation>找不到目标位置</translation>
    </message>
    <message>
        <source>Browsing was closed</source>
        <translation>浏览已关闭</translation>
    </message>
    <message>
        <source>another copy is running</source>
        <translation>另一个复制任务正在进行</translation>
    </message>
    <message>
        <source>Invalid path</source>
        <translation>路径无效</translation>
    </message>
    <message>
        <source>Nothing is open for browsing</source>
        <translation>没有打开可浏览的内容</translation>
    </message>
    <message>
        <source>This directory holds no whole-disk backup: only a whole-disk backup can be restored onto another disk.</source>
        <translation>此目录中没有整盘备份：只有整盘备份才能还原到其他磁盘。</translation>
    </message>
</context>
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
    <message>
        <source>Try Again</source>
        <translation>重试</translation>
    </message>
    <message>
        <source>The recovery service cannot be reached.</source>
        <translation>无法连接到恢复服务。</translation>
    </message>
    <message>
        <source>Copy Personal Files…</source>
        <translation>复制个人文件…</translation>
    </message>
    <message>
        <source>Copy documents off the installed system before restoring it</source>
        <translation>在恢复系统之前将文档从已安装的系统中复制出来</translation>
    </message>
</context>
<context>
    <name>RepairFileSystemWidget</name>
    <message>
        <source>Repair File System</source>
        <translation>修复文件系统</translation>
    </message>
    <message>
        <source>The file system has no errors.</source>
        <translation>文件系统没有错误。</translation>
    </message>
    <message>
        <source>Repairing...</source>
        <translation>正在修复...</translation>
    </message>
    <message>
        <source>Are you sure you want to repair the file system of %1? It may lead to data loss.</source>
        <translation>确定要修复 %1 的文件系统吗？此操作可能导致数据丢失。</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Repair now</source>
        <translation>立即修复</translation>
    </message>
    <message>
        <source>Repair completed. Reboot to enter the system.</source>
        <translation>修复完成，请重启后进入系统。</translation>
    </message>
    <message>
        <source>Repair failed, please try another repair method.</source>
        <translation>修复失败，请尝试其他修复方法。</translation>
    </message>
</context>
<context>
    <name>RestoreDiskChooser</name>
    <message>
        <source>too small, the backup needs %1</source>
        <translation>空间不足，此备份需要 %1</translation>
    </message>
    <message>
        <source>it holds the backup</source>
        <translation>其上存有该备份</translation>
    </message>
    <message>
        <source>a partition on it is in use (mounted)</source>
        <translation>其上有分区正在使用（已挂载）</translation>
    </message>
    <message>
        <source>mounted</source>
        <translation>已挂载</translation>
    </message>
    <message>
        <source>Choose the disk to restore onto</source>
        <translation>选择要还原到的磁盘</translation>
    </message>
    <message>
        <source>Use the whole disk (the last partition grows to fill a larger disk)</source>
        <translation>使用整个磁盘（在更大的磁盘上扩展最后一个分区以占满磁盘）</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>返回</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>下一步</translation>
    </message>
    <message>
        <source>%1, serial %2, %3 (%4)</source>
        <translation>%1，序列号 %2，%3（%4）</translation>
    </message>
    <message>
        <source>Unknown disk</source>
        <translation>未知磁盘</translation>
    </message>
    <message>
        <source>none</source>
        <translation>无</translation>
    </message>
    <message>
        <source>No partitions</source>
        <translation>无分区</translation>
    </message>
    <message>
        <source>Holds: %1</source>
        <translation>包含：%1</translation>
    </message>
    <message>
        <source>The disk this backup was made of is not in this computer. Choose the disk to write it onto: it needs at least %1.</source>
        <translation>制作此备份的磁盘不在这台计算机中。请选择要写入的磁盘：至少需要 %1。</translation>
    </message>
    <message>
        <source>Cannot be used: %1</source>
        <translation>无法使用：%1</translation>
    </message>
    <message>
        <source>Choose the disk to write this backup onto: it needs at least %1.</source>
        <translation>请选择写入此备份的磁盘：至少需要 %1。</translation>
    </message>
    <message>
        <source>The disk this backup was made of</source>
        <translation>此备份所来自的磁盘</translation>
    </message>
</context>
<context>
    <name>RestoreDiskConfirmPage</name>
    <message>
        <source>Replace everything on this disk?</source>
        <translation>要替换此磁盘上的所有内容吗？</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>还原</translation>
    </message>
    <message>
        <source>The partitions keep the sizes they had at the backup.</source>
        <translation>各分区保持备份时的大小。</translation>
    </message>
    <message>
        <source>The last partition grows to fill the disk.</source>
        <translation>最后一个分区将扩展以占满磁盘。</translation>
    </message>
    <message>
        <source>The backup will be written onto this disk:
%1

Everything on it will be replaced by the backup and cannot be recovered. %2</source>
        <translation>备份将写入此磁盘：
%1

其上的所有内容都将被备份替换，且无法恢复。%2</translation>
    </message>
</context>
<context>
    <name>RestorePage</name>
    <message>
        <source>Keep personal files and apps</source>
        <translation>保留个人文件和应用</translation>
    </message>
    <message>
        <source>Reset to factory settings</source>
        <translation>恢复出厂设置</translation>
    </message>
    <message>
        <source>The initial backup file does not exist, so your system cannot be reset to factory settings.</source>
        <translation>初始备份文件不存在，无法将系统恢复出厂设置。</translation>
    </message>
    <message>
        <source>Restore Now</source>
        <translation>立即还原</translation>
    </message>
    <message>
        <source>Restore from backup files</source>
        <translation>从备份文件还原</translation>
    </message>
    <message>
        <source>Backup directory</source>
        <translation>备份目录</translation>
    </message>
    <message>
        <source>Restore from a restore point</source>
        <translation>从还原点还原</translation>
    </message>
    <message>
        <source>Applying changes to your system...</source>
        <translation>正在将更改应用到系统...</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>还原</translation>
    </message>
    <message>
        <source>Backup file is invalid</source>
        <translation>备份文件无效</translation>
    </message>
    <message>
        <source>The initial backup file is broken, so your system cannot be reset to factory settings.</source>
        <translation>初始备份文件已损坏，无法将系统恢复出厂设置。</translation>
    </message>
    <message>
        <source>The system contains encrypted partition, please decrypt it before using the backup and restore function.</source>
        <translation>系统中有加密分区，请先解密，再使用备份还原功能。</translation>
    </message>
    <message>
        <source>Invalid path</source>
        <translation>路径无效</translation>
    </message>
    <message>
        <source>Keep Personal Files</source>
        <translation>保留个人文件</translation>
    </message>
    <message>
        <source>It will reset data on your system disk but keep your personal data. You need to create an account with the same username as the current user so that you can access your personal data later. Please confirm before proceeding.</source>
        <translation>此操作将重置系统盘上的数据，但会保留您的个人数据。您需要创建一个与当前用户名相同的账户，之后才能访问您的个人数据。请确认后再继续。</translation>
    </message>
    <message>
        <source>Reset to Factory Settings</source>
        <translation>恢复出厂设置</translation>
    </message>
    <message>
        <source>It will permanently clear data of all users on this device, please confirm before proceeding</source>
        <translation>此操作将永久清除本设备上所有用户的数据，请确认后再继续</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Confirm and Reset</source>
        <translation>确认并重置</translation>
    </message>
    <message>
        <source>Browse Files…</source>
        <translation>浏览文件…</translation>
    </message>
    <message>
        <source>Choose the disk to restore a whole-disk backup onto</source>
        <translation>选择整盘备份要还原到的磁盘</translation>
    </message>
</context>
<context>
    <name>Tessel::Widgets::TFileChooserEdit</name>
    <message>
        <source>Browse</source>
        <translation>浏览</translation>
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
    <message>
        <source>Less than a minute left</source>
        <translation>剩余不到 1 分钟</translation>
    </message>
    <message>
        <source>About 1 minute left</source>
        <translation>剩余约 1 分钟</translation>
    </message>
    <message>
        <source>About %1 minutes left</source>
        <translation>剩余约 %1 分钟</translation>
    </message>
    <message>
        <source>About %1 h %2 min left</source>
        <translation>剩余约 %1 小时 %2 分钟</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
</TS>
