// Appends log lines to one file and hands each line to the kernel at once, so a crash keeps the last lines.
#pragma once

#include "AbstractAppender.h"

#include <QFile>
#include <QMutex>
#include <QString>

namespace Tessel::Core {

// The file is opened on the first record, in append mode; its directory must already exist.
class FileAppender : public AbstractAppender
{
public:
    explicit FileAppender(const QString& fileName = QString());
    ~FileAppender() override;

    QString fileName() const;
    void setFileName(const QString& fileName);

protected:
    void append(const QString& formatted) override;

    // Runs before every write with the file lock held; lets a subclass move the file aside first.
    virtual void prepareFile(const QString& fileName);
    // Only for use from prepareFile: the next write reopens the file by name.
    void closeFile();

private:
    bool openFile();
    bool isReplaced() const;

    mutable QMutex m_fileMutex;
    QString m_fileName;
    QFile m_file;
    bool m_openFailureReported = false;
};

} // namespace Tessel::Core
