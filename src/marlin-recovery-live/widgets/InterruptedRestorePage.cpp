#include "InterruptedRestorePage.h"

#include "ItemFrame.h"

#include <tessel/widgets/GlazeStyle.h>
#include <tessel/widgets/TFontSizeManager.h>

#include <QDateTime>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

namespace {

const int IconSize = 128;
const int TextWidth = 520;

// A wrapped label in a centring layout gets its one-line height unless told how tall its text is.
void setWrappedText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setFixedHeight(label->heightForWidth(TextWidth));
}

QString localTime(const QString& isoTime)
{
    const QDateTime time = QDateTime::fromString(isoTime, Qt::ISODate);
    return time.isValid() ? QLocale().toString(time.toLocalTime(), QLocale::ShortFormat) : QString();
}

QString describeFactoryReset(bool keepPersonalFiles)
{
    return keepPersonalFiles ? InterruptedRestorePage::tr("Reset to factory settings, keeping personal files")
                             : InterruptedRestorePage::tr("Reset to factory settings");
}

QString describeBackupRestore(const QJsonObject& mark)
{
    const QString date = localTime(mark.value("backupTime").toString());
    return date.isEmpty() ? InterruptedRestorePage::tr("Restore from a backup")
                          : InterruptedRestorePage::tr("Restore from the backup of %1").arg(date);
}

QJsonArray orderTasks(const QJsonObject& request)
{
    return QJsonDocument::fromJson(request.value("recoveryInfo").toString().toUtf8()).object().value("tasks").toArray();
}

// Whether the restore was a factory reset, and whether it kept the personal files. A pending order's system restore
// with "refresh-data-partition" cleared them.
bool isFactoryReset(const QJsonObject& mark, bool* keepPersonalFiles)
{
    const QString method = mark.value("method").toString();
    const QJsonObject request = mark.value("request").toObject();
    if (method == "SystemRestore") {
        *keepPersonalFiles = !request.value("formatData").toBool();
        return true;
    }
    if (method != "RestoreByTask" || request.value("opType").toInt() != 1) {
        return false;
    }
    *keepPersonalFiles = true;
    for (const QJsonValue& task : orderTasks(request)) {
        if (task.toObject().value("command").toString() == "refresh-data-partition") {
            *keepPersonalFiles = false;
        }
    }
    return true;
}

// The directory of the backup a restore wrote from, as the request named it; empty when it named none.
QString backupDirectoryOf(const QJsonObject& request)
{
    const QString directory = request.value("backupDir").toString();
    if (!directory.isEmpty()) {
        return directory;
    }
    for (const QJsonValue& task : orderTasks(request)) {
        if (task.toObject().value("command").toString() == "restore-partitions") {
            return task.toObject().value("args").toArray().at(1).toString();
        }
    }
    return QString();
}

// The devices the restore had begun to write, each once.
QStringList writtenDevices(const QJsonObject& mark)
{
    QStringList devices;
    for (const QJsonValue& target : mark.value("targets").toArray()) {
        const QString path = target.toString();
        if (path.startsWith("/dev/") && !devices.contains(path)) {
            devices.append(path);
        }
    }
    return devices;
}

} // namespace

InterruptedRestorePage::InterruptedRestorePage(QWidget* parent)
    : QWidget(parent), m_iconLabel(new QLabel(this)),
      m_titleLabel(new QLabel(tr("The last restore did not finish"), this)), m_messageLabel(new QLabel(this)),
      m_detailLabel(new QLabel(this)), m_restoreAgainButton(new QPushButton(tr("Restore Again"), this)),
      m_otherOptionsButton(new QPushButton(tr("Other Options"), this))
{
    m_iconLabel->setPixmap(ItemFrame::loadPixmap(":/warning.svg", QSize(IconSize, IconSize)));
    TFontSizeManager::instance()->bind(m_titleLabel, TFontSizeManager::T2);
    TFontSizeManager::instance()->bind(m_messageLabel, TFontSizeManager::T4);
    TFontSizeManager::instance()->bind(m_detailLabel, TFontSizeManager::T6);
    for (QLabel* label : {m_titleLabel, m_messageLabel, m_detailLabel}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setFixedWidth(TextWidth);
    }
    setWrappedText(m_titleLabel, m_titleLabel->text());
    setWrappedText(m_messageLabel, tr("It was cut off while it was writing to your disk, and your system may not "
                                      "start until it is restored. Run the restore again to finish it."));
    for (QPushButton* button : {m_restoreAgainButton, m_otherOptionsButton}) {
        button->setFixedSize(200, 40);
    }
    setButtonType(m_restoreAgainButton, ButtonType::Recommended);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_otherOptionsButton);
    buttons->addSpacing(20);
    buttons->addWidget(m_restoreAgainButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(m_iconLabel, 0, Qt::AlignCenter);
    layout->addSpacing(10);
    layout->addWidget(m_titleLabel, 0, Qt::AlignCenter);
    layout->addSpacing(10);
    layout->addWidget(m_messageLabel, 0, Qt::AlignCenter);
    layout->addSpacing(6);
    layout->addWidget(m_detailLabel, 0, Qt::AlignCenter);
    layout->addStretch();
    layout->addLayout(buttons);
    layout->addSpacing(20);

    connect(m_restoreAgainButton, &QPushButton::clicked, this, &InterruptedRestorePage::restoreAgain);
    connect(m_otherOptionsButton, &QPushButton::clicked, this, &InterruptedRestorePage::otherOptions);
}

void InterruptedRestorePage::setMark(const QJsonObject& mark)
{
    m_mark = mark;
    const QString started = localTime(mark.value("started").toString());
    const QString what = describe(mark);
    setWrappedText(m_detailLabel, started.isEmpty() ? what : tr("%1, started %2").arg(what, started));
}

QString InterruptedRestorePage::title() const
{
    return m_titleLabel->text();
}

QString InterruptedRestorePage::message() const
{
    return m_messageLabel->text();
}

QString InterruptedRestorePage::detail() const
{
    return m_detailLabel->text();
}

QString InterruptedRestorePage::describe(const QJsonObject& mark)
{
    bool keep = false;
    return isFactoryReset(mark, &keep) ? describeFactoryReset(keep) : describeBackupRestore(mark);
}

QString InterruptedRestorePage::whatWillBeWritten(const QJsonObject& mark)
{
    bool keep = false;
    QString text;
    if (isFactoryReset(mark, &keep)) {
        text = keep ? tr("The initial backup will be written onto your system's partitions again. Your personal files "
                         "are kept.")
                    : tr("The initial backup will be written onto your system's partitions again, and the personal "
                         "files of all users on this device will be cleared.");
    } else {
        const QString directory = backupDirectoryOf(mark.value("request").toObject());
        text = directory.isEmpty()
                   ? tr("The backup will be written onto your system's partitions again.")
                   : tr("The backup in %1 will be written onto your system's partitions again.").arg(directory);
    }
    const QStringList devices = writtenDevices(mark);
    if (!devices.isEmpty()) {
        text += "\n" + tr("Partitions it writes: %1").arg(devices.join(", "));
    }
    return text;
}
