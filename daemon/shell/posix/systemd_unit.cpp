// Velmora needs little from the system: it binds the well-known ports, reads
// its own executable (the checksum), VELMORA.CFG and VESK.TXT beside it, and
// writes lines to standard output and error, which systemd sends to the
// journal. Under systemd standard input is /dev/null, so the control dialog
// never runs and nothing is ever written to a file. The unit takes away
// everything else.
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
                         "\n"
                         "[Service]\n";

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

bool systemd_unit(const char* executable, std::string* unit)
{
    std::string command;
    if (!exec_start_word(executable, &command)) return false;
    std::string text = unit_head;
    text += "ExecStart=";
    text += command;
    text += "\nStandardInput=null\n";
    text += inside_any(executable, temporary_folders) ? root_without_capabilities : own_user;
    text += sandbox;
    // The service's user must read a program kept in a home folder.
    text += inside_any(executable, home_folders) ? "ProtectHome=read-only\n" : "ProtectHome=yes\n";
    text += unit_tail;
    *unit = text;
    return true;
}
