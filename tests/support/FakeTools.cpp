#include "FakeTools.h"

#include "core/ToolPath.h"

#include <QFile>

FakeTools::FakeTools(const QStringList& names) : m_oldSearchPath(ToolPath::searchPath())
{
    // Copies, owned by whoever runs the test and writable by them alone: the tools run only such files, and the
    // source tree may belong to someone else.
    const QString tool = QStringLiteral(MARLIN_TEST_TOOLS_DIR "/fake-tool");
    for (const QString& name : names) {
        QFile::copy(tool, m_dir.filePath(name));
        QFile::setPermissions(m_dir.filePath(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                        QFile::ExeOther);
    }
    ToolPath::setSearchPath(QStringList{m_dir.path()} + m_oldSearchPath);
}

FakeTools::~FakeTools()
{
    ToolPath::setSearchPath(m_oldSearchPath);
}

void FakeTools::setBehaviour(const QString& name, const QString& options)
{
    QFile file(m_dir.filePath(name + ".behaviour"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(options.toUtf8());
    }
}

QStringList FakeTools::calls() const
{
    QFile log(m_dir.filePath("calls.log"));
    if (!log.open(QIODevice::ReadOnly)) {
        return QStringList();
    }
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}

QString FakeTools::dir() const
{
    return m_dir.path();
}
