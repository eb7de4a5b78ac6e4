// Autostart under systemd: the unit velmora.service and the link that
// enabling it for multi-user.target would make.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "autostart.h"
#include "files.h"
#include "module_path.h"
#include "systemd_unit.h"
#include "whole_file.h"

namespace {

const char unit_folder[] = "/etc/systemd/system";
const char unit_path[] = "/etc/systemd/system/velmora.service";
const char wants_folder[] = "/etc/systemd/system/multi-user.target.wants";
const char link_path[] = "/etc/systemd/system/multi-user.target.wants/velmora.service";

// systemd reads the unit as any user would: it is readable by all, whatever
// the creating process's mask.
int write_unit(int fd, const void* context)
{
    const std::string& text = *static_cast<const std::string*>(context);
    if (file_write(fd, text.data(), text.size()) != static_cast<int>(text.size())) return EIO;
    return ::fchmod(fd, 0644) == 0 ? 0 : errno;
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
    if (module_path(executable, sizeof executable) == 0) return;
    // The package's Velmora keeps the package's options (loopback only until
    // the administrator says otherwise), also in the unit AutoStart writes,
    // which takes precedence over the package's own.
    const char* options = std::strcmp(executable, package_program) == 0 ? package_options_file : nullptr;
    if (!systemd_unit(executable, options, &unit)) return;
    if (replace_whole_file(unit_path, write_unit, &unit) != 0) return;
    if (::mkdir(wants_folder, 0755) != 0 && errno != EEXIST) return;
    ::unlink(link_path);
    if (::symlink(unit_path, link_path) != 0) return;
}
