#!/usr/bin/env bash
# scripts/demo run as root on a virtual display (containers, CI machines):
# the program must come up with its login dialog and stay up, instead of
# ending at once in the web engine's root check. Also: the program started
# as root without the sandbox setting says in one line what to set.
#   tests/ui/demo_as_root.sh BUILD_DIR     (exit 77: skipped, not root or no Xvfb)
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
root="$(cd "$(dirname "$0")/../.." && pwd)"
fail() { echo "demo_as_root: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || { echo "demo_as_root: not root, skipped"; exit 77; }
command -v xvfb-run >/dev/null && command -v Xvfb >/dev/null || { echo "demo_as_root: no Xvfb, skipped"; exit 77; }

if [ -z "${VEXTAL_DEMO_AS_ROOT_INNER:-}" ]; then
  out="$(env -u QTWEBENGINE_DISABLE_SANDBOX -u QTWEBENGINE_CHROMIUM_FLAGS QT_QPA_PLATFORM=offscreen \
         timeout 20 "$build/src/ui/Vextal" --home /nonexistent 2>&1 >/dev/null)"
  rc=$?
  [ "$rc" -ne 0 ] && [ "$rc" -ne 124 ] || fail "started as root without the sandbox setting: exit $rc"
  [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] && [[ "$out" == *QTWEBENGINE_DISABLE_SANDBOX=1* ]] ||
    fail "expected one line naming QTWEBENGINE_DISABLE_SANDBOX=1, got: $out"
  VEXTAL_DEMO_AS_ROOT_INNER=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

# Under the virtual display: what scripts/demo must set by itself is unset.
unset QTWEBENGINE_DISABLE_SANDBOX QTWEBENGINE_CHROMIUM_FLAGS QT_QPA_PLATFORM
work="$(mktemp -d)"
# Its own session, so the demo script, the service and the program end together.
VEXTAL_DEMO_BUILD="$build" VEXTAL_DEMO_DIR="$work" setsid "$root/scripts/demo" >"$work/demo.out" 2>&1 &
demo=$!
stop() {
  kill -TERM -- "-$demo" 2>/dev/null
  for _ in $(seq 1 50); do kill -0 "$demo" 2>/dev/null || break; sleep 0.2; done
  kill -KILL -- "-$demo" 2>/dev/null
  wait "$demo" 2>/dev/null
}
trap 'stop; rm -rf "$work"' EXIT

# The login dialog (title 登录) within 40 s; without xwininfo, a program
# still running after 10 s.
seen=""
for i in $(seq 1 80); do
  kill -0 "$demo" 2>/dev/null || { cat "$work/demo.out" >&2; fail "scripts/demo ended early"; }
  if command -v xwininfo >/dev/null; then
    xwininfo -root -tree 2>/dev/null | grep -q '"登录"' && { seen=1; break; }
  elif [ "$i" -ge 20 ]; then
    seen=1; break
  fi
  sleep 0.5
done
[ -n "$seen" ] || { cat "$work/demo.out" >&2; fail "no login dialog"; }
sleep 2
pgrep -s "$demo" -x Vextal >/dev/null || { cat "$work/demo.out" >&2; fail "the program ended after showing its dialog"; }
# SIGTERM ends the demo: the program, the script and its service.
kill -TERM -- "-$demo" 2>/dev/null
for _ in $(seq 1 50); do kill -0 "$demo" 2>/dev/null || break; sleep 0.2; done
! kill -0 "$demo" 2>/dev/null || fail "scripts/demo still running 10 s after SIGTERM"
echo "demo_as_root: login dialog up as root"
