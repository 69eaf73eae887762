#pragma once

#include "ModuleInterface.h"

class ComMarlinDaemonRecoveryInterface;

// A module that talks to the recovery service through the window's one proxy.
class RecoveryModuleInterface : public ModuleInterface
{
public:
    RecoveryModuleInterface(FrameInterface* frame, ComMarlinDaemonRecoveryInterface* proxy)
        : ModuleInterface(frame), m_recoveryInterface(proxy)
    {
    }

protected:
    ComMarlinDaemonRecoveryInterface* m_recoveryInterface;
};
