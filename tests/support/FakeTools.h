#pragma once

// Puts stand-ins for outside tools first on PATH for one test, records how they were called, and restores the
// environment afterwards.

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
    QByteArray m_oldPath;
};
