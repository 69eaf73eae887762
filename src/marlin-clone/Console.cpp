#include "Console.h"

#include "FileIo.h"

#include <unistd.h>

namespace {
void emit(int fd, const std::string& text)
{
    FileIo::writeAll(fd, text.data(), text.size());
}
} // namespace

void Console::error(const std::string& message)
{
    emit(STDERR_FILENO, "marlin-clone: error: " + message + "\n");
}

void Console::warning(const std::string& message)
{
    emit(STDERR_FILENO, "marlin-clone: warning: " + message + "\n");
}

void Console::info(const std::string& message)
{
    emit(STDERR_FILENO, "marlin-clone: " + message + "\n");
}

void Console::out(const std::string& text)
{
    emit(STDOUT_FILENO, text);
}
