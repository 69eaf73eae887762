#pragma once

// Copies chosen files and folders into a directory of a destination file system, off the service's main thread.
// Everything is reached through directory descriptors and never through a link: the source is only read, and on
// the destination nothing is created except under O_EXCL names of our own and renamed into place without replacing
// anything, so a planted link or an existing file is never written through or over. Each file is complete once it
// has its name: a cancelled or failed copy leaves only whole files behind.

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>

struct stat;

struct CopySource
{
    // The directory holding it (owned by the copier once given) and its name there.
    int parentFd = -1;
    QString name;
};

class FileCopier : public QThread
{
    Q_OBJECT

public:
    // destRootFd (owned) is the destination file system's top; the copies go into destDir below it.
    FileCopier(const QList<CopySource>& sources, int destRootFd, const QString& destDir, QObject* parent = nullptr);
    ~FileCopier() override;

    void cancel() { m_cancelled = true; }

    // "name (2)" for the second name tried: before the extension of a file, after the name of a folder.
    static QString numberedName(const QString& name, int number, bool isFile);

    // Once the thread has ended: the failure's text (empty on success) and the outcome's data.
    QString errorText() const { return m_outcomeError; }
    QJsonObject outcome() const { return m_outcome; }

signals:
    void progressed(qint64 bytesDone, qint64 bytesTotal);

protected:
    void run() override;

private:
    void finish(const QString& errMsg, const QJsonObject& data);
    bool scan(int parentFd, const QByteArray& name);
    bool copyEntry(int srcParent, const QByteArray& name, int destDirFd, const QString& destName);
    bool copyFile(int srcParent, const QByteArray& name, const struct stat& info, int destDirFd,
                  const QString& destName);
    bool copyDirectory(int srcParent, const QByteArray& name, const struct stat& info, int destDirFd,
                       const QString& destName);
    bool copyLink(int srcParent, const QByteArray& name, const struct stat& info, int destDirFd,
                  const QString& destName);
    bool copyData(int in, int out);
    // Renames a finished temporary into place under the first free one of destName, "destName (2)"...
    bool placeTemporary(int destDirFd, const QByteArray& temporary, const QString& destName, bool isFile,
                        QString& placed);
    void keepAttributes(int fd, const struct stat& info);
    void addBytes(qint64 bytes);
    QByteArray temporaryName();
    QJsonObject counts() const;

    QList<CopySource> m_sources;
    int m_destRootFd = -1;
    QString m_destDir;
    std::atomic_bool m_cancelled{false};
    qint64 m_bytesTotal = 0;
    qint64 m_bytesDone = 0;
    // What the copy takes on the destination at most.
    qint64 m_bytesNeeded = 0;
    int m_files = 0;
    qint64 m_filesBytes = 0;
    int m_lastPercent = -1;
    int m_temporaryCount = 0;
    QString m_error;
    QJsonArray m_renamed;
    QJsonArray m_skipped;
    QByteArray m_buffer;
    QString m_outcomeError;
    QJsonObject m_outcome;
};
