// Keeps the system's record that starts Velmora at boot: the registry value
// "VELMORA" under RunServices on Windows 95/98 (the user's Run on Windows
// NT, which starts it at logon), a systemd unit elsewhere.
#pragma once

// Adds the entry for the running executable when `enabled`, else removes
// it. Where the system's place cannot be opened, nothing happens.
void update_autostart(bool enabled);
