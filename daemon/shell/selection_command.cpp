#include "selection_command.h"

#include <cstdio>
#include <cstring>

#include "apply_advice.h"
#include "service_table.h"
#include "settings_file.h"

namespace {

const char usage[] =
    "Usage: velmoractl [--file PATH]\n"
    "       velmoractl [--file PATH] set NAME on|off [NAME on|off ...]\n"
    "       velmoractl --help\n"
    "\n"
    "Shows the choice of services in VELMORA.CFG, or changes it with \"set\".\n"
    "The file is the one beside velmoractl, which is installed beside the Velmora\n"
    "program it belongs to; --file names another.\n"
    "\n"
    "NAME: %s\n"
    "\n"
    "Only the file changes: a running Velmora keeps its services until it starts\n"
    "again, and velmoractl tells how to restart it. Do not press Apply changes in\n"
    "a running Velmora's dialog for that: it saves the dialog's own choice over the\n"
    "file. The autostart flag only records the choice: the entry that starts\n"
    "Velmora at boot (the systemd unit velmora.service, or the RunServices value on\n"
    "Windows) is made by the package or by Apply changes in the control dialog.\n"
    "\n"
    "Exit status: 0 done; 1 the file could not be read or saved, or is not a\n"
    "settings file of this version (it is then left as it is); 2 a wrong command line.\n";

// Says what is wrong with the command line; the text holds one %s for the
// argument in question.
int misused(const char* text, const char* argument)
{
    std::fputs("velmoractl: ", stderr);
    std::fprintf(stderr, text, argument);
    std::fputs("\nSee velmoractl --help.\n", stderr);
    return command_misused;
}

void print_table(const char* path, const ServiceSelection& record)
{
    std::printf("Settings file: %s\n\n%-9s %5s  %s\n", path, "service", "port", "state");
    for (int i = 0; i < service_count; ++i)
        std::printf("%-9s %5u  %s\n", service_table[i].name, static_cast<unsigned>(service_table[i].port),
                    record.flags[i] ? "on" : "off");
    std::printf("\n");
    for (int i = service_count; i < selection_flag_count; ++i)
        std::printf("%-16s %s\n", selection_flag_name(i), record.flags[i] ? "on" : "off");
}

// Says on standard error why the file holds no record to show or change.
void report_unusable(const char* path, const selection_file_content& content)
{
    const char* ignored = "Velmora ignores it and runs no service.";
    switch (content.kind) {
    case selection_file_kind::short_file:
        std::fprintf(stderr, "velmoractl: %s holds %lu bytes, fewer than the 44 of a settings file.\n%s\n", path,
                     static_cast<unsigned long>(content.size), ignored);
        break;
    case selection_file_kind::other_version:
        std::fprintf(stderr, "velmoractl: %s is a settings file of version %lu, not 256.\n%s\n", path,
                     static_cast<unsigned long>(content.version), ignored);
        break;
    case selection_file_kind::not_plain:
        std::fprintf(stderr, "velmoractl: %s is not a plain file but a folder, pipe or device.\n", path);
        break;
    case selection_file_kind::unreadable:
        std::fprintf(stderr, "velmoractl: %s cannot be read.\nError Nr: %d\n", path, content.error);
        break;
    case selection_file_kind::whole:
    case selection_file_kind::missing:
        break;
    }
}

int show(const char* path)
{
    const selection_file_content content = read_selection_file(path);
    if (content.kind == selection_file_kind::missing) {
        std::printf("Settings file: %s\n\nThe file does not exist: Velmora runs no service until one is chosen.\n",
                    path);
        return command_done;
    }
    if (content.kind != selection_file_kind::whole) {
        report_unusable(path, content);
        return command_refused;
    }
    print_table(path, content.record);
    return command_done;
}

int flag_index(const char* name)
{
    for (int i = 0; i < selection_flag_count; ++i)
        if (std::strcmp(selection_flag_name(i), name) == 0) return i;
    return -1;
}

// Every pair is checked before the file is even read, so that a wrong
// command line changes nothing.
int set(const char* path, int count, char** pairs)
{
    if (count == 0) {
        std::fprintf(stderr, "velmoractl: set needs NAME on|off\nSee velmoractl --help.\n");
        return command_misused;
    }
    for (int i = 0; i < count; i += 2) {
        if (flag_index(pairs[i]) < 0) {
            char names[160];
            selection_flag_names(names, sizeof names);
            std::fprintf(stderr, "velmoractl: unknown name \"%s\"; the names are %s\nSee velmoractl --help.\n",
                         pairs[i], names);
            return command_misused;
        }
        if (i + 1 == count) return misused("%s needs on or off after it", pairs[i]);
        if (std::strcmp(pairs[i + 1], "on") != 0 && std::strcmp(pairs[i + 1], "off") != 0)
            return misused("\"%s\" is neither on nor off", pairs[i + 1]);
    }

    // Held from the read to the read-back: a velmoractl or a dialog's Apply
    // running at the same time waits, and no change is lost between them.
    int error = 0;
    const int lock = selection_file_lock(path, &error);
    if (lock < 0) {
        char reason[96];
        selection_file_error_text(error, reason, sizeof reason);
        std::fprintf(stderr, "velmoractl: the selection could not be saved to %s.\n%s\n", path, reason);
        return command_refused;
    }
    selection_file_content content = read_selection_file(path);
    if (content.kind != selection_file_kind::whole && content.kind != selection_file_kind::missing) {
        selection_file_unlock(lock);
        report_unusable(path, content);
        std::fprintf(stderr, "Nothing was changed.\n");
        return command_refused;
    }
    // A missing file stands for every flag off, as Velmora reads it.
    ServiceSelection record = content.kind == selection_file_kind::whole ? content.record : ServiceSelection{};
    for (int i = 0; i < count; i += 2)
        record.flags[flag_index(pairs[i])] = std::strcmp(pairs[i + 1], "on") == 0 ? 1 : 0;

    const bool written = write_selection_file(path, record, &error);
    selection_file_unlock(lock);
    if (!written) {
        char reason[96];
        selection_file_error_text(error, reason, sizeof reason);
        std::fprintf(stderr, "velmoractl: the selection could not be saved to %s.\n%s\n", path, reason);
        return command_refused;
    }
    print_table(path, record);
    std::printf("\nSaved. %s", selection_apply_advice());
    return command_done;
}

} // namespace

int run_selection_command(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        char names[160];
        selection_flag_names(names, sizeof names);
        std::printf(usage, names);
        return command_done;
    }
    int next = 1;
    const char* path = nullptr;
    if (next < argc && std::strcmp(argv[next], "--file") == 0) {
        if (next + 1 == argc) {
            std::fprintf(stderr, "velmoractl: --file needs a PATH\nSee velmoractl --help.\n");
            return command_misused;
        }
        path = argv[next + 1];
        next += 2;
    }
    if (path == nullptr) path = settings_file_path();
    if (next == argc) return show(path);
    if (std::strcmp(argv[next], "set") != 0) return misused("unknown command \"%s\"", argv[next]);
    return set(path, argc - next - 1, argv + next + 1);
}
