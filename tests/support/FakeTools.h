#pragma once

// Puts stand-ins for outside tools first in the list of directories the system looks up its tools in, for one test,
// records how they were called, and restores the list afterwards.

#include <QStringList>
#include <QTemporaryDir>

class FakeTools
{
public:
    explicit FakeTools(const QStringList& names);
    ~FakeTools();

    // What the tool does when called, in fake-tool's own options, e.g. "--err 'invalid file' --exit 1".
    void setBehaviour(const QString& name, const QString& options);
    // Every call so far, one "name arg arg..." line each.
    QStringList calls() const;
    QString dir() const;

private:
    QTemporaryDir m_dir;
    QStringList m_oldSearchPath;
};
