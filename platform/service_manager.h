// Telling a service manager (systemd's Type=notify) how the program stands.
// The manager names its notification socket in the environment variable
// NOTIFY_SOCKET; without it no manager listens and nothing is sent.
#pragma once

// True when a service manager waits for this program's notifications.
bool service_manager_present();

// Sends `state` (lines such as "READY=1\nSTATUS=...") to the service
// manager in one datagram, never waiting. Returns 0, or why it was dropped
// as a Winsock error number: 10035 (would block) when the manager's socket
// did not take it at once, 10039 when no socket is named, 10063 when its
// name is too long, and what sending met otherwise (10061: nobody listens).
int service_manager_notify(const char* state);
