#pragma once

// The start-up steps of the program, apart so tests can run them on their own.

#include <utils.h>

#include <QString>

class QTranslator;

namespace Startup {

// Console and daily rolling file under /home/marlin/.
void setUpLogging();

// What was found on the installed system before the window exists.
struct AutoRepairResult
{
    bool autoRepair = false;
    QString sysLocale;
    QString recoveryInfo;
    // The record of a restore that was cut off (a JSON text); empty when the last restore finished.
    QString interruptedRestore;
    // The recovery partition found; empty when none was.
    QString recoveryUUID;
};

// Removes the auto-repair flags and the installer's apt file, reads the installed locale and the pending order
// (reading recovery.json consumes it) and the record of a cut-off restore. Booted from "live-grub", only the
// record is looked for.
AutoRepairResult isExistAutoRepairFlag(const CmdLineInfo& cmdLine);

// The record a cut-off restore left on the recovery partition (a JSON text); empty when the last restore finished.
// Needs no readable installed root. The root is left mounted only when it was before; recoveryUUID, when given, gets
// the recovery partition found.
QString findInterruptedRestore(const CmdLineInfo& cmdLine, QString* recoveryUUID = nullptr);

// path below root, without a doubled slash when root ends with one.
QString pathBelow(const QString& root, const QString& path);

// The installed locale, else the system's; also exported as LANGUAGE for the tools started later.
QString chooseLocale(const QString& sysLocale, const CmdLineInfo& cmdLine);

// Loads the program's catalogue for locale into translator and installs it; false when there is none.
bool installTranslation(QTranslator& translator, const QString& locale);
// The same for Qt's own texts (file dialog, standard buttons), from Qt's translations directory.
bool installQtTranslation(QTranslator& translator, const QString& locale);

// true (and the window gets the fixed 860 x 640) when the screen has room for it, else it is shown maximised.
bool fitsFixedSize(const QSize& screen);

int run(int argc, char** argv);

} // namespace Startup
