#include "FakeTools.h"

#include <QFile>

FakeTools::FakeTools(const QStringList& names) : m_oldPath(qgetenv("PATH"))
{
    const QString tool = QStringLiteral(MARLIN_TEST_TOOLS_DIR "/fake-tool");
    for (const QString& name : names) {
        QFile::link(tool, m_dir.filePath(name));
    }
    qputenv("PATH", QFile::encodeName(m_dir.path()) + ":" + m_oldPath);
}

FakeTools::~FakeTools()
{
    qputenv("PATH", m_oldPath);
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
