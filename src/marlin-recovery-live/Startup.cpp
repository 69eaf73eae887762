#include "Startup.h"

#include "MainWindow.h"

#include <InstalledSystem.h>
#include <core/command.h>
#include <tessel/core/ConsoleAppender.h>
#include <tessel/core/Logger.h>
#include <tessel/core/RollingFileAppender.h>
#include <tessel/widgets/TApplication.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QScreen>
#include <QTranslator>

using namespace Tessel::Widgets;

namespace {

const QString LogDir = "/home/marlin/";
const QString LogFormat = "%{time}{yyyy-MM-dd, HH:mm:ss.zzz}[%{type:1}][%{threadid} ] %{message}\n";
const QString TranslationDir = "/usr/share/marlin-recovery-gui/translations/live";
const QSize WindowSize(860, 640);

// rm through sudo: the flags belong to root on the installed system.
bool removeBySudo(const QString& path)
{
    return SpawnCmd("sudo", {"rm", "-rf", path});
}

bool clearFlags(const QString& rootMountPoint)
{
    const QString flagPath = Startup::pathBelow(rootMountPoint, "/autoRepair.flag");
    const QString flagPathNew = Startup::pathBelow(rootMountPoint, "/.flag.d/autoRepair.flag");
    const QString aptInstaller = Startup::pathBelow(rootMountPoint, "/etc/apt/apt.conf.d/00marlin-installer");
    qInfo().noquote() << "isExistAutoRepairFlag, autoRepairFlagPath: " + flagPath;
    bool autoRepair = false;
    if (QFile::exists(flagPath)) {
        autoRepair = true;
        qInfo().noquote() << "isExistAutoRepairFlag: detected autoRepairFlag";
        if (!removeBySudo(flagPath)) {
            qWarning().noquote() << "isExistAutoRepairFlag, rmAutoRepairFlag failed";
        }
    }
    if (QFile::exists(flagPathNew)) {
        qInfo().noquote() << "isExistAutoRepairFlag: detected autoRepairFlagPathNew";
        if (!removeBySudo(flagPathNew)) {
            qWarning().noquote() << "isExistAutoRepairFlag, autoRepairFlagPathNew failed";
        }
        autoRepair = true;
    }
    if (QFile::exists(aptInstaller)) {
        qWarning().noquote() << "isExistAutoRepairFlag: detected aptMarlinInstaller: " + aptInstaller;
        if (!removeBySudo(aptInstaller)) {
            qWarning().noquote() << "isExistAutoRepairFlag, rm aptMarlinInstaller failed";
        }
    }
    return autoRepair;
}

// Where the recovery partition is mounted, found with or without a readable root; empty when it is not found.
QString recoveryMountPoint(const QString& rootMountPoint, const QString& rootUUID, QString& recoveryUUID,
                           bool& wasMounted)
{
    recoveryUUID = InstalledSystem::recoveryUUIDOf(rootMountPoint, rootUUID);
    wasMounted = !recoveryUUID.isEmpty() && !Utils::mountPointOfUUID(recoveryUUID).isEmpty();
    return recoveryUUID.isEmpty() ? QString() : Utils::mountDeviceByUUID(recoveryUUID);
}

// What the look mounted is unmounted again: a partition left mounted could not be written by a restore.
void unmountIfMountedHere(const QString& uuid, const QString& mountPoint, bool wasMounted)
{
    if (!mountPoint.isEmpty() && !wasMounted) {
        Utils::umountDeviceByUUID(uuid);
    }
}

QString restoreMarkText(const QString& recoveryMountPoint)
{
    const QJsonObject mark = Utils::readRestoreMark(recoveryMountPoint);
    return mark.isEmpty() ? QString() : Utils::jsonToString(mark);
}

void readPendingOrder(const QString& recoveryMountPoint, Startup::AutoRepairResult& result)
{
    QJsonObject order;
    if (recoveryMountPoint.isEmpty() ||
        !Utils::getRecoveryJsonInfo(order, QString("%1/backup/recovery.json").arg(recoveryMountPoint))) {
        qInfo().noquote() << "recoveryObj is empty...";
        return;
    }
    if (order.contains("locale")) {
        result.sysLocale = order.value("locale").toString();
    }
    result.recoveryInfo = QString::fromUtf8(QJsonDocument(order).toJson());
    qInfo().noquote() << "sysLocale = " + result.sysLocale + ", recoveryInfo = " + result.recoveryInfo;
}

void placeWindow(MainWindow& window)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen != nullptr ? screen->geometry().size() : QSize();
    if (!Startup::fitsFixedSize(size)) {
        window.showMaximized();
        return;
    }
    window.setFixedSize(WindowSize);
    window.move((size.width() - window.width()) / 2, (size.height() - window.height()) / 2);
    window.show();
}

} // namespace

namespace Startup {

void setUpLogging()
{
    QDir().mkpath(LogDir);
    auto* console = new Tessel::Core::ConsoleAppender;
    console->setFormat(LogFormat);
    auto* file = new Tessel::Core::RollingFileAppender(LogDir + "marlin-recovery-live.log");
    file->setFormat(LogFormat);
    file->setLogFilesLimit(5);
    file->setDatePattern(Tessel::Core::RollingFileAppender::DailyRollover);
    Tessel::Core::Logger::globalInstance()->registerAppender(console);
    Tessel::Core::Logger::globalInstance()->registerAppender(file);
}

QString pathBelow(const QString& root, const QString& path)
{
    if (root.endsWith('/') && path.startsWith('/')) {
        return root + path.mid(1);
    }
    return root + path;
}

AutoRepairResult isExistAutoRepairFlag(const CmdLineInfo& cmdLine)
{
    AutoRepairResult result;
    if (cmdLine.bootFrom == "live-grub") {
        result.interruptedRestore = findInterruptedRestore(cmdLine, &result.recoveryUUID);
        return result;
    }
    const bool rootWasMounted = !Utils::mountPointOfUUID(cmdLine.rootUUID).isEmpty();
    const QString rootMountPoint = Utils::mountDeviceByUUID(cmdLine.rootUUID);
    if (rootMountPoint.isEmpty()) {
        // No flags to read; the pending order lies on the recovery partition, which is found without the root.
        qWarning().noquote() << "isExistAutoRepairFlag rootMountPointTmp isEmpty";
    } else {
        result.autoRepair = clearFlags(rootMountPoint);
        Utils::getSystemLocale(rootMountPoint, result.sysLocale);
    }
    // One look for the recovery partition serves the pending order and the record of a cut-off restore.
    bool recoveryWasMounted = false;
    const QString recovery =
        recoveryMountPoint(rootMountPoint, cmdLine.rootUUID, result.recoveryUUID, recoveryWasMounted);
    readPendingOrder(recovery, result);
    result.interruptedRestore = restoreMarkText(recovery);
    unmountIfMountedHere(result.recoveryUUID, recovery, recoveryWasMounted);
    unmountIfMountedHere(cmdLine.rootUUID, rootMountPoint, rootWasMounted);
    return result;
}

QString findInterruptedRestore(const CmdLineInfo& cmdLine, QString* recoveryUUID)
{
    const bool rootWasMounted = !Utils::mountPointOfUUID(cmdLine.rootUUID).isEmpty();
    const QString rootMountPoint = Utils::mountDeviceByUUID(cmdLine.rootUUID);
    QString uuid;
    bool recoveryWasMounted = false;
    const QString recovery = recoveryMountPoint(rootMountPoint, cmdLine.rootUUID, uuid, recoveryWasMounted);
    if (recoveryUUID != nullptr) {
        *recoveryUUID = uuid;
    }
    unmountIfMountedHere(cmdLine.rootUUID, rootMountPoint, rootWasMounted);
    const QString mark = restoreMarkText(recovery);
    unmountIfMountedHere(uuid, recovery, recoveryWasMounted);
    return mark;
}

QString chooseLocale(const QString& sysLocale, const CmdLineInfo& cmdLine)
{
    // The live command line carries no locale of its own in our CmdLineInfo: the system's is the fallback.
    QString locale = sysLocale.isEmpty() ? QLocale::system().name() : sysLocale;
    if (!locale.isEmpty()) {
        qputenv("LANGUAGE", locale.toLatin1());
    }
    qInfo().noquote() << "live locale: " + locale + ", bootFrom = " + cmdLine.bootFrom +
                             ", rootUUID = " + cmdLine.rootUUID;
    return locale;
}

bool installTranslation(QTranslator& translator, const QString& locale)
{
    const QString file = QString("%1/marlin-recovery-live_%2.qm").arg(TranslationDir, locale);
    const bool loaded = translator.load(file);
    if (loaded) {
        QCoreApplication::installTranslator(&translator);
    }
    qInfo().noquote() << QString("locale: <%1> current load ts file: <%2>").arg(locale, file);
    return loaded;
}

bool installQtTranslation(QTranslator& translator, const QString& locale)
{
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const bool loaded = translator.load(QLocale(locale), "qtbase", "_", dir);
    if (loaded) {
        QCoreApplication::installTranslator(&translator);
    }
    qInfo().noquote() << QString("locale: <%1> Qt's catalogue from <%2>: %3").arg(locale, dir, loaded ? "yes" : "no");
    return loaded;
}

bool fitsFixedSize(const QSize& screen)
{
    return screen.width() >= WindowSize.width() && screen.height() >= WindowSize.height();
}

int run(int argc, char** argv)
{
    setUpLogging();
    CmdLineInfo cmdLine;
    Utils::getCmdLineInfo(cmdLine);
    TApplication app(argc, argv);
    app.setOrganizationName("marlin");
    app.setApplicationName("marlin-recovery-live");
    const AutoRepairResult found = isExistAutoRepairFlag(cmdLine);
    const QString locale = chooseLocale(found.sysLocale, cmdLine);
    qInfo().noquote() << "exitAutoRepairFlag: " + QString(found.autoRepair ? "true" : "false") +
                             ", recoveryInfo: " + found.recoveryInfo;
    QTranslator translator;
    installTranslation(translator, locale);
    QTranslator qtTranslator;
    installQtTranslation(qtTranslator, locale);
    app.setApplicationDisplayName("Recovery GUI Live");
    TApplication::setStyle("glaze");
    const QIcon icon = QIcon::fromTheme("ivy-recovery");
    app.setWindowIcon(icon);
    app.setProductIcon(icon);
    QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, true);
    if (!app.setSingleInstance(app.applicationName())) {
        return -1;
    }
    auto* window = new MainWindow(cmdLine, found.autoRepair, found.recoveryInfo);
    window->setInterruptedRestore(found.interruptedRestore);
    window->setRecoveryUUID(found.recoveryUUID);
    placeWindow(*window);
    window->startScreenDetection();
    const int code = app.exec();
    delete window;
    return code;
}

} // namespace Startup
