# Sourced by the commands that run the tests: the journal tests need a systemd
# journal, so start one for this run if none is up, and stop it on exit.
started_journal=""
stop_journal() {
  if [ -n "$started_journal" ]; then
    kill "$started_journal" 2>/dev/null || true
  fi
}
trap stop_journal EXIT
if ! pgrep -f /lib/systemd/systemd-journald >/dev/null; then
  mkdir -p /run/systemd/journal
  rm -f /run/systemd/journal/socket # a stale one would look like a running journal
  setsid /lib/systemd/systemd-journald </dev/null >/dev/null 2>&1 &
  started_journal=$!
  for _ in $(seq 50); do
    [ -S /run/systemd/journal/socket ] && break
    sleep 0.1
  done
fi
