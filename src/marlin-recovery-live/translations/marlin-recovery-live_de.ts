<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>RecoveryPage</name>
    <message>
        <source>System Repair Tools</source>
        <translation>Systemreparaturwerkzeuge</translation>
    </message>
    <message>
        <source>System Restore</source>
        <translation>Systemwiederherstellung</translation>
    </message>
    <message>
        <source>System Repair Tools.</source>
        <translation>Systemreparaturwerkzeuge.</translation>
    </message>
    <message>
        <source>System Restore.</source>
        <translation>Systemwiederherstellung.</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Are you sure you want to exit and reboot your computer?</source>
        <translation>Möchten Sie das Programm wirklich beenden und den Computer neu starten?</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>Neu starten</translation>
    </message>
</context>
<context>
    <name>WorkingPage</name>
    <message>
        <source>Restoring your system, please wait...</source>
        <translation>System wird wiederhergestellt, bitte warten...</translation>
    </message>
    <message>
        <source>Do not remove your storage device, power off or unplug your machine</source>
        <translation>Entfernen Sie das Speichergerät nicht und schalten Sie den Computer nicht aus oder trennen Sie ihn vom Stromnetz</translation>
    </message>
</context>
<context>
    <name>RecoveryModule</name>
    <message>
        <source>DBus error, please try again</source>
        <translation>D-Bus-Fehler, bitte versuchen Sie es erneut</translation>
    </message>
    <message>
        <source>Invalid Caller</source>
        <translation>Ungültiger Aufrufer</translation>
    </message>
    <message>
        <source>Invalid Argument</source>
        <translation>Ungültiges Argument</translation>
    </message>
    <message>
        <source>Do not power off or unplug your machine</source>
        <translation>Schalten Sie den Computer nicht aus und trennen Sie ihn nicht vom Stromnetz</translation>
    </message>
    <message>
        <source>Backing up, please wait...</source>
        <translation>Sicherung läuft, bitte warten...</translation>
    </message>
    <message>
        <source>Restore Successful</source>
        <translation>Wiederherstellung erfolgreich</translation>
    </message>
    <message>
        <source>Backup Successful</source>
        <translation>Sicherung erfolgreich</translation>
    </message>
    <message>
        <source>Reboot Now</source>
        <translation>Jetzt neu starten</translation>
    </message>
    <message>
        <source>Restore Failed</source>
        <translation>Wiederherstellung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Backup Failed</source>
        <translation>Sicherung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Restore failed, error: %1</source>
        <translation>Wiederherstellung fehlgeschlagen, Fehler: %1</translation>
    </message>
    <message>
        <source>Backup failed, error: %1</source>
        <translation>Sicherung fehlgeschlagen, Fehler: %1</translation>
    </message>
    <message>
        <source>Shut Down</source>
        <translation>Herunterfahren</translation>
    </message>
    <message>
        <source>Backup error, please try again</source>
        <translation>Fehler bei der Sicherung, bitte versuchen Sie es erneut</translation>
    </message>
    <message>
        <source>There is something wrong with your backup file</source>
        <translation>Mit Ihrer Sicherungsdatei stimmt etwas nicht</translation>
    </message>
    <message>
        <source>Your system version does not match the backup file, please update the system and restore again</source>
        <translation>Ihre Systemversion passt nicht zur Sicherungsdatei. Bitte aktualisieren Sie das System und stellen Sie es erneut wieder her</translation>
    </message>
    <message>
        <source>Your disk info and the backup info do not match, so you cannot restore now</source>
        <translation>Ihre Datenträgerinformationen stimmen nicht mit der Sicherung überein, daher ist eine Wiederherstellung derzeit nicht möglich</translation>
    </message>
    <message>
        <source>Cannot find the target location</source>
        <translation>Der Zielort wurde nicht gefunden</translation>
    </message>
    <message>
        <source>There is something wrong with your initial backup file</source>
        <translation>Mit Ihrer Erstsicherung stimmt etwas nicht</translation>
    </message>
    <message>
        <source>Failed to initialize the task</source>
        <translation>Die Aufgabe konnte nicht initialisiert werden</translation>
    </message>
</context>
</TS>
