#include "counter_report.h"

#include "output_lines.h"

namespace {

static_assert(service_count <= source_services, "every service has its counters");

bool serving(const velmora_run& run, const service_row& row)
{
    for (int i = 0; i < run.job_count; ++i) {
        int error = 0;
        if (run.jobs[i].service == &row && listener_told(run.jobs[i], &error) == listener_outcome::serving) return true;
    }
    return false;
}

} // namespace

void write_counters(const velmora_run& run)
{
    for (const service_row& row : service_table) {
        if (!serving(run, row)) continue;
        char line[160];
        format_counters_line(line, sizeof line, row.name, counters_read(run.state.counters[service_index(row)]));
        output_line("%s", line);
    }
    output_line("%lu lines of output dropped", output_lines_dropped());
}

counters_reading counters_of_every_service(const velmora_run& run)
{
    counters_reading total{};
    for (const service_row& row : service_table)
        counters_add(&total, counters_read(run.state.counters[service_index(row)]));
    return total;
}

void summarize_counters(const velmora_run& run, char* text, std::size_t size)
{
    format_counters_summary(text, size, counters_of_every_service(run), output_lines_dropped());
}
