// The DNS probe: its answer format and which senders it answers, free of
// sockets.
#pragma once

#include <cstddef>
#include <cstdint>

// Turns the query of `count` bytes in `buffer` (room for
// count + 17) into the answer; returns the answer's length, or 0 for a
// datagram without a full header. A query (QR clear) whose question can be
// walked and that holds bytes behind it is answered with its header and
// question only.
inline constexpr int dns_header_size = 12;
inline constexpr int dns_record_size = 17;
int dns_build_answer(unsigned char* buffer, int count);
// The offset just behind the question section of a query of `count` bytes,
// or -1 when the questions its header counts do not fit in it.
int dns_question_end(const unsigned char* buffer, int count);
// Whether a datagram from `source_port` may be a resolver's query. The small
// services (7, 9, 13, 17, 19, 37) and every other port below 1024 but 53
// never are: answering them would let a forged datagram start an endless
// exchange with a responder that answers from its own port.
bool dns_query_source_port(std::uint16_t source_port);
// Whether the datagram is a response (QR set in its header): a probe that
// answered responses would answer its own answers.
bool dns_is_response(const unsigned char* bytes, int count);
