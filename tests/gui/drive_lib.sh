# What the scripts that drive the real window under Xvfb share; they source
# it. `drive_setup EXE` skips the test (exit 77) where xvfb-run or xdotool
# is missing, and makes $work, removed on exit, with the layout of an
# installed program: bin/ holding a copy of EXE (and so its settings file),
# share/mirtolan/, src/ and cwd/. `small_archive` puts there an archive of
# DUP and the routine that every compile needs. `quit_window` closes the
# window under test.
drive_setup() {
  if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null; then
    echo "xvfb-run and xdotool are needed; skipped"
    exit 77
  fi
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/bin" "$work/share/mirtolan" "$work/src" "$work/cwd"
  cp "$1" "$work/bin/mirtolan"
}

small_archive() {
  printf '$$ DUP\r\n\tld\tFtmp1,Y\r\n\tst\t-Y,Ftmp1\r\n$$ _TestIfZero\r\n\tld\tFtmp1,Y+\r\n\ttst\tFtmp1\r\n$\r\n' \
    > "$work/share/mirtolan/Mirtolan.arch"
}

# In a script run under Xvfb: Ctrl+Q closes the window of process $pid, or
# the script's own `fail` says that it did not.
quit_window() {
  xdotool key ctrl+q
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
  if kill -0 "$pid" 2>/dev/null; then fail "Ctrl+Q did not close the window"; fi
  wait "$pid"
}
