// The DNS answer builder, fed any datagram of 0 to 255 bytes in a buffer of
// exactly n + 17 bytes, so that a write one byte further is caught. A
// datagram without a full header is left alone and gets no answer; any
// other becomes the datagram with QR and AA set and ANCOUNT's low byte 1,
// then the one fixed address record: n + 17 bytes, or, for a query (QR
// clear) whose question walks and that holds bytes behind it, its header
// with ANCOUNT 1, NSCOUNT and ARCOUNT 0, its question and the record.
#include <cstring>
#include <vector>

#include "dns.h"
#include "fuzz_check.h"

namespace {

constexpr int largest_datagram = 255;
constexpr unsigned char record[] = {0x01, 0x78, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x04, 0x5A, 0x00, 0x00, 0x66};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > largest_datagram) return -1; // the listener never receives more
    const int n = static_cast<int>(size);
    std::vector<unsigned char> buffer(size + dns_record_size);
    if (size > 0) std::memcpy(buffer.data(), data, size);
    const std::vector<unsigned char> before = buffer;
    const int length = dns_build_answer(buffer.data(), n);
    if (n < dns_header_size) {
        FUZZ_REQUIRE(length == 0);
        FUZZ_REQUIRE(buffer == before);
        return 0;
    }
    const int question_end = dns_question_end(before.data(), n);
    const bool cut = (data[2] & 0x80) == 0 && question_end >= 0 && question_end < n;
    const int kept = cut ? question_end : n;
    FUZZ_REQUIRE(!cut || question_end >= dns_header_size);
    FUZZ_REQUIRE(length == kept + 17);
    FUZZ_REQUIRE(length <= 272);
    FUZZ_REQUIRE(buffer[0] == data[0] && buffer[1] == data[1]);                 // ID
    FUZZ_REQUIRE(buffer[2] == (data[2] | 0x84));                                 // QR, AA set; the rest kept
    FUZZ_REQUIRE((buffer[2] & 0x7B) == (data[2] & 0x7B));                         // opcode, TC, RD kept
    FUZZ_REQUIRE(buffer[3] == data[3]);                                          // RA, Z, RCODE
    FUZZ_REQUIRE(buffer[4] == data[4] && buffer[5] == data[5]);                 // QDCOUNT
    FUZZ_REQUIRE(buffer[6] == (cut ? 0 : data[6]) && buffer[7] == 0x01);        // ANCOUNT
    if (cut) {
        static const unsigned char none[4] = {0, 0, 0, 0};
        FUZZ_REQUIRE(std::memcmp(buffer.data() + 8, none, 4) == 0);              // NS/ARCOUNT 0
        FUZZ_REQUIRE(std::memcmp(buffer.data() + 12, data + 12, kept - 12) == 0); // the question
    } else {
        FUZZ_REQUIRE(std::memcmp(buffer.data() + 8, data + 8, size - 8) == 0);   // NS/ARCOUNT, the rest
    }
    FUZZ_REQUIRE(std::memcmp(buffer.data() + kept, record, sizeof record) == 0);
    return 0;
}
