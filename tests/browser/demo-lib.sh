# Helpers of the scripts that run scripts/demo as a person does (demo-test,
# demo-postgres-test, newcomer-road) and of the browser suite (run-suite):
# skips, checks that name what failed, a free loopback port, starting the
# demo on it, and plain HTTP requests through curl. Sourced, not run.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
demo="$root/scripts/demo"
failures=0
# The name a skip gives: the script's file name unless the script set one
# before sourcing this file.
script_name="${script_name:-$(basename "$0")}"

# Exit 77 (a skip) with the reason, or fail under KIV_REQUIRE_SERVICES=1.
skip() {
  if [ "${KIV_REQUIRE_SERVICES:-}" = 1 ]; then
    echo "$script_name: $1" >&2
    exit 1
  fi
  echo "$script_name skipped: $1"
  exit 77
}

# A failed check names itself and the run goes on; `finish` ends with 1 when
# any failed.
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
check() {  # check <what> <command...>
  local what="$1"
  shift
  "$@" || fail "$what"
}
same() {  # same <what> <expected> <actual>
  [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}
contains() { grep -qF -- "$2" <<<"$1"; }
not() { ! "$@"; }  # check <what> not <command...>: the command fails
finish() {
  if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

port_taken() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A loopback port that nothing listens on now, below the range the system
# hands out to outgoing connections (and never 8080, which a person's own
# demo may want).
free_port() {
  local p
  for _ in $(seq 200); do
    p=$((20000 + RANDOM % 12000))
    port_taken "$p" || { echo "$p"; return 0; }
  done
  return 1
}

# Starts scripts/demo with the given arguments over $KIV_DEMO_DIR on a free
# port (another process may take the port first, or hold it bound without
# listening: then it tries another),
# leaving its output in $demo_out and the port in KIV_DEMO_PORT. Returns the
# demo's status.
start_demo() {
  local status=1
  for _ in 1 2 3; do
    KIV_DEMO_PORT="$(free_port)" || return 1
    export KIV_DEMO_PORT
    status=0
    demo_out="$("$demo" "$@" 2>&1)" || status=$?
    contains "$demo_out" "is taken by another program" || contains "$demo_out" "can't bind to socket" || break
  done
  return $status
}

# The body of a GET (or, with data, a POST) to the demo's web server.
http() {  # http <path> [<form data>]
  local url="http://127.0.0.1:$KIV_DEMO_PORT$1"
  if [ $# -gt 1 ]; then
    curl -sS --max-time 30 --data "$2" "$url"
  else
    curl -sS --max-time 30 "$url"
  fi
}

# A program that a sanitizer stopped, or that wrote to standard error, left
# its words in the web server's log.
check_server_log() {
  if grep -E "AddressSanitizer|LeakSanitizer|runtime error:|\(mod_cgi.c" "$KIV_DEMO_DIR/run/error.log" >&2; then
    fail "the programs reported errors (above, from $KIV_DEMO_DIR/run/error.log)"
  fi
}

# The lighttpd of a home still runs.
web_running() { pgrep -f -- "$1/run/lighttpd.conf" >/dev/null; }
