#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "load.h"

namespace {

bool number(const char* text, double* out)
{
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

} // namespace

void options_usage()
{
    std::fprintf(stderr,
                 "usage: velmora_load MEASURE [--host H] [--port P] [--seconds S] [--max-ops N]\n"
                 "         [--connections N] [--outstanding N] [--count N] [--payload N] [--pid PID]\n"
                 "         [--block BYTES] [--in-flight BYTES] [--stream BYTES] [--echoed 0|1]\n"
                 "         [--source A] [--second-source A]\n"
                 "         [-- COMMAND...]\n"
                 "measures: tcp-echo daytime-rate udp-echo dns chargen chargen-stalled echo-stalled\n"
                 "          stream-in burst idle first-port wait-port udp-flood source-hold\n"
                 "hosts: 127.0.0.0/8 and ::1 only; sources: 10.0.0.0/8 only\n");
}

bool options_parse(int argc, char** argv, options* out, std::string* why)
{
    if (argc < 2) {
        *why = "no measure named";
        return false;
    }
    out->measure = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--") {
            for (++i; i < argc; ++i) out->command.emplace_back(argv[i]);
            break;
        }
        if (i + 1 >= argc) {
            *why = "no value for " + name;
            return false;
        }
        const char* value = argv[++i];
        if (name == "--host") {
            out->host = value;
            continue;
        }
        if (name == "--source" || name == "--second-source") {
            (name == "--source" ? out->source : out->second_source) = value;
            continue;
        }
        double v = 0;
        if (!number(value, &v) || v < 0) {
            *why = "bad value for " + name;
            return false;
        }
        if (name == "--port") out->port = static_cast<int>(v);
        else if (name == "--seconds") out->seconds = v;
        else if (name == "--max-ops") out->max_operations = static_cast<long>(v);
        else if (name == "--connections") out->connections = static_cast<int>(v);
        else if (name == "--outstanding") out->outstanding = static_cast<int>(v);
        else if (name == "--count") out->count = static_cast<int>(v);
        else if (name == "--payload") out->payload = static_cast<int>(v);
        else if (name == "--pid") out->pid = static_cast<long>(v);
        else if (name == "--block") out->block = static_cast<long>(v);
        else if (name == "--in-flight") out->in_flight = static_cast<long>(v);
        else if (name == "--stream") out->stream = static_cast<long>(v);
        else if (name == "--echoed") out->echoed = v != 0 ? 1 : 0;
        else {
            *why = "unknown option " + name;
            return false;
        }
    }
    // Every loop stops by itself: a minute at most, and at least one operation.
    if (out->seconds <= 0 || out->seconds > 60) {
        *why = "--seconds must be in (0, 60]";
        return false;
    }
    if (out->max_operations < 1) out->max_operations = 1;
    if (out->connections < 1 || out->outstanding < 1 || out->count < 1) {
        *why = "counts must be positive";
        return false;
    }
    // At least one whole block in flight, and no more than a receive buffer
    // the generator keeps per connection holds.
    if (out->block < 1 || out->in_flight < out->block || out->in_flight > 16L * 1024 * 1024) {
        *why = "--block must be positive and at most --in-flight (16 MiB at most)";
        return false;
    }
    if (out->port < 1 || out->port > 65535) {
        *why = "--port must be 1 to 65535";
        return false;
    }
    return true;
}
