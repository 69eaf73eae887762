#pragma once

#include "FrameInterface.h"

#include <utils.h>

#include <QMainWindow>

class ComMarlinDaemonRecoveryInterface;
class QAbstractButton;
class QHBoxLayout;
class QScreen;
class QTimer;
class RecoveryModule;

namespace Tessel::Widgets {
class TButtonBox;
class TIconButton;
} // namespace Tessel::Widgets

class MainWindow : public QMainWindow, public FrameInterface
{
    Q_OBJECT
public:
    MainWindow(const CmdLineInfo& cmdLine, bool autoRepair, const QString& recoveryInfo, QWidget* parent = nullptr);
    ~MainWindow() override;

    void pushWidget(ModuleInterface* module, QWidget* widget) override;
    void refresh() override {}
    void popAllWidgets() override;
    void popWidget() override;
    void back() override;
    void backToFirstPage() override;
    void setBackwardButtonVisible(bool visible) override;
    void setModuleSwitcherEnabled(bool enabled) override;
    void showWidget(ModuleInterface* module, QWidget* widget) override;
    void showSettingsPage() override {}
    void showHomePage() override {}
    int currentModuleIndex() const override { return 0; }
    int firstPageIndex() const override { return -1; }

    // The record of a restore that was cut off (a JSON text): shown instead of the home page at start-up.
    void setInterruptedRestore(const QString& mark) { m_interruptedRestore = mark; }
    // The recovery partition the start-up found, where a restore's record goes.
    void setRecoveryUUID(const QString& uuid) { m_recoveryUUID = uuid; }

    // Periodic screen check; main starts it once the window is shown.
    void startScreenDetection();

    // Null until initAllModule has run.
    RecoveryModule* recoveryModule() const { return m_recoveryModule; }
    Tessel::Widgets::TIconButton* backwardButton() const { return m_backwardBtn; }

public slots:
    void initAllModule();
    void onModuleChange(QAbstractButton* button);
    void onBackWardClick();
    void onError(QString msg);
    void onDetectScreen();

private:
    void initUI();
    // The first page once the module exists: a pending order's progress, else the home page, never nothing.
    void showFirstPage();
    bool hasPendingOrder() const;
    void takeTopOff();
    void placeOnTop(QWidget* widget);
    void adaptScreen();

    QHBoxLayout* m_centerLayout = nullptr;
    Tessel::Widgets::TIconButton* m_backwardBtn = nullptr;
    Tessel::Widgets::TButtonBox* m_switchBtnBox = nullptr;
    Tessel::Widgets::TIconButton* m_closeBtn = nullptr;
    QString m_recoveryInfo;
    QString m_interruptedRestore;
    QString m_recoveryUUID;
    CmdLineInfo m_cmdLine;
    bool m_autoRepair = false;
    ComMarlinDaemonRecoveryInterface* m_recoveryInterface = nullptr;
    QList<ModuleInterface*> m_modules;
    RecoveryModule* m_recoveryModule = nullptr;
    QTimer* m_screenTimer = nullptr;
    int m_screenCount = 0;
    QScreen* m_currentScreen = nullptr;
    QScreen* m_primaryScreen = nullptr;
    QString m_screenName;
};
