#include "CustomFileCommand.h"

#include "Console.h"
#include "CustomFileTable.h"
#include "FileIo.h"
#include "ImageReader.h"
#include "UniqueFd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr char kScheme[] = "rbk://";
constexpr size_t kMaxFileSize = 1u << 20;
} // namespace

bool CustomFileCommand::parseUrl(const std::string& url, std::string& imagePath, std::string& name)
{
    const std::string scheme = kScheme;
    if (url.compare(0, scheme.size(), scheme) != 0) {
        return false;
    }
    const std::string rest = url.substr(scheme.size());
    const size_t slash = rest.find_last_of('/');
    if (rest.empty() || rest[0] != '/' || slash == std::string::npos || slash == 0) {
        return false;
    }
    imagePath = rest.substr(0, slash);
    name = rest.substr(slash + 1);
    return CustomFileTable::isValidName(name);
}

int CustomFileCommand::write(const std::string& url, const std::string& file)
{
    std::string imagePath;
    std::string name;
    if (!parseUrl(url, imagePath, name)) {
        Console::error("not a custom file address: " + url + " (expected rbk:///path/to/image/NAME)");
        return 2;
    }
    std::string content;
    if (!FileIo::readWholeFile(file, content, kMaxFileSize)) {
        Console::error("cannot read " + file + ": " + FileIo::errorText(errno));
        return 1;
    }
    ImageReader image;
    std::string error;
    if (!image.open(imagePath, true, error)) {
        Console::error(imagePath + " is not a valid image: " + error);
        return 1;
    }
    // One writer at a time; the table is re-read under the lock so a concurrent write is not lost.
    if (::flock(image.fd(), LOCK_EX) != 0 || !image.customFiles().load(image.fd(), image.header(), error)) {
        Console::error("cannot lock or reread " + imagePath + ": " + error);
        return 1;
    }
    CustomFileTable table = image.customFiles().table();
    table.set(name, content);
    if (!image.customFiles().save(image.fd(), image.header(), table, error)) {
        Console::error(imagePath + ": " + error);
        return 1;
    }
    return 0;
}

int CustomFileCommand::read(const std::string& url, const std::string& file)
{
    std::string imagePath;
    std::string name;
    if (!parseUrl(url, imagePath, name)) {
        Console::error("not a custom file address: " + url + " (expected rbk:///path/to/image/NAME)");
        return 2;
    }
    ImageReader image;
    std::string error;
    if (!image.open(imagePath, false, error)) {
        Console::error(imagePath + " is not a valid image: " + error);
        return 1;
    }
    const CustomFileTable::File* found = image.customFiles().table().find(name);
    if (!found) {
        Console::error(imagePath + " has no custom file named \"" + name + "\"");
        return 1;
    }
    UniqueFd out(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out.valid() || !FileIo::writeAll(out.get(), found->data.data(), found->data.size()) ||
        ::fsync(out.get()) != 0) {
        Console::error("cannot write " + file + ": " + FileIo::errorText(errno));
        return 1;
    }
    return 0;
}
