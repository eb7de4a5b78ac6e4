#include <cstdio>

#include "load.h"

void report(const std::string& measure, double value, const std::string& unit, const std::string& details)
{
    std::printf("RESULT measure=%s value=%.3f unit=%s %s\n", measure.c_str(), value, unit.c_str(), details.c_str());
    std::fflush(stdout);
}
