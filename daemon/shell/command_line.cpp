#include "command_line.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "source_limits.h"

namespace {

// "WAIT" anywhere in the arguments, case-sensitive, asks for the pause that
// lets an ending instance release its ports.
bool command_line_waits(const char* arguments)
{
    return arguments != nullptr && std::strstr(arguments, "WAIT") != nullptr;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

// The next argument from `*at`, which moves behind it; empty at the end.
std::string next_argument(const char** at)
{
    const char* from = *at;
    while (blank(*from)) ++from;
    const char* end = from;
    while (*end != '\0' && !blank(*end)) ++end;
    *at = end;
    return std::string(from, end);
}

// "--name=value" or "--name value": the value, or false when `argument` is
// not this option.
bool option_value(const std::string& argument, const char* name, const char** at, std::string* value, bool* given)
{
    const std::size_t length = std::strlen(name);
    if (argument.compare(0, length, name) != 0) return false;
    if (argument.size() == length) *value = next_argument(at);
    else if (argument[length] == '=') *value = argument.substr(length + 1);
    else return false;
    *given = !value->empty();
    return true;
}

// A whole number from 0 to `most`, digits only.
bool read_count(const std::string& text, int most, int* out)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    int value = 0;
    for (char digit : text) value = value * 10 + (digit - '0');
    if (value > most) return false;
    *out = value;
    return true;
}

bool fail(char* error, std::size_t error_size, const char* format, const std::string& argument)
{
    std::snprintf(error, error_size, format, argument.c_str());
    return false;
}

} // namespace

bool read_command_line(const char* arguments, run_options* options, std::string* ignored, char* error,
                       std::size_t error_size)
{
    *options = {};
    ignored->clear();
    options->wait_for_ports = command_line_waits(arguments);
    options->udp_reply = udp_reply_port::fresh;
    options->replies_per_source = default_replies_per_second;
    options->sessions_per_source = default_sessions_per_source;
    const char* at = arguments == nullptr ? "" : arguments;
    for (std::string argument = next_argument(&at); !argument.empty(); argument = next_argument(&at)) {
        std::string value;
        bool given = false;
        if (option_value(argument, "--listen", &at, &value, &given)) {
            if (!given) return fail(error, error_size, "%s needs an address", "--listen");
            if (options->listen_count == listen_address_limit)
                return fail(error, error_size, "--listen %s: too many addresses (16 at most)", value);
            listen_address& chosen = options->listen[options->listen_count];
            if (value.size() >= sizeof chosen.text || !net_parse_address(value.c_str(), &chosen.address)) {
                const bool scoped = value.find('%') != std::string::npos;
                return fail(error, error_size,
                            scoped ? "--listen %s: not an IPv6 address literal with an interface of this host"
                                   : "--listen %s: not an IP address literal",
                            value);
            }
            if (net_address_lacks_scope(&chosen.address))
                return fail(error, error_size,
                            "--listen %s: a link-local address needs its interface, as fe80::1%%eth0", value);
            std::snprintf(chosen.text, sizeof chosen.text, "%s", value.c_str());
            // The same address twice would make every listener's second bind
            // fail, each with a box of its own.
            for (int i = 0; i < options->listen_count; ++i)
                if (std::memcmp(&options->listen[i].address, &chosen.address, sizeof chosen.address) == 0)
                    return fail(error, error_size, "--listen %s: given twice", value);
            chosen.both_families = false;
            ++options->listen_count;
            options->listen_chosen = true;
        } else if (option_value(argument, "--udp-reply-port", &at, &value, &given)) {
            if (value == "fresh") options->udp_reply = udp_reply_port::fresh;
            else if (value == "service") options->udp_reply = udp_reply_port::service;
            else return fail(error, error_size, "--udp-reply-port=%s: the choices are fresh and service", value);
        } else if (option_value(argument, "--per-source-replies", &at, &value, &given)) {
            if (!read_count(value, most_replies_per_source, &options->replies_per_source))
                return fail(error, error_size, "--per-source-replies=%s: a number of replies a second, 0 for none", value);
        } else if (option_value(argument, "--per-source-sessions", &at, &value, &given)) {
            if (!read_count(value, most_sessions_per_source, &options->sessions_per_source))
                return fail(error, error_size, "--per-source-sessions=%s: a number of sessions, 0 for none", value);
        } else if (argument == "--log-clients") {
            options->log_clients = true;
        } else if (argument == "--quiet") {
            options->quiet = true;
        } else if (argument.compare(0, 2, "--") == 0) {
            // A mistyped option must not leave the run serving otherwise
            // than asked.
            return fail(error, error_size, "%s: no such option", argument);
        } else if (argument.find("WAIT") == std::string::npos) {
            // Anything else is left alone, as before there were options, but
            // named: "-l 127.0.0.2" must not pass for a choice of address.
            *ignored += (ignored->empty() ? "" : " ") + argument;
        }
    }
    return true;
}
