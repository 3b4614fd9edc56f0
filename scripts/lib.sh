# Shell helpers shared by the scripts of scripts/ and .ci/run; sourced, never run. The sourcing
# script sets `tag` (the prefix of its notes) first and runs from the top of the tree.

# Build and test jobs at a time, decided in scripts/jobs.sh for the Makefile and the scripts alike.
jobs=$(scripts/jobs.sh)

note() { echo "${tag:-qz}: $*"; }

# Installs the named Debian packages (and the base build packages) when missing; notes what it
# installed.
need() {
  local installed
  installed=$(scripts/install-deps.sh "$@")
  [ -z "$installed" ] || note "$installed"
}

# A tally of named checks: `pass text`, `fail text`, and `checks_done`, false after any failure.
checks=0
failures=0
pass() { checks=$((checks + 1)); note "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); note "FAILED: $*"; }
check() {  # check <text> <command...>: runs the command, passes or fails the text by its status
  local text=$1
  shift
  if "$@"; then pass "$text"; else fail "$text"; fi
}
checks_done() {
  note "$((checks - failures)) passed, $failures failed"
  ((failures == 0))
}

# Sets up a throw-away, headless Wine prefix in the folder <work> and exports what Wine needs to
# use it (WINEPREFIX and the rest), so that programs started afterwards share one wineserver.
# The prefix is a 64-bit one, which runs 32-bit programs too when 32-bit Wine is installed.
wine_prefix() {  # wine_prefix <work>
  local t0=$SECONDS
  export WINEPREFIX="$1/prefix" WINEDEBUG=-all WINEARCH=win64
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
  export XDG_DATA_HOME="$1/xdg-data" XDG_CONFIG_HOME="$1/xdg-config"
  unset DISPLAY WAYLAND_DISPLAY
  mkdir -p "$WINEPREFIX"
  timeout 30 wineserver -p30
  if ! timeout 300 wine wineboot.exe --init </dev/null >"$1/wineboot.log" 2>&1; then
    cat "$1/wineboot.log"
    fail "Wine did not start"
    return 1
  fi
  note "Wine prefix ready in $((SECONDS - t0)) s"
}

# Waits until every given text is on the screen of a program run inside tmux; false after 60 s.
# The sourcing script defines `capture`, which puts the screen's text in `screen`.
wait_for() {
  local deadline=$((SECONDS + 60)) text missing
  while :; do
    capture
    missing=""
    for text in "$@"; do
      grep -qF -- "$text" <<<"$screen" || { missing=$text; break; }
    done
    [ -z "$missing" ] && return 0
    if ((SECONDS >= deadline)); then
      note "timed out waiting for: $missing"
      printf '%s\n' "--- screen ---" "$screen" "--------------"
      return 1
    fi
    sleep 0.1
  done
}

# For a script that runs the Windows program inside tmux under Wine, in the folder `work` and
# the tmux server `sock` it has set: uses the Wine prefix the caller exported, or makes one of
# its own in `work`; on exit the tmux server, that prefix's wineserver and `work` go.
wine_session() {
  own_prefix=false
  trap wine_session_end EXIT
  if [ -z "${WINEPREFIX:-}" ]; then
    own_prefix=true
    wine_prefix "$work" || return 1
  fi
}
wine_session_end() {
  tmux -L "$sock" kill-server 2>/dev/null || true
  if $own_prefix; then timeout 20 wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
}
