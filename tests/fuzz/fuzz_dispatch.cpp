// The UDP listener's dispatch, fed any receive result, error number, failure
// count and buffer content. The handler records what it was given and reads
// every byte it was told about; in DNS mode it also builds the answer in
// place, as the probe does, in a buffer of exactly the listener's size.
//
// Input: received (4 bytes LE), error (4), failures so far (4), mode (1),
// then the datagram's bytes.
#include <cstring>
#include <vector>

#include "dns.h"
#include "fuzz_check.h"
#include "listener.h"
#include "sockets.h"

namespace {

struct handler_call {
    int calls;
    const net_address* sender;
    unsigned char* buffer;
    int count;
    bool over_long;
    unsigned sum;
};

handler_call seen;
bool build_answer = false;

void recording_handler(const datagram& d)
{
    const net_address* sender = d.sender;
    unsigned char* buffer = d.bytes;
    const int count = d.count;
    const bool over_long = d.over_long;
    ++seen.calls;
    seen.sender = sender;
    seen.buffer = buffer;
    seen.count = count;
    seen.over_long = over_long;
    FUZZ_REQUIRE(count >= 0 && count <= udp_receive_offer);
    for (int i = 0; i < count; ++i) seen.sum += buffer[i];
    if (build_answer && !over_long) {
        const int length = dns_build_answer(buffer, count);
        // The whole datagram and the record, or a query cut to its question.
        FUZZ_REQUIRE(length == 0 || (length >= dns_header_size + dns_record_size && length <= count + dns_record_size));
        FUZZ_REQUIRE(length <= udp_buffer_size);
    }
}

void ignoring_handler(const datagram&) {}

std::int32_t le32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                                     std::uint32_t(p[3]) << 24);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t header = 13;
    if (size < header) return -1;
    const int received = le32(data);
    const int error = le32(data + 4);
    const int failures_before = le32(data + 8) & 0x7FFFFFFF; // a count: never negative
    const std::uint8_t mode = data[12];
    const bool has_handler = (mode & 1) == 0;
    build_answer = (mode & 2) != 0;

    // Exactly the listener's buffer, so that any byte past it is caught.
    std::vector<unsigned char> buffer(udp_buffer_size);
    const std::size_t content = size - header < buffer.size() ? size - header : buffer.size();
    std::memcpy(buffer.data(), data + header, content);
    net_address sender{};
    sender.length = static_cast<int>(sizeof sender.bytes);

    const datagram_handler handler = has_handler ? recording_handler : ignoring_handler;
    seen = handler_call{};
    int failures = failures_before;
    const bool pause = dispatch_receive(handler, net_invalid_socket, received, error, &sender, buffer.data(), &failures);

    const bool failed = received < 0 && error != net_error_message_size;
    if (failed) {
        // No datagram: nothing to hand on, and the failure counts.
        FUZZ_REQUIRE(seen.calls == 0);
        FUZZ_REQUIRE(failures > 0);
        FUZZ_REQUIRE(failures >= failures_before);
        FUZZ_REQUIRE(pause == (failures > 1));
        return 0;
    }
    // A datagram, whole or cut: handed on once, and the failures are over.
    FUZZ_REQUIRE(!pause);
    FUZZ_REQUIRE(failures == 0);
    if (!has_handler) {
        FUZZ_REQUIRE(seen.calls == 0);
        return 0;
    }
    FUZZ_REQUIRE(seen.calls == 1);
    FUZZ_REQUIRE(seen.sender == &sender);
    FUZZ_REQUIRE(seen.buffer == buffer.data());
    const bool whole = received >= 0 && received <= udp_receive_offer;
    FUZZ_REQUIRE(seen.over_long == !whole);
    FUZZ_REQUIRE(seen.count == (whole ? received : udp_receive_offer));
    return 0;
}
