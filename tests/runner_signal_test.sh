#!/bin/bash
# ztolvera-run interrupted as a terminal and a CI runner interrupt it: two
# Ctrl-C (SIGINT, which Wine hands to the program as CTRL_C_EVENT) end the
# session with 130 after the summaries and the report of what finished; a
# SIGTERM, which ends a program under Wine before any handler of its own
# runs, still leaves the report of the runs that had finished, whole.
#   runner_signal_test.sh WINE_RUN BIN_DIR WORKDIR
set -euo pipefail
wine_run=$1 bin=$2 work=$(mkdir -p "$3" && cd "$3" && pwd)
fail() { echo "runner_signal_test: $*" >&2; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }

# Each run waits 3 s in the core: the first has ended and its report is out
# when the signals come in the second.
printf 'Sub main()\r\n    CVEXT.CVSleep 3000\r\nEnd Sub\r\n' >"$work/sleepy.vbs"

# Starts a session with its own report; sets $pid to the runner's process
# (its jobs' process has --child in its command line).
start() {
    report=$work/$1.html
    rm -f "$report" "$report.partial"
    "$wine_run" "$bin/ztolvera-run.exe" --runs 5 --report "$(winpath "$report")" "$(winpath "$work/sleepy.vbs")" \
        >"$work/$1.out" 2>"$work/$1.err" &
    session=$!
    pid=
    for _ in $(seq 100); do
        pid=$(for p in $(pgrep -f 'ztolvera-run\.exe'); do
                  args=$(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null) || continue
                  [[ $args == *"$(winpath "$report")"* && $args != *--child* ]] && echo "$p"; done | head -1) || true
        [ -n "$pid" ] && [ -s "$report" ] && return 0
        sleep 0.1
    done
    fail "$1: no report after the first run ($(cat "$work/$1.err"))"
}
whole() { [[ $(tail -c 16 "$1") == *"</html>"* ]] || fail "$1 is not a whole report"; }

start interrupted
sleep 1
kill -INT "$pid"; sleep 0.3; kill -INT "$pid"
status=0; wait "$session" || status=$?
[ "$status" = 130 ] || fail "two Ctrl-C: status $status ($(cat "$work/interrupted.err"))"
grep -q '^job 1 sleepy.vbs: cut short in run 2 (interrupted), runs 2, succeeded 1' "$work/interrupted.out" ||
    fail "two Ctrl-C: summary $(cat "$work/interrupted.out")"
grep -q 'ending the runs in progress now' "$work/interrupted.err" || fail "two Ctrl-C said: $(cat "$work/interrupted.err")"
whole "$report"
grep -q 'interrupted' "$report" || fail "the report does not say the session was interrupted"
[ ! -e "$report.partial" ] || fail "a partial report was left"

start terminated
sleep 1
kill -TERM "$pid"
status=0; wait "$session" || status=$?
[ "$status" = 143 ] || fail "SIGTERM: status $status"
whole "$report"
grep -q 'sleepy.vbs' "$report" || fail "the report after SIGTERM names no job"
echo "runner_signal_test: passed"
