#include <cstdio>
#include <map>

#include "load.h"

int main(int argc, char** argv)
{
    options o;
    std::string why;
    if (!options_parse(argc, argv, &o, &why)) {
        std::fprintf(stderr, "velmora_load: %s\n", why.c_str());
        options_usage();
        return 2;
    }
    target t{};
    if (!target_parse(o.host, o.port, &t, &why)) {
        std::fprintf(stderr, "velmora_load: %s\n", why.c_str());
        return 2;
    }
    if (!bind_sources_to(o.source)) {
        std::fprintf(stderr, "velmora_load: --source %s: only 10.0.0.0/8 is allowed\n", o.source.c_str());
        return 2;
    }
    raise_open_files(4096);
    report_watch(o.pid);
    static const std::map<std::string, int (*)(const options&, const target&)> measures = {
        {"tcp-echo", measure_tcp_echo}, {"daytime-rate", measure_daytime_rate}, {"udp-echo", measure_udp_echo},
        {"dns", measure_dns},           {"chargen", measure_chargen},           {"burst", measure_burst},
        {"chargen-stalled", measure_chargen_stalled}, {"echo-stalled", measure_echo_stalled},
        {"stream-in", measure_stream_in},
        {"idle", measure_idle},         {"first-port", measure_first_port}, {"wait-port", measure_wait_port},
        {"udp-flood", measure_udp_flood}, {"source-hold", measure_source_hold},
    };
    const auto found = measures.find(o.measure);
    if (found == measures.end()) {
        std::fprintf(stderr, "velmora_load: unknown measure %s\n", o.measure.c_str());
        options_usage();
        return 2;
    }
    return found->second(o, t);
}
