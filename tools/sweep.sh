#!/usr/bin/env bash
# Reliability sweep through ovra-host: every registered effect x both depths x
# {defaults, every range at its minimum and at its maximum} x sizes 1x1, 3x2,
# 257x131 x tile rows 1, 7, 256 x both transfer paths. A run must end with
# status 0, or 1 with a message; anything else (a crash, a sanitizer report,
# a hang past 60 s) is a finding. Where the effect is tiling-independent the
# banded result must equal the one-band result.
#   tools/sweep.sh [BUILD_DIR] [EFFECT...]     (build with -DOVRA_SANITIZE=address,undefined)
# Ranges are driven to their ends by values far outside them, which the
# module clamps on the way in. Prints the figures at the end; status 1 on a finding.
set -u
build=${1:-build-asan}; shift || true
host="$build/module/ovra-host"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
python3 - "$work" <<'PY'
import sys, zlib, struct
def png(path, w, h):
    raw = b''.join(b'\0' + bytes(((x * 37 + y * 91 + c * 53) % 256) for x in range(w) for c in range(3)) for y in range(h))
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    open(path, 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
                           + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
for w, h in ((1, 1), (3, 2), (257, 131)): png(f'{sys.argv[1]}/in{w}x{h}.png', w, h)
PY
effects=("$@")
[ ${#effects[@]} -eq 0 ] && mapfile -t effects < <("$host" list | cut -f3 | sed 's/^PIMAIN_//')
runs=0 findings=0 start=$(date +%s)
for e in "${effects[@]}"; do
  settings=("")
  while IFS=$'\t' read -r _ kind key _; do
    [ "$kind" = 2 ] && settings+=("--set $key=-1e9" "--set $key=1e9")
  done < <("$host" params "$e")
  for s in "${settings[@]}"; do
    for depth in 8 16; do
      for size in 1x1 3x2 257x131; do
        for transfer in ports interleaved; do
          for rows in 256 7 1; do
            out="$work/out$rows.png"
            # shellcheck disable=SC2086
            timeout 60 "$host" apply "$e" "$work/in$size.png" "$out" $s --depth $depth --tile-rows $rows \
              --transfer $transfer --quiet >"$work/log" 2>&1
            status=$?; runs=$((runs + 1))
            if [ $status -gt 1 ] || { [ $status -eq 1 ] && ! grep -q . "$work/log"; }; then
              findings=$((findings + 1)); echo "FINDING status $status: $e $s --depth $depth $size --tile-rows $rows --transfer $transfer"; head -5 "$work/log"
            elif [ $status -eq 0 ] && [ $rows != 256 ] && [ "$e" != Grain ] && ! cmp -s "$out" "$work/out256.png"; then
              findings=$((findings + 1)); echo "FINDING bands differ: $e $s --depth $depth $size --tile-rows $rows --transfer $transfer"
            fi
          done
        done
      done
    done
  done
done
echo "sweep: $runs runs, $findings findings, $(( $(date +%s) - start )) s"
[ $findings -eq 0 ]
