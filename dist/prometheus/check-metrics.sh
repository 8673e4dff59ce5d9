#!/bin/sh
# ostrelctl metrics through Debian's own Prometheus tools: promtool checks the exposition and
# the alert rules (and runs the rules' unit tests), then a real node_exporter, started here on
# 127.0.0.1 with its textfile collector on a folder of ours, is scraped over HTTP and must
# serve our series with our values and no scrape error.
#   check-metrics.sh OSTRELCTL RULES_FOLDER CONTROLLERS
# Exits 77 (skipped) where promtool, prometheus-node-exporter or curl is missing.
set -eu

ostrelctl=$1
rules=$2
controllers=$3
for tool in promtool prometheus-node-exporter curl python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is missing (Debian packages prometheus, prometheus-node-exporter, curl)"
        exit 77
    fi
done
if [ "$controllers" -eq 1 ]; then
    simulated=--simulated
else
    simulated=--simulated=$controllers
fi

work=$(mktemp -d)
exporter=
cleanup() {
    if [ -n "$exporter" ]; then
        kill "$exporter" 2>/dev/null || true
        wait "$exporter" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

promtool check rules "$rules/ostrel.rules.yml"
(cd "$rules" && promtool test rules ostrel.rules.test.yml)

"$ostrelctl" "$simulated" metrics >"$work/stdout.prom"
promtool check metrics <"$work/stdout.prom"
grep -qx "ostrel_controllers $controllers" "$work/stdout.prom" ||
    fail "ostrel_controllers is not $controllers"

mkdir "$work/textfile"
"$ostrelctl" "$simulated" metrics --output "$work/textfile/ostrel.prom"
i=1
while [ "$i" -le "$controllers" ]; do
    grep -qx "ostrel_up{location=\"sim-$i\"} 1" "$work/textfile/ostrel.prom" ||
        fail "sim-$i is not up"
    i=$((i + 1))
done

# A free port from the system; another program may take it before the exporter does, so a
# few tries.
for _ in 1 2 3; do
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
        --collector.textfile --collector.textfile.directory="$work/textfile" \
        >"$work/exporter.log" 2>&1 &
    exporter=$!
    waited=0
    while [ "$waited" -lt 100 ]; do
        if curl -fsS "http://127.0.0.1:$port/metrics" >"$work/scrape" 2>/dev/null; then
            break 2
        fi
        kill -0 "$exporter" 2>/dev/null || break
        sleep 0.1
        waited=$((waited + 1))
    done
    kill "$exporter" 2>/dev/null || true
    wait "$exporter" 2>/dev/null || true
    exporter=
done
[ -n "$exporter" ] || { cat "$work/exporter.log" >&2; fail "node_exporter did not answer"; }

grep -qx 'node_textfile_scrape_error 0' "$work/scrape" || fail "node_textfile_scrape_error is not 0"
# Every sample of ours, as written; node_exporter sorts the labels by name, which the
# flag series alone do not have already.
grep -v '^#' "$work/textfile/ostrel.prom" | grep -v '^ostrel_flag{' >"$work/expected"
missing=$(grep -vxF -f "$work/scrape" "$work/expected" || true)
[ -z "$missing" ] || fail "not served by node_exporter: $missing"
written=$(grep -c '^ostrel_flag{' "$work/textfile/ostrel.prom" || true)
served=$(grep -c '^ostrel_flag{bit="[0-7]",location="sim-[0-9]*",register="[a-z0-9]*"} [01]$' \
    "$work/scrape" || true)
if [ "$written" -ne "$served" ] || [ "$served" -ne $((48 * controllers)) ]; then
    fail "ostrel_flag: $written written, $served served"
fi
echo "node_exporter served $(wc -l <"$work/expected") series of ours and $served flag bits"
grep -E '^ostrel_(controllers|up|input_volts)' "$work/scrape"
