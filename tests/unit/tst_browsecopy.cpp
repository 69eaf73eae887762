#include "tasks/BrowseSession.h"
#include "tasks/FileCopier.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Names and paths of browsing and copying, and the copy itself against what a destination may hold already.
class TestBrowseCopy : public QObject
{
    Q_OBJECT

private slots:
    void numberedName_data();
    void numberedName();
    void homes_data();
    void homes();
    void splitPath_data();
    void splitPath();
    void plantedLinksAreNeverWrittenThrough();
    void specialFilesAreSkipped();

private:
    // Copies the entries of source (by name) into destRoot/destDir; the copier's error text.
    QString copy(const QString& source, const QStringList& names, const QString& destRoot, const QString& destDir,
                 QJsonObject* outcome = nullptr);
};

namespace {

bool write(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QString TestBrowseCopy::copy(const QString& source, const QStringList& names, const QString& destRoot,
                             const QString& destDir, QJsonObject* outcome)
{
    QList<CopySource> sources;
    for (const QString& name : names) {
        sources.append({::open(QFile::encodeName(source).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), name});
    }
    FileCopier copier(sources, ::open(QFile::encodeName(destRoot).constData(), O_RDONLY | O_DIRECTORY), destDir);
    copier.start();
    copier.wait();
    if (outcome != nullptr) {
        *outcome = copier.outcome();
    }
    return copier.errorText();
}

void TestBrowseCopy::numberedName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isFile");
    QTest::addColumn<QString>("expected");
    QTest::newRow("file") << "a.txt" << true << "a (3).txt";
    QTest::newRow("two extensions") << "photos.tar.gz" << true << "photos (3).tar.gz";
    QTest::newRow("hidden file") << ".bashrc" << true << ".bashrc (3)";
    QTest::newRow("no extension") << "notes" << true << "notes (3)";
    QTest::newRow("folder with a dot") << "v1.2" << false << "v1.2 (3)";
}

void TestBrowseCopy::numberedName()
{
    QFETCH(QString, name);
    QFETCH(bool, isFile);
    QFETCH(QString, expected);
    QCOMPARE(FileCopier::numberedName(name, 3, isFile), expected);
}

void TestBrowseCopy::homes_data()
{
    QTest::addColumn<QByteArray>("fstab");
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QString>("subdir");
    const QByteArray root = "UUID=r / ext4 rw 0 1\n";
    QTest::newRow("bind of the data partition") << root + "UUID=d /data ext4 rw 0 2\n/data/home /home none bind 0 0\n"
                                                << "d"
                                                << "home";
    QTest::newRow("own partition") << root + "UUID=h /home ext4 rw 0 2\n"
                                   << "h"
                                   << "";
    QTest::newRow("none") << root << "r"
                          << "home";
    QTest::newRow("bind within the root") << root + "/srv/home /home none bind 0 0\n"
                                          << "r"
                                          << "srv/home";
    QTest::newRow("commented out") << root + "#UUID=h /home ext4 rw 0 2\n"
                                   << "r"
                                   << "home";
}

void TestBrowseCopy::homes()
{
    QFETCH(QByteArray, fstab);
    QFETCH(QString, uuid);
    QFETCH(QString, subdir);
    QString foundUUID;
    QString foundSubdir;
    BrowseSession::homesOf(FSTab::fromText(fstab), "r", foundUUID, foundSubdir);
    QCOMPARE(foundUUID, uuid);
    QCOMPARE(foundSubdir, subdir);
}

void TestBrowseCopy::splitPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("valid");
    QTest::newRow("top level") << "" << true;
    QTest::newRow("nested") << "root/home/alice" << true;
    QTest::newRow("dots in names") << "root/..hidden/a..b" << true;
    QTest::newRow("parent") << "root/../etc" << false;
    QTest::newRow("trailing parent") << "root/.." << false;
    QTest::newRow("absolute") << "/etc" << false;
    QTest::newRow("trailing slash") << "root/" << false;
    QTest::newRow("current") << "root/./a" << false;
}

void TestBrowseCopy::splitPath()
{
    QFETCH(QString, path);
    QFETCH(bool, valid);
    QStringList parts;
    QCOMPARE(BrowseSession::splitPath(path, parts), valid);
}

void TestBrowseCopy::plantedLinksAreNeverWrittenThrough()
{
    QTemporaryDir source;
    QTemporaryDir dest;
    QTemporaryDir outside;
    QVERIFY(write(source.filePath("a.txt"), "new"));
    QVERIFY(write(outside.filePath("victim"), "keep"));
    // The destination folder itself a link: refused, nothing written.
    QVERIFY(QFile::link(outside.path(), dest.filePath("Recovered Files")));
    QCOMPARE(copy(source.path(), {"a.txt"}, dest.path(), "Recovered Files"),
             QString("Cannot write to the destination"));
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList{"victim"});
    // A link under the name the copy would take: left alone, the copy gets the next name.
    QVERIFY(QDir(dest.path()).mkdir("Out"));
    QVERIFY(QFile::link(outside.filePath("victim"), dest.filePath("Out/a.txt")));
    QJsonObject outcome;
    QCOMPARE(copy(source.path(), {"a.txt"}, dest.path(), "Out", &outcome), QString());
    QCOMPARE(read(outside.filePath("victim")), QByteArray("keep"));
    QCOMPARE(read(dest.filePath("Out/a (2).txt")), QByteArray("new"));
    QCOMPARE(outcome.value("files").toInt(), 1);
    QCOMPARE(
        QDir(dest.filePath("Out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
        (QStringList{"a (2).txt", "a.txt"}));
}

void TestBrowseCopy::specialFilesAreSkipped()
{
    QTemporaryDir source;
    QTemporaryDir dest;
    QVERIFY(QDir(source.path()).mkdir("dir"));
    QVERIFY(write(source.filePath("dir/file"), "x"));
    QVERIFY(::mkfifo(QFile::encodeName(source.filePath("dir/fifo")).constData(), 0600) == 0);
    QVERIFY(QFile::link("file", source.filePath("dir/link")));
    QJsonObject outcome;
    QCOMPARE(copy(source.path(), {"dir"}, dest.path(), "R", &outcome), QString());
    QCOMPARE(outcome.value("skipped").toArray(), QJsonArray{"fifo"});
    QCOMPARE(QFileInfo(dest.filePath("R/dir/link")).symLinkTarget(), dest.filePath("R/dir/file"));
    QVERIFY(!QFileInfo::exists(dest.filePath("R/dir/fifo")));
}

QTEST_GUILESS_MAIN(TestBrowseCopy)
#include "tst_browsecopy.moc"
