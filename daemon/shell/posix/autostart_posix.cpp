// Autostart under systemd: the unit velmora.service and the link that
// enabling it for multi-user.target would make.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "autostart.h"
#include "files.h"
#include "module_path.h"
#include "systemd_unit.h"

namespace {

const char unit_folder[] = "/etc/systemd/system";
const char unit_path[] = "/etc/systemd/system/velmora.service";
const char wants_folder[] = "/etc/systemd/system/multi-user.target.wants";
const char link_path[] = "/etc/systemd/system/multi-user.target.wants/velmora.service";

bool write_whole(const char* path, const std::string& text)
{
    const std::string temporary = std::string(path) + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = file_write(fd, text.data(), text.size()) == static_cast<int>(text.size());
    if (file_close(fd) != 0 || !written || ::rename(temporary.c_str(), path) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

void update_autostart(bool enabled)
{
    if (::access(unit_folder, W_OK) != 0) return;
    if (!enabled) {
        ::unlink(link_path);
        ::unlink(unit_path);
        return;
    }
    char executable[1024];
    std::string unit;
    if (module_path(executable, sizeof executable) == 0 || !systemd_unit(executable, nullptr, &unit)) return;
    if (!write_whole(unit_path, unit)) return;
    if (::mkdir(wants_folder, 0755) != 0 && errno != EEXIST) return;
    ::unlink(link_path);
    if (::symlink(unit_path, link_path) != 0) return;
}
