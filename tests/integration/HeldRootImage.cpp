#include "HeldRootImage.h"

#include "LiveService.h"

#include <QFile>
#include <QTest>

#include <csignal>

namespace LiveTest {

HeldRootImage::HeldRootImage()
{
    m_held = m_dir.filePath("held");
    const QString standIn = m_dir.filePath("marlin-clone");
    // The stand-in records its process id and waits to be killed; sleep is the stand-in's, not the test's. Only the
    // writing is held: the checks before it run as they are.
    const QString script = QString("#!/bin/sh\n"
                                   "[ \"$1\" = --tui ] && for arg in \"$@\"; do\n"
                                   "    case $arg in */system.rbk) echo $$ >'%1'; exec sleep infinity ;; esac\n"
                                   "done\n"
                                   "exec '%2/marlin-clone' \"$@\"\n")
                               .arg(m_held, env("MARLIN_BIN_DIR"));
    m_mounted = writeFile(standIn, script.toUtf8()) &&
                QFile::setPermissions(standIn, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
                run("mount", {"--bind", standIn, "/usr/local/sbin/marlin-clone"});
}

HeldRootImage::~HeldRootImage()
{
    release();
}

bool HeldRootImage::waitUntilHeld(int timeoutMs) const
{
    return QTest::qWaitFor([this] { return !readFile(m_held).trimmed().isEmpty(); }, timeoutMs);
}

void HeldRootImage::cut()
{
    const int pid = readFile(m_held).trimmed().toInt();
    if (pid > 0) {
        ::kill(pid, SIGKILL);
    }
    release();
}

void HeldRootImage::release()
{
    if (m_mounted) {
        run("umount", {"/usr/local/sbin/marlin-clone"});
        m_mounted = false;
    }
}

} // namespace LiveTest
