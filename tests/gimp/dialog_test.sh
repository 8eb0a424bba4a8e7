#!/usr/bin/env bash
# The plug-in's dialog in a real editor session on a virtual screen: opened
# from the editor's action search as a user would, transient for the image
# window, Cancel leaving the image clean and OK changing it.
#   dialog_test.sh BINARY_DIR SOURCE_DIR
# Exits 77 (skipped) when the editor or the X tools are not installed.
set -u
binary_dir=$1
source_dir=$2
for tool in gimp Xvfb xdotool xprop; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed: the dialog test is skipped"
    exit 77
  fi
done

root=$(mktemp -d /tmp/ovra-gimp-dialog-XXXXXX)
xvfb=
editor=
passed=0
finish() {
  [ -n "$editor" ] && kill "$editor" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  if [ "$passed" = 1 ]; then rm -rf "$root"; else echo "files kept in $root"; fi
}
trap finish EXIT
fail() {
  echo "FAILED: $*"
  [ -f "$root/gimp.log" ] && grep -v "theme engine" "$root/gimp.log" | tail -20
  exit 1
}

mkdir "$root/profile"
GIMP2_DIRECTORY="$root/profile" cmake --install "$binary_dir" --component gimp >"$root/install.log" 2>&1 ||
  fail "install: $(tail -3 "$root/install.log")"
cp "$source_dir/data/samples/coffee.png" "$root/in.png"

Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$root/display" 2>"$root/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$root/display" ] && break; sleep 0.1; done
[ -s "$root/display" ] || fail "Xvfb did not start: $(cat "$root/xvfb.log")"
export DISPLAY=":$(head -1 "$root/display")"
# The server takes connections once a client can ask it something.
for _ in $(seq 100); do xprop -root >/dev/null 2>&1 && break; sleep 0.1; done

cat >"$root/open.scm" <<EOF
(let* ((img (car (file-png-load RUN-NONINTERACTIVE "$root/in.png" "$root/in.png"))))
  (gimp-display-new img)
  (gimp-image-clean-all img))
EOF
# On a loaded machine the editor has been seen to find no display at its
# first start: it is started again then, at most three times.
for attempt in 1 2 3; do
  GIMP2_DIRECTORY="$root/profile" gimp --no-splash -d -f -b "(load \"$root/open.scm\")" >"$root/gimp.log" 2>&1 &
  editor=$!
  # A start without a display ends within moments.
  for _ in $(seq 15); do
    kill -0 "$editor" 2>/dev/null || break
    sleep 0.2
  done
  grep -q "Cannot open display" "$root/gimp.log" || break
  echo "the editor found no display (attempt $attempt); starting it again"
  kill "$editor" 2>/dev/null
  wait "$editor" 2>/dev/null
  sleep 1
done

# The first window whose name matches, waited for up to $2 seconds.
wait_for() {
  local id
  for _ in $(seq $(($2 * 5))); do
    id=$(xdotool search --name "$1" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}
gone() {
  for _ in $(seq $(($2 * 5))); do
    xdotool search --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}
title() { xprop -id "$image" WM_NAME | sed 's/^[^"]*"//'; }

image=$(wait_for '^\*?in\.png-' 180) || fail "no image window"
# The editor's title begins with '*' once the image has changes.
[[ $(title) != \** ]] || fail "the image is dirty before the filter: $(title)"

# On a loaded machine the search may not have listed the action yet when
# Return is pressed; then the search is closed and the filter asked for again,
# waiting longer each time.
open_dialog() {
  local search attempt
  for attempt in 1 2 3 4; do
    xdotool windowfocus --sync "$image"
    xdotool key slash
    search=$(wait_for '^Search Actions$' 30) || fail "no action search"
    xdotool windowfocus --sync "$search"
    xdotool type --delay 20 "Ovra Bleach Bypass"
    sleep $((attempt * 2))
    xdotool key Return
    dialog=$(wait_for '^Ovra Bleach Bypass$' $((attempt * 20))) && return 0
    xdotool search --name '^Search Actions$' >/dev/null 2>&1 && xdotool key --window "$search" Escape
    sleep 1
  done
  fail "the filter's dialog did not open"
}

open_dialog
transient=$(xprop -id "$dialog" WM_TRANSIENT_FOR | sed -n 's/.*# *//p')
[ -n "$transient" ] || fail "the dialog is transient for no window"
[ $((transient)) -eq $((image)) ] ||
  fail "the dialog is transient for $transient, not the image window $(printf 0x%x "$image")"
if [ -n "${OVRA_SCREENSHOT:-}" ] && command -v xwd >/dev/null && command -v convert >/dev/null; then
  sleep 2
  xwd -root -silent | convert xwd:- "$OVRA_SCREENSHOT"
fi

xdotool key --window "$dialog" Escape
gone '^Ovra Bleach Bypass$' 30 || fail "Escape did not close the dialog"
sleep 2
[[ $(title) != \** ]] || fail "Cancel changed the image: $(title)"

# OK renders, and the title shows it.
open_dialog
xdotool key --window "$dialog" Return
gone '^Ovra Bleach Bypass$' 30 || fail "Return did not close the dialog"
for _ in $(seq 50); do [[ $(title) == \** ]] && break; sleep 0.2; done
[[ $(title) == \** ]] || fail "OK left the image unchanged: $(title)"

passed=1
echo "1 passed, 0 failed"
