// Keeps the system's record that starts Velmora at boot: the registry value
// "VELMORA" under RunServices on Windows, a systemd unit elsewhere.
#pragma once

// Adds the entry for the running executable when `enabled`, else removes
// it. Where the system's place cannot be opened, nothing happens.
void update_autostart(bool enabled);
