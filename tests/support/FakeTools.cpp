#include "FakeTools.h"

#include <QFile>

FakeTools::FakeTools(const QStringList& names) : m_oldPath(qgetenv("PATH"))
{
    const QString tool = QStringLiteral(MARLIN_TEST_TOOLS_DIR "/fake-tool");
    for (const QString& name : names) {
        QFile::link(tool, m_dir.filePath(name));
    }
    qputenv("PATH", QFile::encodeName(m_dir.path()) + ":" + m_oldPath);
    qputenv("FAKE_TOOL_LOG", QFile::encodeName(m_dir.filePath("calls.log")));
}

FakeTools::~FakeTools()
{
    qputenv("PATH", m_oldPath);
    qunsetenv("FAKE_TOOL_LOG");
    for (const QString& variable : m_variables) {
        qunsetenv(variable.toLatin1().constData());
    }
}

void FakeTools::setBehaviour(const QString& name, const QString& options)
{
    const QString variable = "FAKE_" + name.toUpper().replace('-', '_');
    qputenv(variable.toLatin1().constData(), options.toUtf8());
    m_variables.append(variable);
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
