// How this run of Velmora was asked to serve, beside the choice of
// services: read from the command line once at start-up, then only read.
#pragma once

struct run_options {
    // "WAIT": pause before taking the ports, so that an ending instance
    // releases them first.
    bool wait_for_ports;
};
