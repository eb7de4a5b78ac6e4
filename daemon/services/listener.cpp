#include "listener.h"

#include <cstdio>
#include <limits>

#include "clock.h"
#include "message_box.h"
#include "output_lines.h"
#include "service_handlers.h"
#include "service_table.h"
#include "session_frame.h"
#include "shown_text.h"
#include "stream_session.h"

namespace {

constexpr unsigned resource_pause_ms = 100;
constexpr unsigned failure_pause_ms = 50;

// Each listener formats its error texts in a buffer of its own, so that
// boxes shown at the same moment never mix; the text is also kept as the
// one the port-53 box shows.
void show_socket_error(const char* format, const char* caption, int error)
{
    char text[128];
    std::snprintf(text, sizeof text, format, error);
    shown_text_store(text);
    message_box(text, caption);
}

listener_outcome bind_outcome(int error)
{
    if (error == net_error_address_in_use) return listener_outcome::port_in_use;
    if (error == net_error_access_denied) return listener_outcome::port_denied;
    return listener_outcome::bind_failed;
}

// Creates a socket of the job's address family and binds it to the job's
// address and the service's port; tells the failure, shows the box and
// returns net_invalid_socket on failure.
net_socket open_listener_socket(listener_job* job, bool stream)
{
    const listen_address& local = *job->local;
    const net_socket socket = stream ? net_open_stream_for(&local.address) : net_open_datagram_for(&local.address);
    if (socket == net_invalid_socket) {
        listener_tell(job, listener_outcome::no_socket, net_last_error());
        message_box("socket() failed", "Error");
        return net_invalid_socket;
    }
    if (net_bind_to(socket, &local.address, job->service->port, local.both_families) != 0) {
        const int error = net_last_error();
        listener_tell(job, bind_outcome(error), error);
        show_socket_error("Socket Error Nr: %d\nVESK already running ?", "VESK - bind(sock) failed", error);
        return net_invalid_socket;
    }
    return socket;
}

bool short_of_resources(int error)
{
    return error == net_error_too_many_files || error == net_error_no_buffers;
}

// Counts one more failure in a row and returns the count. A failure that
// persists for years must not overflow the count.
int count_failure(int* failures_in_a_row)
{
    if (*failures_in_a_row < std::numeric_limits<int>::max()) ++*failures_in_a_row;
    return *failures_in_a_row;
}

// Connections closed because their session thread could not start (the
// system's thread limit, or memory): the first is said at once, those that
// follow are counted and their number said when a session starts again, as
// dropped output lines are. One record per listener, on its stack.
struct unstarted_sessions {
    unsigned long closed = 0; // since the last session that started
};

// The line and (port 53's) box of an admitted connection.
void greet(const void* raw, net_socket connection)
{
    const listener_job& job = *static_cast<const listener_job*>(raw);
    if (!job.options->quiet) output_line("Executing server thread for %d\n", static_cast<int>(connection));
    if (job.service->box_before_session) {
        char text[shown_text_size];
        shown_text_copy(text, sizeof text);
        message_box(text, "TCP");
    }
}

void start_session(const listener_job& job, net_socket connection, unstarted_sessions* unstarted)
{
    const service_row& row = *job.service;
    int error = 0;
    const session_admission admission = start_framed_session(row, job.state, connection, &error, {greet, &job});
    if (admission == session_admission::refused) {
        net_close(connection);
        return;
    }
    if (admission == session_admission::started) {
        if (unstarted->closed > 1)
            output_line("(%lu more connections closed: no server thread started)", unstarted->closed - 1);
        unstarted->closed = 0;
        return;
    }
    if (unstarted->closed == 0)
        output_line("Server thread for %d cannot start (Error Nr: %d): closed", static_cast<int>(connection), error);
    if (unstarted->closed < std::numeric_limits<unsigned long>::max()) ++unstarted->closed;
    net_close(connection);
}

} // namespace

void listener_tell(listener_job* job, listener_outcome outcome, int error)
{
    listener_reports* reports = job->reports;
    if (reports == nullptr) return;
    thread_lock_take(reports->lock);
    job->outcome = outcome;
    job->error = error;
    thread_lock_release(reports->lock);
    thread_signal_raise(reports->told);
}

listener_outcome listener_told(const listener_job& job, int* error)
{
    if (job.reports == nullptr) {
        *error = job.error;
        return job.outcome;
    }
    thread_lock_take(job.reports->lock);
    const listener_outcome outcome = job.outcome;
    *error = job.error;
    thread_lock_release(job.reports->lock);
    return outcome;
}

void run_tcp_listener(void* raw)
{
    auto* job = static_cast<listener_job*>(raw);
    const service_row& row = *job->service;
    const int file_error = row.before_listening != nullptr ? row.before_listening() : 0;
    if (file_error != 0) {
        listener_tell(job, listener_outcome::no_file, file_error);
        return;
    }
    const net_socket listener = open_listener_socket(job, true);
    if (listener == net_invalid_socket) return;
    if (net_listen(listener, net_listen_backlog_most()) < 0) {
        const int error = net_last_error();
        listener_tell(job, listener_outcome::listen_failed, error);
        show_socket_error("Socket Error Nr: %d", "VESK - listen(sock) failed", error);
        return;
    }
    listener_tell(job, listener_outcome::serving, 0);
    // Port 53 shows a box before each session: its connections wait in the
    // system's queue meanwhile, one at a time.
    const int taken_at_most = row.box_before_session ? 1 : accept_ahead;
    // Connections taken from the system's queue, oldest first, whose
    // sessions have not started yet.
    net_socket taken[accept_ahead];
    int first = 0;
    int count = 0;
    int failures_in_a_row = 0;
    unstarted_sessions unstarted;
    for (;;) {
        if (count == 0) {
            const net_socket connection = net_accept(listener);
            if (connection == net_invalid_socket) {
                // An aborted connection must not take the service down; when
                // the system is out of descriptors or memory, give it a moment.
                const int error = net_last_error();
                if (short_of_resources(error) || count_failure(&failures_in_a_row) > 1)
                    clock_sleep_ms(resource_pause_ms);
                continue;
            }
            failures_in_a_row = 0;
            taken[first] = connection;
            count = 1;
        }
        // Before every session starts, the connections queued meanwhile are
        // taken. With the largest backlog the system grants, a burst no
        // longer needs this to keep places free, but it still pays: many
        // clients connecting at once are served faster, at about the same
        // CPU time per connection (one poll more each, and fewer wakings;
        // bench/RESULTS.md).
        net_socket more;
        while (count < taken_at_most && (more = net_accept_queued(listener)) != net_invalid_socket)
            taken[(first + count++) % accept_ahead] = more;
        start_session(*job, taken[first], &unstarted);
        first = (first + 1) % accept_ahead;
        --count;
    }
}

bool session_on_own_thread(thread_entry session, void* argument, int* error)
{
    return thread_run(session, argument, session_stack, error);
}

bool session_on_listener(thread_entry session, void* argument, int*)
{
    session(argument);
    return true;
}

bool dispatch_receive(datagram_handler handler, net_socket listener, int received, int error,
                      const net_address* sender, unsigned char* buffer, int* failures_in_a_row,
                      recent_datagrams* recent, bool reply_from_listener, run_state* state, int service)
{
    // A count beyond what was offered cannot be a whole datagram in the
    // buffer: it is handled as a cut one, so no handler reads past the buffer.
    const bool over_long = received > udp_receive_offer || (received < 0 && error == net_error_message_size);
    if (received < 0 && !over_long) {
        // No datagram and so no valid sender to answer.
        return count_failure(failures_in_a_row) > 1;
    }
    *failures_in_a_row = 0;
    handler({listener, sender, buffer, over_long ? udp_receive_offer : received, over_long, recent, reply_from_listener,
             state, service});
    return false;
}

void run_udp_listener(void* raw)
{
    auto* job = static_cast<listener_job*>(raw);
    const service_row& row = *job->service;
    const bool reply_from_listener = job->options->udp_reply == udp_reply_port::service;
    const net_socket listener = open_listener_socket(job, false);
    if (listener == net_invalid_socket) return;
    listener_tell(job, listener_outcome::serving, 0);
    unsigned char buffer[udp_buffer_size];
    net_address sender{};
    sender.length = sizeof sender.bytes;
    int failures_in_a_row = 0;
    // Only a service that answers from this socket needs the table of recent
    // answers. Without memory for it, no answer leaves before there is: it
    // is what stops a reflector.
    const bool answers_from_here = reply_from_listener || row.udp_reply == dns_udp_reply;
    std::unique_ptr<recent_datagrams> recent = answers_from_here ? recent_datagrams_make() : nullptr;
    if (answers_from_here && recent == nullptr) output_line("%s: no memory for the table of recent answers", row.name);
    while (answers_from_here && recent == nullptr) {
        clock_sleep_ms(resource_pause_ms);
        recent = recent_datagrams_make();
    }
    for (;;) {
        const int received = net_recv_from(listener, buffer, udp_receive_offer, &sender);
        const int error = received < 0 ? net_last_error() : 0;
        if (dispatch_receive(row.udp_reply, listener, received, error, &sender, buffer, &failures_in_a_row,
                             recent.get(), reply_from_listener, job->state, service_index(row))) {
            clock_sleep_ms(failure_pause_ms);
        }
    }
}
