#!/usr/bin/env python3
"""Linux-side probes of Velmora's services on 127.0.0.1, for run.sh.

    wire.py CHECK [ARGS...]

Exit status 0 when the check holds; otherwise 1 with the reason on stderr.
Every socket wait is bounded by a time-out.
"""
import re
import socket
import sys
import threading
import time

HOST = "127.0.0.1"
WAIT = 3.0
RFC868_OFFSET = 2208988800
RING = bytes([c for c in range(0x21, 0x7F) if c != 0x5C]) + b" "


class Failure(Exception):
    pass


def expect(condition, why):
    if not condition:
        raise Failure(why)


def tcp(port):
    s = socket.create_connection((HOST, port), timeout=WAIT)
    s.settimeout(WAIT)
    return s


def read_to_end(s, limit=1 << 20):
    data = b""
    while len(data) < limit:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    return data


def tcp_read_all(port):
    s = tcp(port)
    try:
        return read_to_end(s)
    finally:
        s.close()


def read_exactly(s, count):
    data = b""
    while len(data) < count:
        chunk = s.recv(count - len(data))
        expect(chunk, "connection ended after %d of %d bytes" % (len(data), count))
        data += chunk
    return data


def udp_exchange(port, payload, wait=WAIT):
    """Sends one datagram; returns (reply, source port) or (None, None)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(wait)
    try:
        s.sendto(payload, (HOST, port))
        reply, source = s.recvfrom(65536)
        return reply, source[1]
    except socket.timeout:
        return None, None
    finally:
        s.close()


def udp_reply_from_other_port(port, payload=b"?"):
    reply, source = udp_exchange(port, payload)
    expect(reply is not None, "no UDP reply from port %d" % port)
    expect(source != port, "UDP reply came from the service's own port %d" % port)
    return reply


DAYTIME = re.compile(rb"^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                     rb"([ 1-3][0-9]) ([0-2][0-9]):([0-5][0-9]):([0-6][0-9]) ([0-9]{4})\n$")
MONTHS = [b"Jan", b"Feb", b"Mar", b"Apr", b"May", b"Jun", b"Jul", b"Aug", b"Sep", b"Oct", b"Nov", b"Dec"]


def check_daytime_text(text):
    expect(len(text) == 25, "daytime text has %d bytes, not 25: %r" % (len(text), text))
    m = DAYTIME.match(text)
    expect(m is not None, "daytime text out of layout: %r" % text)
    day = int(m.group(3))
    stamp = time.mktime((int(m.group(7)), MONTHS.index(m.group(2)) + 1, day, int(m.group(4)),
                         int(m.group(5)), int(m.group(6)), 0, 0, -1))
    expect(abs(stamp - time.time()) <= 5, "daytime %r is not the local time now" % text)
    weekday = time.strftime("%a", time.localtime(stamp)).encode()
    expect(weekday == m.group(1), "daytime %r names the wrong weekday" % text)


def check_time_value(value):
    expect(len(value) == 4, "time value has %d bytes, not 4" % len(value))
    seconds = int.from_bytes(value, "big") - RFC868_OFFSET
    expect(abs(seconds - time.time()) <= 5, "time value %d is not now" % seconds)


def chargen_line(k):
    start = (k % 95) % 94
    return bytes(RING[(start + j) % 94] for j in range(72)) + b"\r\n"


def quote_slots(path):
    """The quote table that a quote file loads into."""
    slots = [bytearray() for _ in range(300)]
    count = 0
    with open(path, "rb") as f:
        data = f.read()
    for byte in data:
        if count >= 299:
            break
        if byte == 0x25:
            count += 1
            continue
        if byte != 0:
            slots[count].append(byte)
        if byte == 0x0A:
            slots[count].append(0x0D)
    return [bytes(s[:512]) for s in slots[:count + 1]]


def run(check, args):
    if check == "tcp-open":
        tcp(int(args[0])).close()
    elif check == "tcp-refused":
        try:
            tcp(int(args[0])).close()
        except ConnectionRefusedError:
            return
        raise Failure("port %s accepted a connection" % args[0])
    elif check == "echo-tcp":
        payload = bytes((i * 7) & 0xFF for i in range(1300))
        s = tcp(7)
        s.sendall(payload)
        back = read_exactly(s, len(payload))
        s.shutdown(socket.SHUT_WR)
        rest = read_to_end(s)
        s.close()
        expect(back == payload and rest == b"", "TCP echo differs from what was sent")
    elif check == "echo-tcp-stream":
        # 8 MiB in 64 KiB writes, read as it comes back: the session grows
        # from its first buffers to a stream's on the way, and every byte
        # must come back in order. Bytes that never repeat at a power of
        # two show a portion out of place.
        total, block = 8 << 20, 65536
        payload = bytes((i * 31 + i // 97) & 0xFF for i in range(total))
        s = tcp(7)
        s.settimeout(20.0)
        sender = threading.Thread(target=lambda: [s.sendall(payload[k:k + block]) for k in range(0, total, block)])
        sender.start()
        back = bytearray()
        while len(back) < total:
            chunk = s.recv(total - len(back))
            expect(chunk, "connection ended after %d of %d bytes" % (len(back), total))
            back += chunk
        sender.join(20.0)
        s.close()
        if back != payload:
            first = next(i for i in range(total) if back[i] != payload[i])
            raise Failure("8 MiB came back different from byte %d" % first)
    elif check == "echo-tcp-queued":
        # Opened before any sends, so that most wait in the system's queue and
        # the listener takes them together; each must still be echoed by a
        # session whose receive waits for its bytes.
        many = [tcp(7) for _ in range(100)]
        time.sleep(0.5)
        for i, s in enumerate(many):
            s.sendall(b"queued %03d" % i)
        for i, s in enumerate(many):
            back = read_exactly(s, 10)
            expect(back == b"queued %03d" % i, "connection %d echoed %r" % (i, back))
            s.close()
    elif check == "echo-udp":
        payload = b"velmora echo \x00\xff" * 8
        reply = udp_reply_from_other_port(7, payload)
        expect(reply == payload, "UDP echo differs: %r" % reply[:40])
    elif check == "echo-udp-overlong":
        reply, _ = udp_exchange(7, b"L" * 300, wait=1.5)
        expect(reply is None, "a 300-byte datagram was echoed (%d bytes)" % len(reply or b""))
        reply = udp_reply_from_other_port(7, b"after")
        expect(reply == b"after", "echo did not go on after an over-long datagram")
    elif check == "discard":
        s = tcp(9)
        s.sendall(b"x" * 2000)
        s.settimeout(1.0)
        try:
            got = s.recv(100)
            expect(got == b"", "discard sent %r" % got)
        except socket.timeout:
            pass
        s.close()
        reply, _ = udp_exchange(9, b"drop me", wait=1.0)
        expect(reply is None, "UDP discard answered")
    elif check == "daytime-tcp":
        check_daytime_text(tcp_read_all(13))
    elif check == "daytime-udp":
        check_daytime_text(udp_reply_from_other_port(13))
    elif check == "time-tcp":
        check_time_value(tcp_read_all(37))
    elif check == "time-udp":
        check_time_value(udp_reply_from_other_port(37))
    elif check == "chargen-tcp":
        s = tcp(19)
        lines = read_exactly(s, 74 * 96)
        s.close()
        for k in (1, 2, 94, 95, 96):
            expect(lines[74 * (k - 1):74 * k] == chargen_line(k), "chargen line %d differs" % k)
        expect(lines[:1] == b'"' and lines[74 * 95:74 * 96] == lines[:74], "chargen ring start differs")
    elif check == "chargen-udp":
        reply = udp_reply_from_other_port(19)
        expect(len(reply) <= 511, "chargen UDP reply of %d bytes" % len(reply))
        expect(reply == bytes(RING[i % 94] for i in range(len(reply))), "chargen UDP reply is not the ring")
    elif check == "quote":
        slots = quote_slots(args[0])
        s = tcp(17)
        got = read_to_end(s)
        s.close()
        expect(got in slots, "quote %r is no slot of the file" % got[:60])
    elif check == "is-quote":
        with open(args[1], "rb") as f:
            got = f.read()
        expect(got in quote_slots(args[0]), "output %r is no slot of the file" % got[:60])
    elif check == "telnet":
        s = tcp(23)
        head = b"\r\n  Welcome to Velmora - "
        tail = b"\r\n\r\n*** TelnetD Error ***\r\nSorry, but this system does NOT support remote logins."
        banner = b""
        while not banner.endswith(tail):
            chunk = s.recv(4096)
            expect(chunk, "telnet closed during the banner: %r" % banner)
            banner += chunk
            expect(len(banner) < 1024, "telnet banner too long")
        expect(banner.startswith(head) and b"%" not in banner, "telnet banner differs: %r" % banner)
        s.sendall(b"\xff\xfd\x01")
        expect(read_exactly(s, 3) == b"\xff\xfb\x01", "IAC DO ECHO not answered with IAC WILL ECHO")
        s.sendall(b"abc")
        expect(read_exactly(s, 3) == b"abc", "typed characters not echoed")
        s.close()
    elif check == "dns":
        query = bytes.fromhex("123401000001000000000000017100000100 01".replace(" ", ""))
        answer = bytes.fromhex("12348500000100010000000001710000010001017800000100010000000000045a000066")
        reply, source = udp_exchange(53, query)
        expect(reply is not None, "no DNS answer")
        expect(source == 53, "DNS answer came from port %s, not 53" % source)
        expect(reply == answer, "DNS answer differs: %s" % reply.hex())
    elif check == "dns-tcp-echo":
        s = tcp(53)
        s.sendall(b"fifty-three")
        expect(read_exactly(s, 11) == b"fifty-three", "TCP port 53 does not echo")
        s.close()
    elif check == "fennip-output":
        with open(args[0], "rb") as f:
            out = f.read()
        head = (b"\nChargen Test (UDP) (RFC864)\n\n"
                b"UDP Testframe to localhost:chargen sent\n... waiting for reply ...\nPress CTRL-C to abort\n\n")
        expect(out.startswith(head) and out.endswith(b"\n"), "Fennip output differs: %r" % out[:200])
        reply = out[len(head):-1]
        expect(len(reply) <= 511 and reply == bytes(RING[i % 94] for i in range(len(reply))),
               "Fennip printed %r, not a chargen reply" % reply[:80])
    else:
        raise Failure("unknown check %s" % check)


def main():
    try:
        run(sys.argv[1], sys.argv[2:])
    except (Failure, OSError) as e:
        print("%s: %s" % (sys.argv[1], e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
