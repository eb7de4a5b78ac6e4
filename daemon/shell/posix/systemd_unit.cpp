// Velmora needs little from the system: it binds the well-known ports, reads
// its own executable (the checksum), VELMORA.CFG and VESK.TXT beside it,
// writes lines to standard output and error, which systemd sends to the
// journal, and tells systemd over its notification socket (a Unix datagram
// socket) once its listeners are bound. Under systemd standard input is
// /dev/null, so the control dialog never runs and nothing is ever written to
// a file. The unit takes away everything else.
//
// Type=notify makes "active" true: systemd waits for READY=1, and Velmora
// ends with status 1 instead when none of its listeners could start, which
// Restart=on-failure then retries. --quiet keeps the line per connection out
// of the journal.
#include "systemd_unit.h"

#include <cstring>

namespace {

// ExecStart's executable in double quotes, with the unit file's specifier
// sign doubled. systemd expands no variables in the executable's name, so a
// '$' stays as it is, and it refuses names with quotes, backslashes or
// control characters: such a path cannot be started at boot at all.
bool exec_start_word(const char* path, std::string* word)
{
    word->assign(1, '"');
    for (const char* p = path; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\'' || c == '\\') return false;
        if (c == '%') word->push_back('%');
        word->push_back(*p);
    }
    word->push_back('"');
    return true;
}

bool inside_any(const char* path, const char* const* folders)
{
    for (; *folders != nullptr; ++folders)
        if (std::strncmp(path, *folders, std::strlen(*folders)) == 0) return true;
    return false;
}

// The folders that ProtectHome= hides.
const char* const home_folders[] = {"/home/", "/root/", "/run/user/", nullptr};
// A service with a user of its own always gets private /tmp and /var/tmp,
// which would hide a program kept in the shared ones.
const char* const temporary_folders[] = {"/tmp/", "/var/tmp/", nullptr};

const char unit_head[] = "[Unit]\n"
                         "Description=Velmora small Internet services\n"
                         "After=network.target\n"
                         "# Ports that stay taken are not retried for ever: five failed\n"
                         "# starts within a minute and systemd gives up.\n"
                         "StartLimitIntervalSec=60\n"
                         "StartLimitBurst=5\n"
                         "\n"
                         "[Service]\n"
                         "Type=notify\n"
                         "Restart=on-failure\n"
                         "RestartSec=5s\n";

// Loopback only, unless the administrator's options file says otherwise:
// systemd reads the file after this default, so its VELMORA_OPTS wins.
const char package_default_options[] = "Environment=\"VELMORA_OPTS=--listen 127.0.0.1 --listen ::1\"\n";

// An unprivileged user made for the service while it runs, with private
// /tmp and /var/tmp (a user of its own always gets those).
const char own_user[] = "DynamicUser=yes\n"
                        "PrivateTmp=yes\n"
                        "RemoveIPC=yes\n";

// A program in /tmp or /var/tmp runs as root, yet with no capability beyond
// the one below, on a read-only file system.
const char root_without_capabilities[] = "# The program's folder is a shared temporary one, which a service user\n"
                                         "# of its own cannot see: root, with the one capability below only.\n";

const char sandbox[] = "AmbientCapabilities=CAP_NET_BIND_SERVICE\n"
                       "CapabilityBoundingSet=CAP_NET_BIND_SERVICE\n"
                       "NoNewPrivileges=yes\n"
                       "ProtectSystem=strict\n"
                       "PrivateDevices=yes\n"
                       "DevicePolicy=closed\n"
                       "PrivateMounts=yes\n"
                       "ProtectKernelTunables=yes\n"
                       "ProtectKernelModules=yes\n"
                       "ProtectKernelLogs=yes\n"
                       "ProtectControlGroups=yes\n"
                       "ProtectClock=yes\n"
                       "ProtectHostname=yes\n"
                       "ProtectProc=invisible\n"
                       "ProcSubset=pid\n"
                       "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
                       "RestrictNamespaces=yes\n"
                       "RestrictRealtime=yes\n"
                       "RestrictSUIDSGID=yes\n"
                       "LockPersonality=yes\n"
                       "MemoryDenyWriteExecute=yes\n"
                       "SystemCallArchitectures=native\n"
                       "SystemCallFilter=@system-service\n"
                       "SystemCallFilter=~@privileged @resources\n"
                       "UMask=0077\n";

const char unit_tail[] = "\n"
                         "[Install]\n"
                         "WantedBy=multi-user.target\n";

} // namespace

bool systemd_unit(const char* executable, const char* options_file, std::string* unit)
{
    std::string command;
    if (!exec_start_word(executable, &command)) return false;
    std::string options_path;
    if (options_file != nullptr && !exec_start_word(options_file, &options_path)) return false;
    std::string text = unit_head;
    if (options_file != nullptr) {
        // The package installs the manual page; systemd-analyze verify looks
        // for it, so AutoStart's unit, for a program built by hand, names none.
        text.insert(text.find("After="), "Documentation=man:velmora(8)\n");
        text += package_default_options;
        // '-': a file the administrator removed leaves the default above.
        text += "EnvironmentFile=-";
        text += options_path.substr(1, options_path.size() - 2);
        text += "\nExecStart=";
        text += command;
        text += " --quiet $VELMORA_OPTS";
    } else {
        text += "ExecStart=";
        text += command;
        text += " --quiet";
    }
    text += "\nStandardInput=null\n";
    text += inside_any(executable, temporary_folders) ? root_without_capabilities : own_user;
    text += sandbox;
    // The service's user must read a program kept in a home folder.
    text += inside_any(executable, home_folders) ? "ProtectHome=read-only\n" : "ProtectHome=yes\n";
    text += unit_tail;
    *unit = text;
    return true;
}
