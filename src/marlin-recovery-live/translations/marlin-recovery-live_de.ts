<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>BrowseFilesPage</name>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Copy…</source>
        <translation>Kopieren…</translation>
    </message>
    <message>
        <source>Opening, please wait...</source>
        <translation>Wird geöffnet, bitte warten...</translation>
    </message>
    <message>
        <source>There is nothing to browse.</source>
        <translation>Hier gibt es nichts zu durchsuchen.</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) (%1)</source>
        <translation>
            <numerusform>%n Datei (%1)</numerusform>
            <numerusform>%n Dateien (%1)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) and %1 folder(s), at least %2</source>
        <translation>
            <numerusform>%n Datei und %1 Ordner, mindestens %2</numerusform>
            <numerusform>%n Dateien und %1 Ordner, mindestens %2</numerusform>
        </translation>
    </message>
    <message>
        <source>Selected: %1</source>
        <translation>Ausgewählt: %1</translation>
    </message>
    <message>
        <source>Check the files to copy.</source>
        <translation>Markieren Sie die Dateien, die kopiert werden sollen.</translation>
    </message>
</context>
<context>
    <name>BrowseFlow</name>
    <message>
        <source>Personal files of the installed system (read-only)</source>
        <translation>Persönliche Dateien des installierten Systems (schreibgeschützt)</translation>
    </message>
    <message>
        <source>Files in the backup %1</source>
        <translation>Dateien in der Sicherung %1</translation>
    </message>
    <message>
        <source>Copying files, please wait...</source>
        <translation>Dateien werden kopiert, bitte warten...</translation>
    </message>
    <message>
        <source>Do not remove the disk the files are copied to</source>
        <translation>Entfernen Sie den Datenträger nicht, auf den kopiert wird</translation>
    </message>
    <message>
        <source>Copying to %1</source>
        <translation>Kopieren nach %1</translation>
    </message>
    <message>
        <source>%1 of %2 copied</source>
        <translation>%1 von %2 kopiert</translation>
    </message>
    <message>
        <source>The files cannot be opened: %1</source>
        <translation>Die Dateien können nicht geöffnet werden: %1</translation>
    </message>
    <message>
        <source>Copy Failed</source>
        <translation>Kopieren fehlgeschlagen</translation>
    </message>
    <message>
        <source>The recovery service stopped before the copy finished.</source>
        <translation>Der Wiederherstellungsdienst wurde beendet, bevor das Kopieren abgeschlossen war.</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) (%1) copied to &quot;%2&quot; on %3.</source>
        <translation>
            <numerusform>%n Datei (%1) nach „%2“ auf %3 kopiert.</numerusform>
            <numerusform>%n Dateien (%1) nach „%2“ auf %3 kopiert.</numerusform>
        </translation>
    </message>
    <message>
        <source>Names already taken there, so copied under new names:</source>
        <translation>Diese Namen waren dort schon vergeben, daher unter neuen Namen kopiert:</translation>
    </message>
    <message>
        <source>%1 as %2</source>
        <translation>%1 als %2</translation>
    </message>
    <message>
        <source>Needed: %1, free: %2</source>
        <translation>Benötigt: %1, frei: %2</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) (%1) were copied completely before it stopped.</source>
        <translation>
            <numerusform>%n Datei (%1) wurde vor dem Abbruch vollständig kopiert.</numerusform>
            <numerusform>%n Dateien (%1) wurden vor dem Abbruch vollständig kopiert.</numerusform>
        </translation>
    </message>
    <message>
        <source>Files Copied</source>
        <translation>Dateien kopiert</translation>
    </message>
    <message>
        <source>Copy Cancelled</source>
        <translation>Kopieren abgebrochen</translation>
    </message>
</context>
<context>
    <name>BrowseModel</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Date Modified</source>
        <translation>Änderungsdatum</translation>
    </message>
    <message>
        <source>Link</source>
        <translation>Verknüpfung</translation>
    </message>
</context>
<context>
    <name>CopyDestinationPage</name>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Copy to</source>
        <translation>Kopieren nach</translation>
    </message>
    <message>
        <source>Partition</source>
        <translation>Partition</translation>
    </message>
    <message>
        <source>Disk</source>
        <translation>Datenträger</translation>
    </message>
    <message>
        <source>File System</source>
        <translation>Dateisystem</translation>
    </message>
    <message>
        <source>Files to copy: %1</source>
        <translation>Zu kopierende Dateien: %1</translation>
    </message>
    <message>
        <source>Looking for partitions, please wait...</source>
        <translation>Partitionen werden gesucht, bitte warten...</translation>
    </message>
    <message>
        <source>%1 free of %2</source>
        <translation>%1 frei von %2</translation>
    </message>
    <message>
        <source>Not enough free space for the selection</source>
        <translation>Nicht genug freier Speicherplatz für die Auswahl</translation>
    </message>
    <message>
        <source>too small</source>
        <translation>zu klein</translation>
    </message>
    <message>
        <source>No other partition can take the files. Connect a USB disk and go back and forth to look again.</source>
        <translation>Keine andere Partition kann die Dateien aufnehmen. Schließen Sie einen USB-Datenträger an und gehen Sie zurück und wieder vor, um erneut zu suchen.</translation>
    </message>
    <message>
        <source>No partition has enough free space for the selection.</source>
        <translation>Keine Partition hat genug freien Speicherplatz für die Auswahl.</translation>
    </message>
    <message>
        <source>Free Space</source>
        <translation>Freier Speicher</translation>
    </message>
    <message>
        <source>cannot be opened</source>
        <translation>kann nicht geöffnet werden</translation>
    </message>
</context>
<context>
    <name>CopyResultPage</name>
    <message>
        <source>Back to Files</source>
        <translation>Zurück zu den Dateien</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
</context>
<context>
    <name>InterruptedRestorePage</name>
    <message>
        <source>The last restore did not finish</source>
        <translation>Die letzte Wiederherstellung wurde nicht abgeschlossen</translation>
    </message>
    <message>
        <source>Restore Again</source>
        <translation>Erneut wiederherstellen</translation>
    </message>
    <message>
        <source>Other Options</source>
        <translation>Andere Optionen</translation>
    </message>
    <message>
        <source>It was cut off while it was writing to your disk, and your system may not start until it is restored. Run the restore again to finish it.</source>
        <translation>Sie wurde unterbrochen, während sie auf Ihren Datenträger schrieb, und Ihr System startet möglicherweise erst wieder, wenn es wiederhergestellt ist. Führen Sie die Wiederherstellung erneut aus, um sie abzuschließen.</translation>
    </message>
    <message>
        <source>%1, started %2</source>
        <translation>%1, begonnen am %2</translation>
    </message>
    <message>
        <source>Reset to factory settings, keeping personal files</source>
        <translation>Auf Werkseinstellungen zurücksetzen, persönliche Dateien behalten</translation>
    </message>
    <message>
        <source>Reset to factory settings</source>
        <translation>Auf Werkseinstellungen zurücksetzen</translation>
    </message>
    <message>
        <source>Restore from a backup</source>
        <translation>Aus einer Sicherung wiederherstellen</translation>
    </message>
    <message>
        <source>Restore from the backup of %1</source>
        <translation>Aus der Sicherung vom %1 wiederherstellen</translation>
    </message>
    <message>
        <source>The initial backup will be written onto your system&apos;s partitions again. Your personal files are kept.</source>
        <translation>Die Erstsicherung wird erneut auf die Partitionen Ihres Systems geschrieben. Ihre persönlichen Dateien bleiben erhalten.</translation>
    </message>
    <message>
        <source>The initial backup will be written onto your system&apos;s partitions again, and the personal files of all users on this device will be cleared.</source>
        <translation>Die Erstsicherung wird erneut auf die Partitionen Ihres Systems geschrieben, und die persönlichen Dateien aller Benutzer auf diesem Gerät werden gelöscht.</translation>
    </message>
    <message>
        <source>The backup will be written onto your system&apos;s partitions again.</source>
        <translation>Die Sicherung wird erneut auf die Partitionen Ihres Systems geschrieben.</translation>
    </message>
    <message>
        <source>The backup in %1 will be written onto your system&apos;s partitions again.</source>
        <translation>Die Sicherung in %1 wird erneut auf die Partitionen Ihres Systems geschrieben.</translation>
    </message>
    <message>
        <source>Partitions it writes: %1</source>
        <translation>Zu schreibende Partitionen: %1</translation>
    </message>
</context>
<context>
    <name>LiveWidgets</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>Recovery.Table.Header</name>
    <message>
        <source>Backup File</source>
        <translation>Sicherungsdatei</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
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
    <message>
        <source>The recovery service cannot be reached.</source>
        <translation>Der Wiederherstellungsdienst ist nicht erreichbar.</translation>
    </message>
    <message>
        <source>Restore Again</source>
        <translation>Erneut wiederherstellen</translation>
    </message>
    <message>
        <source>The Restore Cannot Be Resumed</source>
        <translation>Die Wiederherstellung kann nicht fortgesetzt werden</translation>
    </message>
    <message>
        <source>The recovery partition is missing, read-only or full, so the restore cannot be recorded there. If the restore is cut off, by a power failure for example, it cannot be run again from here, and your system may not start. You may continue anyway.</source>
        <translation>Die Wiederherstellungspartition fehlt, ist schreibgeschützt oder voll, daher kann die Wiederherstellung dort nicht vermerkt werden. Wird die Wiederherstellung unterbrochen, etwa durch einen Stromausfall, kann sie von hier aus nicht erneut ausgeführt werden, und Ihr System startet möglicherweise nicht. Sie können trotzdem fortfahren.</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Fortfahren</translation>
    </message>
    <message>
        <source>The recovery service stopped before the task finished.</source>
        <translation>Der Wiederherstellungsdienst wurde beendet, bevor die Aufgabe abgeschlossen war.</translation>
    </message>
    <message>
        <source>The target location is full, please free up some space and try again</source>
        <translation>Der Zielort ist voll, bitte geben Sie Speicherplatz frei und versuchen Sie es erneut</translation>
    </message>
    <message>
        <source>The backup lies where the restore would write; move it to another disk and try again</source>
        <translation>Die Sicherung liegt dort, wo die Wiederherstellung schreiben würde; verschieben Sie sie auf eine andere Festplatte und versuchen Sie es erneut</translation>
    </message>
    <message>
        <source>The restore cannot write %1: it is missing, in use or too small. Nothing was written.</source>
        <translation>Die Wiederherstellung kann %1 nicht beschreiben: Es fehlt, wird verwendet oder ist zu klein. Es wurde nichts geschrieben.</translation>
    </message>
    <message>
        <source>The partition for &quot;%1&quot; of the initial backup cannot be found (it may have been formatted). Nothing was restored.</source>
        <translation>Die Partition für „%1“ der ersten Sicherung wurde nicht gefunden (sie wurde eventuell formatiert). Es wurde nichts wiederhergestellt.</translation>
    </message>
    <message>
        <source>The system&apos;s partitions are found on more than one device (%1). Remove the disks that are not this computer&apos;s own and try again.</source>
        <translation>Die Partitionen des Systems wurden auf mehr als einem Gerät gefunden (%1). Entfernen Sie die Festplatten, die nicht zu diesem Computer gehören, und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Other users can change the target location, please choose a folder only administrators can change</source>
        <translation>Andere Benutzer können den Zielort ändern, bitte wählen Sie einen Ordner, den nur Administratoren ändern können</translation>
    </message>
    <message>
        <source>Copy cancelled</source>
        <translation>Kopieren abgebrochen</translation>
    </message>
    <message>
        <source>Not enough free space on the destination</source>
        <translation>Nicht genug freier Speicherplatz am Ziel</translation>
    </message>
    <message>
        <source>another task is running</source>
        <translation>Eine andere Aufgabe läuft gerade</translation>
    </message>
    <message>
        <source>The chosen disk is not there; choose the disk again</source>
        <translation>Der gewählte Datenträger ist nicht vorhanden; wählen Sie den Datenträger erneut</translation>
    </message>
    <message>
        <source>The chosen disk holds the backup; choose another disk</source>
        <translation>Der gewählte Datenträger enthält die Sicherung; wählen Sie einen anderen Datenträger</translation>
    </message>
    <message>
        <source>A partition of the chosen disk is in use (mounted); unmount it or choose another disk</source>
        <translation>Eine Partition des gewählten Datenträgers wird verwendet (ist eingehängt); hängen Sie sie aus oder wählen Sie einen anderen Datenträger</translation>
    </message>
    <message>
        <source>The backup was written, but the disk&apos;s extra space could not be used</source>
        <translation>Die Sicherung wurde geschrieben, aber der zusätzliche Platz des Datenträgers konnte nicht genutzt werden</translation>
    </message>
    <message>
        <source>The chosen disk is too small: this backup needs a disk of at least %1 bytes</source>
        <translation>Der gewählte Datenträger ist zu klein: Diese Sicherung benötigt einen Datenträger mit mindestens %1 Byte</translation>
    </message>
    <message>
        <source>Cannot open it for browsing</source>
        <translation>Es kann nicht zum Durchsuchen geöffnet werden</translation>
    </message>
    <message>
        <source>Cannot open the folder</source>
        <translation>Der Ordner kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Cannot read the chosen files</source>
        <translation>Die gewählten Dateien können nicht gelesen werden</translation>
    </message>
    <message>
        <source>Cannot write to the destination</source>
        <translation>Auf das Ziel kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>Cannot find the destination</source>
        <translation>Das Ziel wurde nicht gefunden</translation>
    </message>
    <message>
        <source>Browsing was closed</source>
        <translation>Das Durchsuchen wurde beendet</translation>
    </message>
    <message>
        <source>another copy is running</source>
        <translation>Ein anderer Kopiervorgang läuft gerade</translation>
    </message>
    <message>
        <source>Invalid path</source>
        <translation>Ungültiger Pfad</translation>
    </message>
    <message>
        <source>Nothing is open for browsing</source>
        <translation>Zum Durchsuchen ist nichts geöffnet</translation>
    </message>
    <message>
        <source>This directory holds no whole-disk backup: only a whole-disk backup can be restored onto another disk.</source>
        <translation>Dieses Verzeichnis enthält keine Sicherung eines ganzen Datenträgers: Nur eine solche kann auf einen anderen Datenträger wiederhergestellt werden.</translation>
    </message>
</context>
<context>
    <name>RecoveryPage</name>
    <message>
        <source>System Repair Tools</source>
        <translation>Systemreparatur­werkzeuge</translation>
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
    <message>
        <source>Try Again</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>The recovery service cannot be reached.</source>
        <translation>Der Wiederherstellungsdienst ist nicht erreichbar.</translation>
    </message>
    <message>
        <source>Copy Personal Files…</source>
        <translation>Persönliche Dateien kopieren…</translation>
    </message>
    <message>
        <source>Copy documents off the installed system before restoring it</source>
        <translation>Dokumente vom installierten System kopieren, bevor es wiederhergestellt wird</translation>
    </message>
</context>
<context>
    <name>RepairFileSystemWidget</name>
    <message>
        <source>Repair File System</source>
        <translation>Dateisystem reparieren</translation>
    </message>
    <message>
        <source>The file system has no errors.</source>
        <translation>Das Dateisystem weist keine Fehler auf.</translation>
    </message>
    <message>
        <source>Repairing...</source>
        <translation>Reparatur läuft...</translation>
    </message>
    <message>
        <source>Are you sure you want to repair the file system of %1? It may lead to data loss.</source>
        <translation>Möchten Sie das Dateisystem von %1 wirklich reparieren? Dabei kann es zu Datenverlust kommen.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Repair now</source>
        <translation>Jetzt reparieren</translation>
    </message>
    <message>
        <source>Repair completed. Reboot to enter the system.</source>
        <translation>Reparatur abgeschlossen. Starten Sie den Computer neu, um ins System zu gelangen.</translation>
    </message>
    <message>
        <source>Repair failed, please try another repair method.</source>
        <translation>Reparatur fehlgeschlagen. Bitte versuchen Sie eine andere Reparaturmethode.</translation>
    </message>
</context>
<context>
    <name>RestoreDiskChooser</name>
    <message>
        <source>too small, the backup needs %1</source>
        <translation>zu klein, die Sicherung benötigt %1</translation>
    </message>
    <message>
        <source>it holds the backup</source>
        <translation>er enthält die Sicherung</translation>
    </message>
    <message>
        <source>a partition on it is in use (mounted)</source>
        <translation>eine Partition darauf wird verwendet (ist eingehängt)</translation>
    </message>
    <message>
        <source>mounted</source>
        <translation>eingehängt</translation>
    </message>
    <message>
        <source>Choose the disk to restore onto</source>
        <translation>Datenträger für die Wiederherstellung wählen</translation>
    </message>
    <message>
        <source>Use the whole disk (the last partition grows to fill a larger disk)</source>
        <translation>Den ganzen Datenträger nutzen (die letzte Partition wächst auf einem größeren Datenträger bis zum Ende)</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>%1, serial %2, %3 (%4)</source>
        <translation>%1, Seriennummer %2, %3 (%4)</translation>
    </message>
    <message>
        <source>Unknown disk</source>
        <translation>Unbekannter Datenträger</translation>
    </message>
    <message>
        <source>none</source>
        <translation>keine</translation>
    </message>
    <message>
        <source>No partitions</source>
        <translation>Keine Partitionen</translation>
    </message>
    <message>
        <source>Holds: %1</source>
        <translation>Enthält: %1</translation>
    </message>
    <message>
        <source>The disk this backup was made of is not in this computer. Choose the disk to write it onto: it needs at least %1.</source>
        <translation>Der Datenträger, von dem diese Sicherung erstellt wurde, ist nicht in diesem Computer. Wählen Sie den Datenträger, auf den sie geschrieben werden soll: Er benötigt mindestens %1.</translation>
    </message>
    <message>
        <source>Cannot be used: %1</source>
        <translation>Nicht verwendbar: %1</translation>
    </message>
    <message>
        <source>Choose the disk to write this backup onto: it needs at least %1.</source>
        <translation>Wählen Sie den Datenträger, auf den diese Sicherung geschrieben wird: Sie benötigt mindestens %1.</translation>
    </message>
    <message>
        <source>The disk this backup was made of</source>
        <translation>Der Datenträger, von dem diese Sicherung stammt</translation>
    </message>
</context>
<context>
    <name>RestoreDiskConfirmPage</name>
    <message>
        <source>Replace everything on this disk?</source>
        <translation>Alles auf diesem Datenträger ersetzen?</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>The partitions keep the sizes they had at the backup.</source>
        <translation>Die Partitionen behalten die Größen, die sie bei der Sicherung hatten.</translation>
    </message>
    <message>
        <source>The last partition grows to fill the disk.</source>
        <translation>Die letzte Partition wächst bis zum Ende des Datenträgers.</translation>
    </message>
    <message>
        <source>The backup will be written onto this disk:
%1

Everything on it will be replaced by the backup and cannot be recovered. %2</source>
        <translation>Die Sicherung wird auf diesen Datenträger geschrieben:
%1

Alles darauf wird durch die Sicherung ersetzt und kann nicht wiederhergestellt werden. %2</translation>
    </message>
</context>
<context>
    <name>RestorePage</name>
    <message>
        <source>Keep personal files and apps</source>
        <translation>Persönliche Dateien und Apps behalten</translation>
    </message>
    <message>
        <source>Reset to factory settings</source>
        <translation>Auf Werkseinstellungen zurücksetzen</translation>
    </message>
    <message>
        <source>The initial backup file does not exist, so your system cannot be reset to factory settings.</source>
        <translation>Die Erstsicherung ist nicht vorhanden, daher kann Ihr System nicht auf die Werkseinstellungen zurückgesetzt werden.</translation>
    </message>
    <message>
        <source>Restore Now</source>
        <translation>Jetzt wiederherstellen</translation>
    </message>
    <message>
        <source>Restore from backup files</source>
        <translation>Aus Sicherungsdateien wiederherstellen</translation>
    </message>
    <message>
        <source>Backup directory</source>
        <translation>Sicherungsverzeichnis</translation>
    </message>
    <message>
        <source>Restore from a restore point</source>
        <translation>Von einem Wiederherstellungspunkt wiederherstellen</translation>
    </message>
    <message>
        <source>Applying changes to your system...</source>
        <translation>Änderungen werden auf Ihr System angewendet...</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Wiederherstellung</translation>
    </message>
    <message>
        <source>Backup file is invalid</source>
        <translation>Die Sicherungsdatei ist ungültig</translation>
    </message>
    <message>
        <source>The initial backup file is broken, so your system cannot be reset to factory settings.</source>
        <translation>Die Erstsicherung ist beschädigt, daher kann Ihr System nicht auf die Werkseinstellungen zurückgesetzt werden.</translation>
    </message>
    <message>
        <source>The system contains encrypted partition, please decrypt it before using the backup and restore function.</source>
        <translation>Das System enthält eine verschlüsselte Partition. Bitte entschlüsseln Sie sie, bevor Sie die Sicherungs- und Wiederherstellungsfunktion verwenden.</translation>
    </message>
    <message>
        <source>Invalid path</source>
        <translation>Ungültiger Pfad</translation>
    </message>
    <message>
        <source>Keep Personal Files</source>
        <translation>Persönliche Dateien behalten</translation>
    </message>
    <message>
        <source>It will reset data on your system disk but keep your personal data. You need to create an account with the same username as the current user so that you can access your personal data later. Please confirm before proceeding.</source>
        <translation>Die Daten auf Ihrem Systemdatenträger werden zurückgesetzt, Ihre persönlichen Daten bleiben jedoch erhalten. Damit Sie später auf Ihre persönlichen Daten zugreifen können, müssen Sie ein Konto mit demselben Benutzernamen wie der aktuelle Benutzer anlegen. Bitte bestätigen Sie, bevor Sie fortfahren.</translation>
    </message>
    <message>
        <source>Reset to Factory Settings</source>
        <translation>Auf Werkseinstellungen zurücksetzen</translation>
    </message>
    <message>
        <source>It will permanently clear data of all users on this device, please confirm before proceeding</source>
        <translation>Dadurch werden die Daten aller Benutzer auf diesem Gerät dauerhaft gelöscht. Bitte bestätigen Sie, bevor Sie fortfahren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Confirm and Reset</source>
        <translation>Bestätigen und zurücksetzen</translation>
    </message>
    <message>
        <source>Browse Files…</source>
        <translation>Dateien durchsuchen…</translation>
    </message>
    <message>
        <source>Choose the disk to restore a whole-disk backup onto</source>
        <translation>Datenträger für die Wiederherstellung einer Sicherung des ganzen Datenträgers wählen</translation>
    </message>
</context>
<context>
    <name>Tessel::Widgets::TFileChooserEdit</name>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
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
    <message>
        <source>Less than a minute left</source>
        <translation>Weniger als eine Minute verbleibend</translation>
    </message>
    <message>
        <source>About 1 minute left</source>
        <translation>Noch etwa 1 Minute</translation>
    </message>
    <message>
        <source>About %1 minutes left</source>
        <translation>Noch etwa %1 Minuten</translation>
    </message>
    <message>
        <source>About %1 h %2 min left</source>
        <translation>Noch etwa %1 Std. %2 Min.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
</TS>
