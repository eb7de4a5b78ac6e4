#include "quote.h"

#include <cstdio>
#include <cstring>

#include "clock.h"
#include "files.h"
#include "shown_text.h"
#include "message_box.h"
#include "program_files.h"
#include "random_generator.h"
#include "service_handlers.h"
#include "service_table.h"

namespace {

// Written once by the listener before its port opens; sessions only read.
quote_table quotes;

// Loads VESK.TXT from beside the executable. Returns 0, or why it cannot
// be read: the file error number, or service_file_not_plain. Only a plain
// file is read: a pipe would hold the listener until a writer comes, and a
// device such as /dev/zero would never end.
int read_quote_file()
{
    char path[shown_text_size];
    path_beside_program("VESK.TXT", path, sizeof path);
    shown_text_store(path);
    const int fd = file_open_existing(path, false);
    if (fd < 0) return file_last_error();
    if (!file_is_regular(fd)) {
        file_close(fd);
        return service_file_not_plain;
    }
    quote_begin(&quotes);
    // Read in blocks, fed byte by byte: the same bytes as one read per byte.
    unsigned char block[4096];
    int got;
    bool taking = true;
    while (taking && (got = file_read(fd, block, sizeof block)) > 0) {
        for (int i = 0; i < got && taking; ++i) taking = quote_feed(&quotes, block[i]);
    }
    file_close(fd);
    return 0;
}

} // namespace

int quote_load_file()
{
    // A quote listener per listen address: the first one reads the file,
    // the others wait for it and share its outcome.
    static const int error = read_quote_file();
    if (error == 0) return 0;
    if (error == service_file_not_plain || file_error_is_missing(error)) {
        message_box("Quote of the day File >VESK.TXT< not found !", "VESK Error", box_icon::exclamation);
        return error;
    }
    // A file that is there but cannot be opened now (no descriptor left, no
    // permission) is not reported missing.
    char words[128];
    file_error_words(error, words, sizeof words);
    char text[sizeof words + 96];
    std::snprintf(text, sizeof text, "Quote of the day File >VESK.TXT< cannot be opened%s%s\nError Nr: %d",
                  words[0] != '\0' ? ": " : "", words, error);
    message_box(text, "VESK Error", box_icon::exclamation);
    return error;
}

void quote_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    random_seed(clock_tick_count());
    const int slot = quote_pick(random_next(), quotes.count);
    net_send(s, quotes.text[slot], quotes.length[slot]);
    net_close(s);
}

void quote_begin(quote_table* table)
{
    std::memset(table, 0, sizeof *table);
}

namespace {

void quote_append(quote_table* table, unsigned char byte)
{
    // A quote longer than its slot is cut at 512 bytes; the NUL behind it stays.
    int& length = table->length[table->count];
    if (length < quote_slot_size - 1) table->text[table->count][length++] = byte;
}

} // namespace

bool quote_feed(quote_table* table, unsigned char byte)
{
    if (table->count >= quote_separator_limit) return false;
    if (byte == '%') {
        ++table->count;
    } else if (byte != 0) {
        quote_append(table, byte);
        if (byte == '\n') quote_append(table, '\r');
    }
    return true;
}

void quote_load(quote_table* table, const unsigned char* data, std::size_t size)
{
    quote_begin(table);
    for (std::size_t i = 0; i < size && quote_feed(table, data[i]); ++i) {
    }
}

int quote_pick(int r, int count)
{
    return static_cast<int>(static_cast<std::uint32_t>(r) * static_cast<std::uint32_t>(count) / 32767u);
}
