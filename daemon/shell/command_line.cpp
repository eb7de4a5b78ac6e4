#include "command_line.h"

#include <cstdio>
#include <cstring>
#include <string>

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
    const char* at = arguments == nullptr ? "" : arguments;
    for (std::string argument = next_argument(&at); !argument.empty(); argument = next_argument(&at)) {
        std::string value;
        bool given = false;
        if (option_value(argument, "--listen", &at, &value, &given)) {
            if (!given) return fail(error, error_size, "%s needs an address", "--listen");
            if (options->listen_count == listen_address_limit)
                return fail(error, error_size, "--listen %s: too many addresses (16 at most)", value);
            listen_address& chosen = options->listen[options->listen_count];
            if (value.size() >= sizeof chosen.text || !net_parse_address(value.c_str(), &chosen.address))
                return fail(error, error_size, "--listen %s: not an IP address literal", value);
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
