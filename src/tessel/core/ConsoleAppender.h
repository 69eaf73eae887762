// Sends log lines to standard error, where a terminal or the systemd journal picks them up.
#pragma once

#include "AbstractAppender.h"

namespace Tessel::Core {

class ConsoleAppender : public AbstractAppender
{
protected:
    void append(const QString& formatted) override;
};

} // namespace Tessel::Core
