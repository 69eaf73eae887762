#include "ConsoleAppender.h"

#include <cstdio>

namespace Tessel::Core {

void ConsoleAppender::append(const QString& formatted)
{
    const QByteArray bytes = formatted.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace Tessel::Core
