# Turns the RESULT lines of a comparison into the tables of RESULTS.md:
# per measure and server the median with min and max over the runs, then
# Velmora against the best peer with the ratio and the target. Every rate
# measure brings the server's CPU time per operation, listed before it.
# Input: "RESULT server=S measure=M value=V unit=U key=value ...".

function field(name,    i, kv) {
    for (i = 2; i <= NF; i++) {
        split($i, kv, "=")
        if (kv[1] == name) return substr($i, length(name) + 2)
    }
    return ""
}

function add(metric, server, value, unit) {
    if (value == "") return
    if (!((metric, server) in count)) {
        count[metric, server] = 0
        if (!(metric in seen_metric)) { seen_metric[metric] = 1; metrics[++metric_count] = metric }
        if (!(server in seen_server)) { seen_server[server] = 1; servers[++server_count] = server }
    }
    values[metric, server, ++count[metric, server]] = value + 0
    units[metric] = unit
}

function median(metric, server,    n, i, j, t, a) {
    n = count[metric, server]
    for (i = 1; i <= n; i++) a[i] = values[metric, server, i]
    for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    low = a[1]; high = a[n]
    if (n % 2) return a[(n + 1) / 2]
    return (a[n / 2] + a[n / 2 + 1]) / 2
}

function show(x) {
    if (x == int(x)) return sprintf("%d", x)
    if (x >= 1000) return sprintf("%.0f", x)
    if (x >= 100) return sprintf("%.1f", x)
    return sprintf("%.2f", x)
}

$1 == "RESULT" {
    server = field("server"); measure = field("measure"); value = field("value"); unit = field("unit")
    if (measure ~ /-exit$/) { add("exit-status", server, value, "status"); next }
    if (measure ~ /^burst(-[0-9]+)?$/) {
        add(measure "-served", server, value, "of " field("count"))
        add(measure "-reset", server, field("reset") + field("refused"), "connections")
        add(measure "-unserved", server, field("unserved"), "connections")
        add(measure "-all-served", server, field("all_served_ms"), "ms")
        next
    }
    if (measure ~ /^idle(-streamed(-discard)?)?$/) {
        add(measure "-held", server, value, "of " field("count"))
        add(measure "-rss-per-conn", server, field("rss_per_conn_kib"), "KiB")
        add(measure "-pss-per-conn", server, field("pss_per_conn_kib"), "KiB")
        next
    }
    if (measure ~ /^(chargen|echo)-stalled$/) {
        add(measure "-held", server, field("held"), "of " field("count"))
        # With the host's TCP memory under pressure (other work on the
        # machine) the kernel refuses buffers: such a run measures nothing.
        if (field("host_pressure") == 1) { add(measure "-host-pressure", server, 1, "1 = a run left out"); next }
        add(measure "-host-tcp-mem", server, value, "KiB per reader")
        add(measure "-sockets-mem", server, field("sockets_kib_per_reader"), "KiB per reader")
        add(measure "-server-mem", server, field("server_kib_per_reader"), "KiB per reader")
        add(measure "-send-queue", server, field("server_send_queue_kib"), "KiB per reader")
        add(measure "-receive-queue", server, field("server_receive_queue_kib"), "KiB per reader")
        next
    }
    # What each operation costs the server, first: its own CPU time (its
    # process and children), then the busy share of its CPU, which also
    # counts whatever else ran there; and whether the generator's CPU was
    # the limit: a server held back by the generator may do more.
    seconds = field("seconds"); own = field("server_cpu_s")
    busy = field("cpu0_busy"); load_busy = field("cpu1_busy")
    if (value + 0 > 0 && measure ~ /^(tcp-echo-[0-9]+-[0-9]+k?-[0-9]+k?|daytime-rate|udp-echo|dns|dnsperf|chargen|discard-in|telnet-in)$/) {
        per = (measure ~ /^(chargen|tcp-echo|discard-in|telnet-in)/) ? "MB" : (measure == "daytime-rate" ? "connection" : "request")
        if (own != "" && seconds + 0 > 0) add(measure "-server-cpu", server, own / (value * seconds) * 1e6, "us per " per)
        # How much of its CPU the server itself used: near 100 % its CPU
        # is what bounds the rate.
        if (own != "" && seconds + 0 > 0 && measure ~ /^tcp-echo-/) add(measure "-server-share", server, 100 * own / seconds, "% of its CPU")
        if (measure ~ /^tcp-echo-/ && !(measure in seen_cell)) { seen_cell[measure] = 1; cells[++cell_count] = measure }
        if (busy != "") add(measure "-cpu0-per-op", server, (busy + 0) / 100 / value * 1e6, "us per " per)
        add(measure "-load-cpu", server, load_busy + 0, "% of generator CPU")
    }
    if (measure ~ /^tcp-echo-.*-syscalls$/) {
        add(measure, server, value, "system calls per MB")
        add(substr(measure, 1, length(measure) - 9) "-context-switches", server, field("context_switches_per_mb"), "per MB")
        next
    }
    if (measure == "udp-echo") add("udp-echo-lost", server, field("lost"), "requests")
    add(measure, server, value, unit)
}

# The best (highest or lowest) median of `metric` among the peers of a
# group; sets best_server and returns the value ("" when none).
function best_of(metric, group, direction,    s, peer, pm, pv, found) {
    best_server = ""; found = ""
    for (s = 1; s <= server_count; s++) {
        peer = servers[s]
        if (peer ~ /^velmora/) continue
        if (group == "mini" && peer != "mini") continue
        if (group == "dnsmasq" && peer != "dnsmasq") continue
        if (group == "inetd" && (peer ~ /^mini/ || peer == "dnsmasq")) continue
        pm = (metric in alias) ? alias[metric] : metric
        if (!((pm, peer) in count)) continue
        pv = median(pm, peer)
        if (found == "" || (direction == "high" && pv > found) || (direction == "low" && pv < found)) {
            found = pv; best_server = peer
        }
    }
    return found
}

END {
    # The comparisons: metric, which peers count, direction (which is
    # better), target: a ratio to the best peer, an absolute bound, or none.
    n = 0
    c_metric[++n] = "daytime-rate-server-cpu"; c_peers[n] = "inetd";   c_dir[n] = "low";  c_goal[n] = 1.0;  c_text[n] = "<= 1.0 x best peer (0.8 stretch)"
    c_metric[++n] = "daytime-rate";            c_peers[n] = "inetd";   c_dir[n] = "high"; c_goal[n] = "";   c_text[n] = "- (the generator's limit)"
    c_metric[++n] = "udp-echo-server-cpu";     c_peers[n] = "mini";    c_dir[n] = "low";  c_goal[n] = 1.1;  c_text[n] = "<= 1.10 x minimal loop"
    c_metric[++n] = "udp-echo-server-cpu";     c_peers[n] = "inetd";   c_dir[n] = "low";  c_goal[n] = "";   c_text[n] = "- (fresh socket per reply)"
    c_metric[++n] = "udp-echo";                c_peers[n] = "inetd";   c_dir[n] = "high"; c_goal[n] = "";   c_text[n] = "-"
    c_metric[++n] = "chargen-server-cpu";      c_peers[n] = "inetd";   c_dir[n] = "low";  c_goal[n] = 1.0;  c_text[n] = "<= 1.0 x best peer"
    c_metric[++n] = "chargen";                 c_peers[n] = "inetd";   c_dir[n] = "high"; c_goal[n] = "";   c_text[n] = "-"
    c_metric[++n] = "chargen-stalled-sockets-mem"; c_peers[n] = "inetd"; c_dir[n] = "low"; c_abs[n] = 512; c_text[n] = "<= 512 KiB"
    c_metric[++n] = "dns-server-cpu";          c_peers[n] = "dnsmasq"; c_dir[n] = "low";  c_goal[n] = "";   c_text[n] = "-"
    c_metric[++n] = "dns";                     c_peers[n] = "dnsmasq"; c_dir[n] = "high"; c_goal[n] = 1.5;  c_text[n] = ">= 1.5 x dnsmasq"
    c_metric[++n] = "dnsperf";                 c_peers[n] = "dnsmasq"; c_dir[n] = "high"; c_goal[n] = 1.5;  c_text[n] = ">= 1.5 x dnsmasq"
    c_metric[++n] = "burst-served";            c_peers[n] = "inetd";   c_dir[n] = "high"; c_abs[n] = "all";  c_text[n] = "all served"
    c_metric[++n] = "burst-reset";             c_peers[n] = "inetd";   c_dir[n] = "low";  c_abs[n] = 0;      c_text[n] = "none reset"
    c_metric[++n] = "idle-held";               c_peers[n] = "inetd";   c_dir[n] = "high"; c_abs[n] = "all";  c_text[n] = "all held"
    c_metric[++n] = "idle-rss-per-conn";       c_peers[n] = "inetd";   c_dir[n] = "low";  c_abs[n] = 32;     c_text[n] = "<= 32 KiB"
    c_metric[++n] = "first-port";              c_peers[n] = "inetd";   c_dir[n] = "low";  c_abs[n] = 400;    c_text[n] = "<= 400 ms"
    # Servers that fork per connection hold their memory in child processes:
    # compare with the proportional set size of the whole process tree.
    alias["idle-rss-per-conn"] = "idle-pss-per-conn"

    print "## Velmora against the best peer (medians; the server's CPU per operation first)"
    print ""
    print "| measure | unit | Velmora | best peer | peer median | ratio Velmora / peer | target | met |"
    print "|---|---|---|---|---|---|---|---|"
    for (i = 1; i <= n; i++) {
        m = c_metric[i]
        if (!((m, "velmora") in count)) continue
        v = median(m, "velmora")
        best_value = best_of(m, c_peers[i], c_dir[i]); best = best_server
        ratio = (best != "" && best_value != 0) ? sprintf("%.2f", v / best_value) : "-"
        if (i in c_abs) {
            if (c_abs[i] == "all") { split(units[m], u, " "); met = (v >= u[2]) ? "yes" : "no" }
            else if (c_dir[i] == "low") met = (v <= c_abs[i]) ? "yes" : "no"
            else met = (v >= c_abs[i]) ? "yes" : "no"
        } else if (ratio == "-" || c_goal[i] == "") {
            met = "-"
        } else if (c_dir[i] == "low") {
            met = (v / best_value <= c_goal[i]) ? "yes" : "no"
        } else {
            met = (v / best_value >= c_goal[i]) ? "yes" : "no"
        }
        printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n", m, units[m], show(v), (best == "" ? "-" : best), \
               (best == "" ? "-" : show(best_value)), ratio, c_text[i], met
    }
    # Replies from the service's port (--udp-reply-port=service): UDP echo's
    # CPU per request against the best inetd and the minimal loop that
    # answers from its listening socket.
    if (("udp-echo-server-cpu", "velmora-service") in count) {
        v = median("udp-echo-server-cpu", "velmora-service")
        rows = ""
        best_value = best_of("udp-echo-server-cpu", "inetd", "low")
        if (best_server != "")
            rows = rows sprintf("| %s (best inetd) | %s | %s | %.2f | <= 1.0 x best inetd | %s |\n", best_server, \
                                show(best_value), show(v), v / best_value, (v <= best_value ? "yes" : "no"))
        if (("udp-echo-server-cpu", "mini-one-socket") in count) {
            mv = median("udp-echo-server-cpu", "mini-one-socket")
            rows = rows sprintf("| mini-one-socket | %s | %s | %.2f | - | - |\n", show(mv), show(v), v / mv)
        }
        print ""
        printf "UDP echo answered from port 7 (velmora-service, --udp-reply-port=service): %s us of server CPU per request.\n", show(v)
        if (rows != "") {
            print ""
            print "| against | its median, us | Velmora's median, us | ratio | target | met |"
            print "|---|---|---|---|---|---|"
            printf "%s", rows
        }
    }
    # TCP echo, cell by cell of the client patterns: the server's CPU per MB
    # against the best inetd's (ratio best / Velmora: 1.0 or more is the
    # target), and where the server's CPU bounds the rate, the rate too.
    if (cell_count > 0) {
        print ""
        print "## TCP echo over the client patterns (medians; server CPU per MB, then the rate)"
        print ""
        print "Cells: connections - client block - bytes in flight. The ratios are best inetd / Velmora for the"
        print "CPU per MB (higher is better for Velmora) and Velmora / best inetd for the rate; a cell is CPU-bound"
        print "when Velmora or the best inetd used 90 % or more of its CPU."
        print ""
        print "System calls per MB (where counted, bench/compare.sh --syscalls): Velmora's, then mini's."
        print ""
        print "| cell | Velmora us/MB | best inetd | its us/MB | ratio best / Velmora | Velmora MB/s | best inetd MB/s | CPU-bound | rate ratio | mini us/MB | system calls per MB | met |"
        print "|---|---|---|---|---|---|---|---|---|---|---|---|"
        for (k = 1; k <= cell_count; k++) {
            m = cells[k]
            cpu = m "-server-cpu"
            if (!((cpu, "velmora") in count)) continue
            v = median(cpu, "velmora")
            best_cpu = best_of(cpu, "inetd", "low"); best_cpu_server = best_server
            vr = ((m, "velmora") in count) ? median(m, "velmora") : ""
            best_rate = best_of(m, "inetd", "high"); best_rate_server = best_server
            vshare = ((m "-server-share", "velmora") in count) ? median(m "-server-share", "velmora") : 0
            pshare = (best_rate_server != "" && (m "-server-share", best_rate_server) in count) ? median(m "-server-share", best_rate_server) : 0
            bound = (vshare >= 90 || pshare >= 90)
            mini = ((cpu, "mini") in count) ? show(median(cpu, "mini")) : "-"
            calls = ((m "-syscalls", "velmora") in count) ? show(median(m "-syscalls", "velmora")) : "-"
            if ((m "-syscalls", "mini") in count) calls = calls " / " show(median(m "-syscalls", "mini"))
            if (best_cpu == "") {
                printf "| %s | %s | - | - | - | %s | - | %s | - | %s | %s | - |\n", substr(m, 10), show(v), show(vr), bound ? "yes" : "no", mini, calls
                continue
            }
            ratio = best_cpu / v
            rate_ratio = (best_rate > 0) ? vr / best_rate : 0
            met = (ratio >= 1.0 && (!bound || rate_ratio >= 1.0)) ? "yes" : "no"
            printf "| %s | %s | %s | %s | %.2f | %s | %s | %s | %.2f | %s | %s | %s |\n", substr(m, 10), show(v), best_cpu_server, \
                   show(best_cpu), ratio, show(vr), show(best_rate), bound ? "yes" : "no", rate_ratio, mini, calls, met
        }
    }
    # What a fresh socket per UDP reply costs: the minimal loop with it and
    # without it (answering from its listening socket).
    if (("udp-echo-server-cpu", "mini") in count && ("udp-echo-server-cpu", "mini-one-socket") in count) {
        with = median("udp-echo-server-cpu", "mini"); without = median("udp-echo-server-cpu", "mini-one-socket")
        print ""
        printf "The fresh socket per UDP reply: the minimal loop spends %s us of server CPU per request with it and %s us\n", show(with), show(without)
        printf "without it (answering from its listening socket): %s us, %.0f %% of an echo reply, go to opening,\n", show(with - without), 100 * (with - without) / with
        print "binding and closing the reply's own socket. Velmora keeps it: a reply from a port that no socket"
        print "listens on cannot start a loop between two services."
    }
    # Telnet's parser: its CPU per MB of text that is not echoed, against
    # discard's plain receive of the same stream.
    if (("telnet-in-server-cpu", "velmora") in count && ("discard-in-server-cpu", "velmora") in count) {
        t = median("telnet-in-server-cpu", "velmora"); d = median("discard-in-server-cpu", "velmora")
        print ""
        printf "Telnet against discard, server CPU per MB taken: %s us against %s us, %s x (target: <= 20 x): %s.\n", \
               show(t), show(d), (d > 0 ? sprintf("%.1f", t / d) : "-"), (d > 0 && t / d <= 20 ? "met" : "not met")
    }
    # Bursts beyond the listen backlog that used to be asked for (50).
    shown_bursts = 0
    for (b = 1; b <= 3; b++) {
        m = (b == 1) ? "burst" : (b == 2 ? "burst-3000" : "burst-10000")
        if (!((m "-served", "velmora") in count)) continue
        if (shown_bursts++ == 0) print ""
        split(units[m "-served"], u, " ")
        printf "Velmora, %s connections at once: %s served, %s reset or refused, %s unserved, the last served after %s ms.\n", \
               u[2], show(median(m "-served", "velmora")), show(median(m "-reset", "velmora")), \
               show(median(m "-unserved", "velmora")), show(median(m "-all-served", "velmora"))
    }
    print ""
    print "## Every figure: median (min - max) over the runs"
    print ""
    header = "| measure | unit |"
    rule = "|---|---|"
    for (s = 1; s <= server_count; s++) { header = header " " servers[s] " |"; rule = rule "---|" }
    print header
    print rule
    for (k = 1; k <= metric_count; k++) {
        m = metrics[k]
        line = "| " m " | " units[m] " |"
        for (s = 1; s <= server_count; s++) {
            if ((m, servers[s]) in count) {
                md = median(m, servers[s])
                cell = show(md)
                if (count[m, servers[s]] > 1) cell = cell " (" show(low) " - " show(high) ")"
            } else cell = "-"
            line = line " " cell " |"
        }
        print line
    }
}
