#include "files.h"
#include "formats.h"
#include "global_text.h"
#include "message_box.h"
#include "program_files.h"
#include "service_handlers.h"

namespace {

// Written once by the listener before its port opens; sessions only read.
quote_table quotes;

// Loads VESK.TXT from beside the executable; false when it cannot be opened.
bool read_quote_file()
{
    // Built in a buffer of its own: other threads use the shared one now.
    char path[global_text_size];
    path_beside_program("VESK.TXT", path, sizeof path);
    global_text_store(path);
    const int fd = file_open_read(path);
    if (fd < 0) return false;
    quote_begin(&quotes);
    // Read in blocks, fed byte by byte: the same bytes as one read per byte.
    unsigned char block[4096];
    int got;
    bool taking = true;
    while (taking && (got = file_read(fd, block, sizeof block)) > 0) {
        for (int i = 0; i < got && taking; ++i) taking = quote_feed(&quotes, block[i]);
    }
    file_close(fd);
    return true;
}

} // namespace

bool quote_load_file()
{
    if (read_quote_file()) return true;
    message_box("Quote of the day File >VESK.TXT< not found !", "VESK Error", box_icon::exclamation);
    return false;
}

void quote_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    random_seed(clock_tick_count());
    const int slot = quote_pick(random_next(), quotes.count);
    net_send(s, quotes.text[slot], quotes.length[slot]);
    net_close(s);
}
