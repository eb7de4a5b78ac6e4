// Telling a service manager (systemd's Type=notify) how the program stands.
// The manager names its notification socket in the environment variable
// NOTIFY_SOCKET; without it no manager listens and nothing is sent.
#pragma once

// True when a service manager waits for this program's notifications.
bool service_manager_present();

// Sends `state` (lines such as "READY=1\nSTATUS=...") to the service
// manager in one datagram, never waiting. False when no manager listens or
// the datagram cannot be sent at once; it is then dropped.
bool service_manager_notify(const char* state);
