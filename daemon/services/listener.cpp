#include "listener.h"

#include <cstdio>
#include <limits>
#include <new>

#include "clock.h"
#include "message_box.h"
#include "output_lines.h"
#include "service_table.h"
#include "shown_text.h"

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

void start_session(const service_row& row, const run_options& options, net_socket connection,
                   unstarted_sessions* unstarted)
{
    if (!options.quiet) output_line("Executing server thread for %d\n", static_cast<int>(connection));
    if (row.box_before_session) {
        char text[shown_text_size];
        shown_text_copy(text, sizeof text);
        message_box(text, "TCP");
    }
    int error = 0;
    if (row.start_session(row.tcp_session, thread_argument(connection), &error)) {
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
    const int room = row.box_before_session ? 1 : accept_ahead;
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
        // longer needs this to keep places free, but it still pays: with 16
        // clients connecting to daytime as fast as they can, the listener
        // served 11,000 to 16,000 connections a second with it and 8,000 to
        // 10,000 without, at about the same CPU time per connection (one
        // poll more each, and fewer wakings).
        net_socket more;
        while (count < room && (more = net_accept_queued(listener)) != net_invalid_socket)
            taken[(first + count++) % accept_ahead] = more;
        start_session(row, *job->options, taken[first], &unstarted);
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
                      recent_datagrams* recent, bool reply_from_listener)
{
    // A count beyond what was offered cannot be a whole datagram in the
    // buffer: it is handled as a cut one, so no handler reads past the buffer.
    const bool over_long = received > udp_receive_offer || (received < 0 && error == net_error_message_size);
    if (received < 0 && !over_long) {
        // No datagram and so no valid sender to answer.
        return count_failure(failures_in_a_row) > 1;
    }
    *failures_in_a_row = 0;
    handler({listener, sender, buffer, over_long ? udp_receive_offer : received, over_long, recent, reply_from_listener});
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
    recent_datagrams recent;
    recent_datagrams_clear(&recent);
    for (;;) {
        const int received = net_recv_from(listener, buffer, udp_receive_offer, &sender);
        const int error = received < 0 ? net_last_error() : 0;
        if (dispatch_receive(row.udp_reply, listener, received, error, &sender, buffer, &failures_in_a_row, &recent,
                             reply_from_listener)) {
            clock_sleep_ms(failure_pause_ms);
        }
    }
}

namespace {

// Moves the room to the large portion, once; without memory for it the
// stack portion serves on.
void take_large_portion(stream_room* room)
{
    if (room->large != nullptr) return;
    room->large.reset(new (std::nothrow) unsigned char[stream_portion_large]);
    if (room->large != nullptr) {
        room->bytes = room->large.get();
        room->size = stream_portion_large;
    }
}

} // namespace

int stream_receive(net_socket s, stream_room* room)
{
    if (room->filled) take_large_portion(room);
    const int received = net_recv(s, room->bytes, room->size);
    room->filled = received == room->size;
    return received;
}

namespace {

// While its client sends no more than half the stack portion at a time,
// echo offers to receive two of the client's sends (at least
// echo_least_offer), not all that waits. A client that keeps several sends
// in flight then gets the first of them back while the rest is still being
// received, and the session finds the rest waiting instead of sleeping
// until the client's next sends come; received and sent whole, what waited
// would go back in one piece, and client and session would take turns. One
// connection with four sends of 512 B or 4 KiB in flight took 5 to 15 %
// less of the server's CPU per MB so; with fifty connections, and where
// clients wait for each send, it made no difference.
//
// A cut offer leaves part of what waits in the system, which holds a short
// send back until what went before is acknowledged: a client that waits for
// all it sent would get the rest only after its delayed acknowledgement
// (tens of milliseconds on loopback). Lines typed or pasted at a terminal
// stay below echo_least_offer; a client kept waiting so
// (held_back_from_a_waiting_client) echo_waits_before_whole times has all
// that waits taken from then on, as before any cut. (Once would do, but a
// pipelining client that pauses looks the same to the session.) Letting
// every send go out at once instead (TCP_NODELAY) lost all that the cut
// saved, and more.
int echo_cut_offer(int client_send)
{
    return 2 * client_send < echo_least_offer ? echo_least_offer : 2 * client_send;
}

bool offer_cut_to_two_sends(const stream_room& room)
{
    return room.times_kept_waiting < echo_waits_before_whole && room.client_send != 0 &&
           room.client_send <= stream_portion / 2;
}

// Counts one receive into the measure of the client's sends. The least
// receive of a window stands for one send, as a receive often finds more
// than one waiting but a send of up to 8 KiB seldom arrives in parts. A
// window whose every receive filled the offer measures the offer: so a
// client that starts with small sends and then streams without waiting
// sees the offer double each window until the stack portion is filled.
//
// Large portions stay while the client's sends are large. A pipelining
// client of small sends can fill the stack portion too, with the sends it
// has in flight when the session starts: a window of large portions that
// saw a receive of half the stack portion or less and none beyond two
// stack portions takes the session back to two sends at a time, while
// echo still cuts its offers for this client. (A send beyond the system's
// segment size arrives in two receives, the second with the few bytes that
// were left: those windows saw large receives too.)
void note_receive(stream_room* room, int received)
{
    if (room->least_in_window == 0 || received < room->least_in_window) room->least_in_window = received;
    if (received > room->most_in_window) room->most_in_window = received;
    if (room->client_send != 0 && ++room->receives_in_window < echo_window) return;
    room->client_send = room->least_in_window;
    if (room->echo_large && offer_cut_to_two_sends(*room) && room->most_in_window <= 2 * stream_portion)
        room->echo_large = false;
    room->least_in_window = 0;
    room->most_in_window = 0;
    room->receives_in_window = 0;
}

// Echo's portion once its client has filled the stack portion in one
// receive: relayed where the system can, else copied through the large
// buffer.
int echo_large_portion(net_socket s, stream_room* room)
{
    if (!room->relaying && room->large == nullptr) room->relaying = stream_relay_open(&room->relay);
    if (room->relaying) {
        const int received = stream_relay_receive(s, &room->relay, stream_portion_large);
        if (received > 0) {
            if (stream_relay_send(s, &room->relay, received) < 0) return -1;
            note_receive(room, received);
            return received;
        }
        if (received == 0) return 0;
        // Refused (or the connection failed, which the copy's receive
        // below finds again): copy from now on.
        stream_relay_close(&room->relay);
        room->relaying = false;
    }
    take_large_portion(room);
    const int received = net_recv(s, room->bytes, room->size);
    if (received <= 0) return received;
    if (net_send(s, room->bytes, received) < 0) return -1;
    note_receive(room, received);
    return received;
}

// Whether a receive that waited `waited_ms` for the client shows a client
// that waits for all it sent, while what a filled cut offer left behind is
// held back by the system (see echo_cut_offer): the wait then lasts the
// client's delayed acknowledgement, where a pipelining client sends on at
// once. A client that pauses without such a fill before is no sign.
bool held_back_from_a_waiting_client(stream_room* room, std::uint32_t waited_ms, bool filled)
{
    const bool held = room->cut_filled && waited_ms >= echo_held_back_ms;
    room->cut_filled = (room->cut_filled && waited_ms < echo_held_back_ms) || filled;
    return held;
}

} // namespace

int stream_echo_portion(net_socket s, stream_room* room)
{
    if (room->echo_large) return echo_large_portion(s, room);
    const bool cut = offer_cut_to_two_sends(*room);
    const int offer = cut ? echo_cut_offer(room->client_send) : stream_portion;
    const std::uint32_t asked_at = cut ? clock_tick_count() : 0;
    const int received = net_recv(s, room->first, offer);
    if (received <= 0) return received;
    if (net_send(s, room->first, received) < 0) return -1;
    if (cut && held_back_from_a_waiting_client(room, clock_tick_count() - asked_at, received == offer))
        ++room->times_kept_waiting;
    note_receive(room, received);
    // Filled by a client that sends more than half the stack portion at a
    // time: large portions from now on.
    room->echo_large = received == stream_portion && !cut;
    return received;
}
