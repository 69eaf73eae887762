// Drives the file-system repair page on its own: lists as the worker writes them, the confirmation answered through
// the real dialog, the outcome reported as the controller does.

#include "DialogAnswer.h"
#include "Screenshot.h"
#include "modules/recovery/RepairFileSystemWidget.h"
#include "widgets/ItemFrame.h"

#include <AsyncTask.h>
#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TIconButton.h>
#include <tessel/widgets/TSpinner.h>

#include <QAbstractButton>
#include <QHoverEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

using namespace Tessel::Widgets;
using GuiTest::saveScreenshot;

namespace {

const QString NoErrors = "The file system has no errors.";
const QString NormalIcon = ":/partition_normal.svg";
const QString ExceptionIcon = ":/partition_exception.svg";
const int CancelIndex = 0;
const int RepairIndex = 1;

PartitionCheckItem partition(const QString& devicePath, int status, int deviceType, const QString& mountPoint = "/")
{
    PartitionCheckItem item;
    item.devicePath = devicePath;
    item.mountPoint = mountPoint;
    item.fsType = "ext4";
    item.status = status;
    item.deviceType = deviceType;
    return item;
}

// Errors spread over the list, and an erroneous partition outside the installed system that must stay hidden.
QString mixedList()
{
    return AsyncTask::checkListJson({partition("/dev/sda1", 0, 1, "/boot"), partition("/dev/sda2", -1, 1, "/"),
                                     partition("/dev/sdb1", -1, 0, "/media/usb"), partition("/dev/sda3", 0, -1, ""),
                                     partition("/dev/sda4", -1, -1, "/home/shared/a-rather-long-mount-point-name")});
}

bool showsIcon(const QLabel* label, const QString& path, int size)
{
    return label != nullptr && !label->pixmap().isNull() &&
           label->pixmap().toImage() == ItemFrame::loadPixmap(path, QSize(size, size)).toImage();
}

bool iconIs(const QAbstractButton* button, const QString& path)
{
    return button->icon().pixmap(16, 16).toImage() == QIcon(path).pixmap(16, 16).toImage();
}

QVariantList values(const QSignalSpy& spy)
{
    QVariantList list;
    for (const QList<QVariant>& call : spy) {
        list << call.at(0);
    }
    return list;
}

} // namespace

class TestRepairPage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void rowsSortedAndFiltered();
    void listResult_data();
    void listResult();
    void repairRuns();
    void outcome_data();
    void outcome();
    void reloadDuringRepair_data();
    void reloadDuringRepair();
    void repairButtonIcons();
    void screenshots();

private:
    void startRepair(int row);
    TIconButton* button(const QString& name) const { return m_page->findChild<TIconButton*>(name); }
    QLabel* status(int row) const { return m_page->findChild<QLabel*>("label_indicate_" + QString::number(row)); }
    QWidget* frame(int row) const { return m_page->findChild<QWidget*>("btnFrame_" + QString::number(row)); }
    QLabel* resultIcon() const;

    std::unique_ptr<QWidget> m_host;
    RepairFileSystemWidget* m_page = nullptr;
};

void TestRepairPage::init()
{
    m_host = std::make_unique<QWidget>();
    m_host->resize(860, 640);
    m_page = new RepairFileSystemWidget(m_host.get());
    m_page->initUI();
    m_page->initLayout();
    (new QVBoxLayout(m_host.get()))->addWidget(m_page);
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
}

void TestRepairPage::cleanup()
{
    m_host.reset();
}

void TestRepairPage::startRepair(int row)
{
    TIconButton* repair = button("repair_btn_" + QString::number(row));
    QVERIFY(repair != nullptr);
    const DialogAnswer answer(RepairIndex);
    QTest::mouseClick(repair, Qt::LeftButton);
    QCOMPARE(answer.count(), 1);
    QCOMPARE(m_page->repairingRow(), row);
}

QLabel* TestRepairPage::resultIcon() const
{
    for (QLabel* label : m_page->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (label->minimumSize() == QSize(32, 32) && label->maximumSize() == QSize(32, 32)) {
            return label;
        }
    }
    return nullptr;
}

void TestRepairPage::rowsSortedAndFiltered()
{
    m_page->loadPartitionCheckList(mixedList());

    QCOMPARE(m_page->rowCount(), 4);
    const QStringList expected = {"/dev/sda2", "/dev/sda4", "/dev/sda1", "/dev/sda3"};
    for (int row = 1; row <= 4; ++row) {
        QCOMPARE(m_page->devicePathOfRow(row), expected.at(row - 1));
        const bool hasErrors = row <= 2;
        QCOMPARE(button("repair_btn_" + QString::number(row)) != nullptr, hasErrors);
        TIconButton* normal = button("normal_btn_" + QString::number(row));
        QCOMPARE(normal != nullptr && !normal->isEnabled(), !hasErrors);
        QVERIFY(showsIcon(status(row), hasErrors ? ExceptionIcon : NormalIcon, 24));
    }
    // The scroll area scrolls over exactly the rows.
    QCOMPARE(m_page->findChild<QScrollArea*>()->widget()->height(), 4 * 70);

    // An outcome without a repair running changes nothing.
    QSignalSpy returnBtn(m_page, &RepairFileSystemWidget::enableReturnBtn);
    m_page->fixSuccess();
    m_page->fixFailed("late");
    QVERIFY(m_page->resultText().isEmpty());
    QVERIFY(resultIcon()->pixmap().isNull());
    QVERIFY(showsIcon(status(1), ExceptionIcon, 24) && button("repair_btn_1") != nullptr);
    QCOMPARE(returnBtn.size(), 0);
}

void TestRepairPage::listResult_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("text");

    QTest::newRow("no errors") << AsyncTask::checkListJson(
                                      {partition("/dev/sda1", 0, 1), partition("/dev/sda2", 0, -1)})
                               << 2 << NoErrors;
    QTest::newRow("empty") << AsyncTask::checkListJson({}) << 0 << NoErrors;
    QTest::newRow("errors only outside the system")
        << AsyncTask::checkListJson({partition("/dev/sdb1", -1, 0), partition("/dev/sda1", 0, 1)}) << 1 << NoErrors;
    QTest::newRow("unreadable") << QString("{\"PartitionCheckItemList\": [") << 0 << QString();
}

void TestRepairPage::listResult()
{
    QFETCH(QString, json);
    QFETCH(int, rows);
    QFETCH(QString, text);

    // Loaded over a list with errors: nothing of it may stay.
    m_page->loadPartitionCheckList(mixedList());
    m_page->loadPartitionCheckList(json);
    QCOMPARE(m_page->rowCount(), rows);
    QCOMPARE(m_page->resultText(), text);
    QCOMPARE(showsIcon(resultIcon(), NormalIcon, 32), !text.isEmpty());
    QVERIFY(m_page->findChildren<TIconButton*>(QRegularExpression("^repair_btn_")).isEmpty());
    const QList<TIconButton*> normal = m_page->findChildren<TIconButton*>(QRegularExpression("^normal_btn_"));
    QCOMPARE(normal.size(), rows);
    for (TIconButton* b : normal) {
        QVERIFY(!b->isEnabled());
    }
    QCOMPARE(m_page->findChildren<QLabel*>(QRegularExpression("^label_indicate_")).size(), rows);
    QCOMPARE(m_page->findChild<QScrollArea*>()->widget()->height(), rows * 70);
}

void TestRepairPage::repairRuns()
{
    m_page->loadPartitionCheckList(mixedList());
    QSignalSpy repairs(m_page, &RepairFileSystemWidget::repairFileSystemClicked);
    QSignalSpy returnBtn(m_page, &RepairFileSystemWidget::enableReturnBtn);
    QSignalSpy closeBtn(m_page, &RepairFileSystemWidget::enableCloseBtn);
    QSignalSpy back(m_page, &RepairFileSystemWidget::backwardBtnClicked);

    {
        const DialogAnswer cancel(CancelIndex);
        QTest::mouseClick(button("repair_btn_2"), Qt::LeftButton);
        QCOMPARE(cancel.message(),
                 QString("Are you sure you want to repair the file system of /dev/sda4? It may lead to data loss."));
        QCOMPARE(cancel.buttons(), QStringList({"Cancel", "Repair now"}));
    }
    QCOMPARE(repairs.size() + returnBtn.size() + closeBtn.size(), 0);
    QVERIFY(!m_page->isRepairing() && m_page->backwardButton()->isEnabled());

    startRepair(2);
    QCOMPARE(values(repairs), QVariantList{"/dev/sda4"});
    QCOMPARE(values(returnBtn), QVariantList{false});
    QCOMPARE(values(closeBtn), QVariantList{false});
    QVERIFY(button("repair_btn_2") == nullptr);
    const QList<QLabel*> frameLabels = frame(2)->findChildren<QLabel*>();
    QCOMPARE(frameLabels.size(), 1);
    QCOMPARE(frameLabels.at(0)->text(), QString("Repairing..."));
    QVERIFY(status(2)->pixmap().isNull());
    auto* spinner = status(2)->findChild<TSpinner*>();
    QVERIFY(spinner != nullptr && spinner->isPlaying());
    QTest::mouseClick(m_page->backwardButton(), Qt::LeftButton);
    QCOMPARE(back.size(), 0);

    // Another partition with errors: no question, no request, its row untouched.
    const DialogAnswer cancel(CancelIndex);
    QTest::mouseClick(button("repair_btn_1"), Qt::LeftButton);
    QTest::qWait(50);
    QVERIFY(!cancel.seen());
    QCOMPARE(repairs.size(), 1);
    QCOMPARE(m_page->repairingRow(), 2);
    QVERIFY(status(1)->findChild<TSpinner*>() == nullptr);
}

void TestRepairPage::outcome_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("icon");
    QTest::newRow("success") << true << "Repair completed. Reboot to enter the system." << NormalIcon;
    QTest::newRow("failure") << false << "Repair failed, please try another repair method." << ExceptionIcon;
}

void TestRepairPage::outcome()
{
    QFETCH(bool, success);
    QFETCH(QString, text);
    QFETCH(QString, icon);

    m_page->loadPartitionCheckList(mixedList());
    startRepair(1);
    QSignalSpy returnBtn(m_page, &RepairFileSystemWidget::enableReturnBtn);
    QSignalSpy closeBtn(m_page, &RepairFileSystemWidget::enableCloseBtn);
    QSignalSpy back(m_page, &RepairFileSystemWidget::backwardBtnClicked);
    success ? m_page->fixSuccess() : m_page->fixFailed("fsck exited with code 4");

    QVERIFY(!m_page->isRepairing());
    QCOMPARE(values(returnBtn), QVariantList{true});
    QCOMPARE(values(closeBtn), QVariantList{true});
    QCOMPARE(m_page->resultText(), text);
    QVERIFY(showsIcon(resultIcon(), icon, 32));
    QVERIFY(showsIcon(status(1), icon, 24));
    QVERIFY(status(1)->findChild<TSpinner*>() == nullptr);
    QVERIFY(frame(1)->findChildren<QLabel*>().isEmpty());
    TIconButton* again = button("repair_btn_1");
    QCOMPARE(again != nullptr, !success);
    QTest::mouseClick(m_page->backwardButton(), Qt::LeftButton);
    QCOMPARE(back.size(), 1);
    // A second answer to the finished repair changes nothing.
    success ? m_page->fixFailed("late") : m_page->fixSuccess();
    QCOMPARE(m_page->resultText(), text);
    QCOMPARE(button("repair_btn_1") != nullptr, !success);
    QCOMPARE(returnBtn.size(), 1);

    // The next repair (the same row after a failure) is wired as the first and clears the verdict.
    QVERIFY(success || iconIs(again, ":/fix_normal_16px.svg"));
    QSignalSpy repairs(m_page, &RepairFileSystemWidget::repairFileSystemClicked);
    startRepair(success ? 2 : 1);
    QCOMPARE(values(repairs), QVariantList{success ? "/dev/sda4" : "/dev/sda2"});
    QVERIFY(m_page->resultText().isEmpty());
    QVERIFY(resultIcon()->pixmap().isNull());
}

void TestRepairPage::reloadDuringRepair_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<int>("row");
    QTest::newRow("device moved up") << AsyncTask::checkListJson({partition("/dev/sda4", -1, -1)}) << 1;
    QTest::newRow("device gone") << AsyncTask::checkListJson({partition("/dev/sda1", 0, 1)}) << -1;
}

void TestRepairPage::reloadDuringRepair()
{
    QFETCH(QString, json);
    QFETCH(int, row);

    m_page->loadPartitionCheckList(mixedList());
    startRepair(2);
    m_page->loadPartitionCheckList(json);
    QCOMPARE(m_page->repairingRow(), row);
    QVERIFY(m_page->isRepairing() && !m_page->backwardButton()->isEnabled());
    QVERIFY(m_page->resultText().isEmpty());
    QCOMPARE(status(1)->findChild<TSpinner*>() != nullptr, row == 1);

    // The outcome still ends the repair, whether or not its row is still there.
    m_page->fixSuccess();
    QVERIFY(!m_page->isRepairing() && m_page->backwardButton()->isEnabled());
    QVERIFY(showsIcon(status(1), NormalIcon, 24));
}

void TestRepairPage::repairButtonIcons()
{
    m_page->loadPartitionCheckList(mixedList());
    TIconButton* repair = button("repair_btn_1");
    QVERIFY(repair->testAttribute(Qt::WA_Hover));
    const QPointF inside(repair->rect().center());
    QHoverEvent enter(QEvent::HoverEnter, inside, repair->mapToGlobal(inside), QPointF(-1, -1));
    QCoreApplication::sendEvent(repair, &enter);
    QVERIFY(iconIs(repair, ":/fix_hover_16px.svg"));
    QTest::mousePress(repair, Qt::LeftButton);
    QVERIFY(iconIs(repair, ":/fix_press_16px.svg"));
    // Released outside: no click, so no question.
    QTest::mouseRelease(repair, Qt::LeftButton, {}, QPoint(-20, -20));
    QVERIFY(iconIs(repair, ":/fix_normal_16px.svg"));
    QCoreApplication::sendEvent(repair, &enter);
    QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(-1, -1), inside);
    QCoreApplication::sendEvent(repair, &leave);
    QVERIFY(iconIs(repair, ":/fix_normal_16px.svg"));
}

void TestRepairPage::screenshots()
{
    if (qEnvironmentVariableIsEmpty("SCREENSHOT_DIR")) {
        QSKIP("SCREENSHOT_DIR not set");
    }
    m_page->loadPartitionCheckList(AsyncTask::checkListJson({partition("/dev/sda1", 0, 1, "/boot")}));
    QVERIFY(saveScreenshot(m_host.get(), "repair-no-errors"));
    m_page->loadPartitionCheckList(mixedList());
    QVERIFY(saveScreenshot(m_host.get(), "repair-list"));
    {
        const DialogAnswer repair(
            RepairIndex, [this](TDialog* dialog) { QVERIFY(saveScreenshot(m_host.get(), "repair-confirm", dialog)); });
        QTest::mouseClick(button("repair_btn_1"), Qt::LeftButton);
    }
    QVERIFY(saveScreenshot(m_host.get(), "repair-running"));
    m_page->fixSuccess();
    QVERIFY(saveScreenshot(m_host.get(), "repair-success"));
    startRepair(2);
    m_page->fixFailed("fsck exited with code 4");
    QVERIFY(saveScreenshot(m_host.get(), "repair-failed"));
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TApplication::setStyle("glaze");
    TestRepairPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_repairpage.moc"
