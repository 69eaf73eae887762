#include "MainWindow.h"

#include "comMarlinDaemonRecoveryInterface.h"
#include "modules/recovery/RecoveryModule.h"
#include "widgets/LiveWidgets.h"

#include <core/command.h>
#include <tessel/widgets/TButtonBox.h>
#include <tessel/widgets/TFrame.h>
#include <tessel/widgets/TIconButton.h>

#include <QAbstractButton>
#include <QDBusConnection>
#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

using namespace Tessel::Widgets;

namespace {
const QString ResultWidget = "ResultWidget";
const QString ScreenScript = "/lib/marlin-recovery-gui/scripts/autoAdapterScreen.sh";
const int ScreenCheckInterval = 5000;
} // namespace

MainWindow::MainWindow(const CmdLineInfo& cmdLine, bool autoRepair, const QString& recoveryInfo, QWidget* parent)
    : QMainWindow(parent), m_recoveryInfo(recoveryInfo), m_cmdLine(cmdLine), m_autoRepair(autoRepair)
{
    initUI();
    // The proxy and the module need the event loop (blocking calls, queued answers): start them from it.
    QTimer::singleShot(0, this, &MainWindow::initAllModule);
}

MainWindow::~MainWindow()
{
    qDeleteAll(m_modules);
    delete m_recoveryInterface;
}

void MainWindow::initUI()
{
    setFixedSize(800, 600);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    m_backwardBtn = LiveWidgets::newBackwardButton(this);
    m_backwardBtn->hide();
    connect(m_backwardBtn, &TIconButton::clicked, this, &MainWindow::onBackWardClick);

    m_closeBtn = LiveWidgets::newCloseButton(this);
    // The pages bring their own close button; the window's stays out of sight.
    m_closeBtn->hide();
    auto* titleLayout = new QHBoxLayout;
    titleLayout->addWidget(m_backwardBtn, 0, Qt::AlignLeft);
    titleLayout->addWidget(m_closeBtn, 0, Qt::AlignRight);
    titleLayout->setParent(this);
    // Outside any layout: placed by hand in the centre frame's top-left corner, opposite the pages' close button.
    m_backwardBtn->move(22, 22);

    auto* centerFrame = new TFrame;
    centerFrame->setObjectName("centerWidget");
    centerFrame->setAccessibleName("marlin-recovery-gui-CenterWidget");
    centerFrame->setLineWidth(0);
    m_centerLayout = new QHBoxLayout(centerFrame);

    auto* mainWidget = new QWidget;
    mainWidget->setObjectName("mainWidget");
    mainWidget->setAccessibleName("marlin-recovery-gui-MainWidget");
    auto* mainLayout = new QVBoxLayout(mainWidget);
    mainLayout->setContentsMargins(10, 10, 10, 10);
    mainLayout->addWidget(centerFrame);
    setCentralWidget(mainWidget);
    m_backwardBtn->raise();
}

void MainWindow::initAllModule()
{
    // Runs once, whoever calls first: the queued call or an early caller.
    if (m_recoveryModule != nullptr) {
        return;
    }
    m_recoveryInterface = new ComMarlinDaemonRecoveryInterface("com.marlin.recovery", "/com/marlin/recovery",
                                                               QDBusConnection::systemBus());
    m_recoveryModule = new RecoveryModule(this, m_recoveryInterface);
    m_modules.append(m_recoveryModule);
    if (m_cmdLine.rootUUID.isEmpty()) {
        Utils::getCmdLineInfo(m_cmdLine);
    }
    m_recoveryModule->setRootUUID(m_cmdLine.rootUUID);
    m_recoveryModule->setRecoveryUUID(m_recoveryUUID);
    m_recoveryModule->initialize();
    showFirstPage();
}

bool MainWindow::hasPendingOrder() const
{
    return !m_autoRepair && m_cmdLine.bootFrom != "live-grub" && !m_recoveryInfo.isEmpty();
}

void MainWindow::showFirstPage()
{
    // An order that is not one, or that did not reach the service, must still leave the person a way on.
    if (hasPendingOrder() && m_recoveryModule->showBackupRestore(m_recoveryInfo)) {
        return;
    }
    if (!m_interruptedRestore.isEmpty()) {
        m_recoveryModule->showInterruptedRestore(m_interruptedRestore);
        return;
    }
    m_recoveryModule->showHomePage();
}

void MainWindow::pushWidget(ModuleInterface* module, QWidget* widget)
{
    m_pageStack.append({module, widget});
    m_backwardBtn->setVisible(m_pageStack.size() >= 2);
}

void MainWindow::takeTopOff()
{
    QWidget* widget = m_pageStack.takeLast().second;
    m_centerLayout->removeWidget(widget);
    widget->hide();
}

void MainWindow::placeOnTop(QWidget* widget)
{
    m_centerLayout->addWidget(widget);
    widget->setFocus(Qt::OtherFocusReason);
    widget->show();
}

void MainWindow::popAllWidgets()
{
    while (!m_pageStack.isEmpty()) {
        takeTopOff();
    }
}

void MainWindow::popWidget()
{
    if (!m_pageStack.isEmpty()) {
        takeTopOff();
        if (m_pageStack.size() > 1) {
            return;
        }
    }
    m_backwardBtn->hide();
}

void MainWindow::back()
{
    onBackWardClick();
}

void MainWindow::backToFirstPage()
{
    while (m_pageStack.size() > 1) {
        takeTopOff();
    }
    if (!m_pageStack.isEmpty()) {
        placeOnTop(m_pageStack.first().second);
    }
    m_backwardBtn->hide();
}

void MainWindow::setBackwardButtonVisible(bool visible)
{
    m_backwardBtn->setEnabled(visible);
    m_backwardBtn->setVisible(visible);
}

void MainWindow::setModuleSwitcherEnabled(bool enabled)
{
    if (m_switchBtnBox != nullptr) {
        m_switchBtnBox->setEnabled(enabled);
    }
}

void MainWindow::showWidget(ModuleInterface* module, QWidget* widget)
{
    if (!m_pageStack.isEmpty()) {
        QWidget* top = m_pageStack.last().second;
        m_centerLayout->removeWidget(top);
        top->hide();
    }
    pushWidget(module, widget);
    m_centerLayout->addWidget(widget);
    widget->setFocus(Qt::OtherFocusReason);
    widget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    widget->show();
}

void MainWindow::onModuleChange(QAbstractButton* button)
{
    if (m_switchBtnBox == nullptr || m_modules.isEmpty()) {
        return;
    }
    const int index = m_switchBtnBox->id(button);
    if (index < 0 || index >= m_modules.size()) {
        return;
    }
    ModuleInterface* module = m_modules.at(index);
    if (!m_pageStack.isEmpty() && m_pageStack.last().first == module) {
        return;
    }
    module->active();
}

void MainWindow::onBackWardClick()
{
    if (m_pageStack.size() <= 1) {
        return;
    }
    if (m_pageStack.last().second->accessibleDescription() == ResultWidget) {
        backToFirstPage();
        return;
    }
    popWidget();
    if (!m_pageStack.isEmpty()) {
        placeOnTop(m_pageStack.last().second);
    }
}

void MainWindow::onError(QString msg)
{
    Q_UNUSED(msg)
}

void MainWindow::startScreenDetection()
{
    m_screenCount = int(QGuiApplication::screens().size());
    if (m_screenTimer == nullptr) {
        m_screenTimer = new QTimer(this);
        connect(m_screenTimer, &QTimer::timeout, this, &MainWindow::onDetectScreen);
    }
    m_screenTimer->start(ScreenCheckInterval);
}

void MainWindow::onDetectScreen()
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty()) {
        m_currentScreen = nullptr;
        return;
    }
    if (screens.size() != m_screenCount) {
        // Remember the new count, or every later check would adapt again.
        m_screenCount = int(screens.size());
        adaptScreen();
        return;
    }
    m_primaryScreen = QGuiApplication::primaryScreen();
    QScreen* first = screens.first();
    const QString name = first->name();
    const bool changed =
        name != m_screenName || (m_currentScreen != nullptr && m_currentScreen->geometry() != first->geometry());
    if (changed) {
        m_screenName = name.contains(":0.0") ? QString() : name;
        m_currentScreen = nullptr;
    }
    if (first != m_primaryScreen || first != m_currentScreen) {
        adaptScreen();
    }
}

void MainWindow::adaptScreen()
{
    SpawnCmd("/bin/bash", {ScreenScript});
    m_currentScreen = QGuiApplication::primaryScreen();
    if (m_currentScreen == nullptr) {
        return;
    }
    const QRect geometry = m_currentScreen->geometry();
    move((geometry.width() - width()) / 2, (geometry.height() - height()) / 2);
}
