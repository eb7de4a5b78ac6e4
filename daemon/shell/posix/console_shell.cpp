#include "console_shell.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "console_focus.h"
#include "console_keys.h"
#include "console_layout.h"
#include "console_relay.h"
#include "console_screen.h"
#include "control_dialog.h"
#include "module_path.h"
#include "shell_host.h"

namespace {

const char hint_text[] = "Velmora V1.0 - press Enter to open the control dialog, Ctrl-C to stop\n";
const char no_dialog_text[] = "Velmora V1.0: the control dialog cannot be drawn on this terminal (is TERM set?)\n";

// The id a Windows dialog sends when Enter is pressed and no button has the
// focus; the message table does nothing with it.
constexpr int id_ok = 1;
// The icon's id in the taskbar; the stand-in sends it as Windows would.
constexpr std::uintptr_t taskbar_icon_id = 1;
// How often the loop looks for resizing and for output being held back.
constexpr int tick_ms = 200;
constexpr int keys_per_tick = 64;
constexpr int escape_key = 27;
constexpr int escape_delay_ms = 50;

struct console_state {
    bool checked[maindlg_control_count];
    int focus;
    bool shown;
    bool closed;  // by "&Stop all Services and E&xit": never shown again
    bool quit;    // the quit message was posted
    bool restart; // a new instance is to replace this one
    bool stdin_open;
    int last_held_lines;
    SCREEN* screen;
    int tty_fd;
    FILE* tty_out;
    FILE* tty_in;
    ServiceSelection* choice;
};

console_state console;
volatile sig_atomic_t ending_signal = 0;
volatile sig_atomic_t size_changed = 0;

void note_ending(int number) { ending_signal = number; }
void note_size(int) { size_changed = 1; }

const dialog_host& console_host();

std::intptr_t send_to_dialog(unsigned message, std::uintptr_t wparam, std::intptr_t lparam)
{
    return control_dialog_proc(console_host(), console.choice, message, wparam, lparam);
}

void write_hint() { relay_write(console.tty_fd, hint_text, sizeof hint_text - 1); }

void fit_to_terminal()
{
    size_changed = 0;
    winsize size{};
    if (::ioctl(console.tty_fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0 &&
        (size.ws_row != LINES || size.ws_col != COLS))
        resizeterm(size.ws_row, size.ws_col);
}

void redraw()
{
    dialog_view view{};
    std::memcpy(view.checked, console.checked, sizeof view.checked);
    view.focus = console.focus;
    view.held_lines = console.last_held_lines = relay_held_lines();
    view.held_box = relay_last_held_box();
    draw_dialog(view);
}

bool open_screen()
{
    if (console.screen != nullptr) {
        clearok(curscr, TRUE);
        fit_to_terminal();
        return true;
    }
    // Curses would take job control over; the dialog reads keys raw and
    // never sees Ctrl-Z, and the hidden shell leaves it to the terminal.
    struct sigaction ignore {}, before{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGTSTP, &ignore, &before);
    console.screen = newterm(nullptr, console.tty_out, console.tty_in);
    sigaction(SIGTSTP, &before, nullptr);
    if (console.screen == nullptr) return false;
    raw();
    noecho();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(escape_delay_ms);
    curs_set(1);
    return true;
}

void show_dialog()
{
    if (console.closed) return;
    if (!console.shown) {
        relay_hold();
        if (!open_screen()) {
            relay_release();
            relay_write(console.tty_fd, no_dialog_text, sizeof no_dialog_text - 1);
            return;
        }
        console.shown = true;
    }
    flushinp();
    redraw();
}

void take_down_dialog()
{
    if (!console.shown) return;
    endwin();
    console.shown = false;
    relay_release();
}

// What the dialog asks of its window.
void host_check(int id, int state)
{
    const int index = control_index(id);
    if (index >= 0) console.checked[index] = state != 0;
}

int host_is_checked(int id)
{
    const int index = control_index(id);
    return index >= 0 && console.checked[index] ? 1 : 0;
}

// Windows tells a minimised window so with WM_SIZE, and the table hides it.
void host_minimize() { send_to_dialog(dialog_message_size, dialog_size_minimized, 0); }

void host_hide()
{
    if (!console.shown) return;
    take_down_dialog();
    write_hint();
}

void host_close()
{
    take_down_dialog();
    console.closed = true;
}

void host_post_quit(int) { console.quit = true; }

// The hint line is this shell's taskbar icon.
void host_start_icon_thread() { write_hint(); }

// The process image is replaced after the end sequence, so all that can be
// told now is whether the executable can be run at all.
bool host_start_new_instance()
{
    char executable[executable_path_size];
    if (module_path(executable, sizeof executable) == 0 || ::access(executable, X_OK) != 0) return false;
    console.restart = true;
    return true;
}

const dialog_host host = {host_check, host_is_checked, show_dialog,          host_minimize,          host_hide,
                          host_close, host_post_quit,  host_start_icon_thread, host_start_new_instance};

const dialog_host& console_host() { return host; }

// Keys, as a Windows dialog treats them.
void click(int index)
{
    const template_control& control = maindlg_controls[index];
    if (control.kind == control_kind::check_box) console.checked[index] = !console.checked[index];
    send_to_dialog(dialog_message_command, static_cast<std::uintptr_t>(control.id), 0);
}

void on_none(const key_event&) {}
void on_next(const key_event&) { console.focus = step_focus(console.focus, 1); }
void on_previous(const key_event&) { console.focus = step_focus(console.focus, -1); }
void on_space(const key_event&) { click(console.focus); }

void on_enter(const key_event&)
{
    if (maindlg_controls[console.focus].kind == control_kind::push_button)
        click(console.focus);
    else
        send_to_dialog(dialog_message_command, id_ok, 0);
}

void on_escape(const key_event&) { send_to_dialog(dialog_message_close, 0, 0); }

void on_mnemonic(const key_event& key)
{
    const mnemonic_hit hit = find_mnemonic(console.focus, key.letter);
    if (hit.index < 0) return;
    console.focus = hit.index;
    if (hit.click) click(hit.index);
}

void on_interrupt(const key_event&) { ending_signal = SIGINT; }

void on_redraw(const key_event&)
{
    clearok(curscr, TRUE);
    fit_to_terminal();
}

using key_handler = void (*)(const key_event&);
const key_handler key_handlers[] = {on_none,   on_next,     on_previous,  on_space, on_enter,
                                    on_escape, on_mnemonic, on_interrupt, on_redraw};

void take_keys()
{
    for (int count = 0; count < keys_per_tick && console.shown && !console.quit && ending_signal == 0; ++count) {
        int key = wgetch(stdscr);
        if (key == ERR) break;
        bool alt = false;
        if (key == escape_key) {
            // Curses has waited for the rest of an escape sequence already:
            // a letter that came with it is Alt and that letter.
            const int next = wgetch(stdscr);
            if (next >= 0 && next < 128 && std::isalnum(next)) {
                key = next;
                alt = true;
            } else if (next != ERR) {
                ungetch(next);
            }
        }
        const key_event event = classify_key(key, alt);
        key_handlers[static_cast<int>(event.action)](event);
        if (console.shown && !console.quit) redraw();
    }
}

// With the dialog hidden the terminal keeps its line editing: a line ends
// with Enter, and that is the press on the icon.
void take_line()
{
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0 && std::memchr(buffer, '\n', static_cast<std::size_t>(n)) != nullptr)
        send_to_dialog(dialog_message_icon, taskbar_icon_id, dialog_mouse_left_down);
}

bool in_foreground() { return ::tcgetpgrp(STDIN_FILENO) == ::getpgrp(); }

void wait_and_act(const sigset_t& waiting)
{
    if (size_changed && console.shown) {
        fit_to_terminal();
        redraw();
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const bool watching = console.stdin_open && in_foreground();
    const timespec tick{0, tick_ms * 1000000L};
    const int ready = ::ppoll(&input, watching ? 1 : 0, &tick, &waiting);
    if (ready < 0) return;
    if (watching && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        console.stdin_open = false;
        return;
    }
    if (console.shown) {
        take_keys();
        if (console.shown && !console.quit && relay_held_lines() != console.last_held_lines) redraw();
    } else if (watching && (input.revents & POLLIN) != 0) {
        take_line();
    }
}

bool open_terminal()
{
    const char* name = ::ttyname(STDIN_FILENO);
    if (name == nullptr) return false;
    console.tty_fd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (console.tty_fd < 0) return false;
    const int input_fd = ::fcntl(console.tty_fd, F_DUPFD_CLOEXEC, 3);
    console.tty_out = ::fdopen(console.tty_fd, "w");
    console.tty_in = input_fd >= 0 ? ::fdopen(input_fd, "r") : nullptr;
    return console.tty_out != nullptr && console.tty_in != nullptr;
}

void catch_signals(const sigset_t& ending)
{
    struct sigaction note {};
    note.sa_flags = SA_RESTART;
    sigemptyset(&note.sa_mask);
    note.sa_handler = note_ending;
    for (int number : {SIGINT, SIGTERM})
        if (sigismember(&ending, number) == 1) sigaction(number, &note, nullptr);
    // Any thread may take it; SA_RESTART keeps it from breaking a
    // listener's accept or receive.
    note.sa_handler = note_size;
    sigaction(SIGWINCH, &note, nullptr);
}

} // namespace

bool console_possible() { return ::isatty(STDIN_FILENO) == 1 && in_foreground(); }

int run_console_shell(const sigset_t& ending, ServiceSelection* choice)
{
    console = console_state{};
    console.choice = choice;
    console.tty_fd = -1;
    console.stdin_open = true;
    if (!open_terminal()) return -1;
    catch_signals(ending);
    relay_start();

    send_to_dialog(dialog_message_init, 0, 0);
    console.focus = first_focus();
    write_hint();

    sigset_t waiting;
    pthread_sigmask(SIG_SETMASK, nullptr, &waiting);
    for (int number : {SIGINT, SIGTERM})
        if (sigismember(&ending, number) == 1) sigdelset(&waiting, number);
    while (!console.quit && ending_signal == 0) wait_and_act(waiting);

    take_down_dialog();
    relay_stop();
    return console.quit && console.restart ? shell_restart : shell_stop;
}
