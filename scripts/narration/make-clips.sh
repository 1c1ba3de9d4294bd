#!/usr/bin/env bash
# Regenerates the tour's narration clips in web/audio/ from narration.tsv (step key, tab, the
# sentence spoken for that step). The clips are committed; the build and the tests use the
# committed files, so this runs only when a sentence changes.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/../../web/audio"

missing=()
command -v espeak-ng >/dev/null || missing+=(espeak-ng)
command -v lame >/dev/null || missing+=(lame)
command -v python3 >/dev/null || missing+=(python3)
if ((${#missing[@]})); then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

while IFS=$'\t' read -r key text; do
  [[ -z "$key" ]] && continue
  espeak-ng -v en-us -s 155 -w "$work/$key.wav" -- "$text"
  # MPEG-2 Layer III, 48 kbit/s constant, 24 kHz mono: every frame is exactly 144 bytes, so
  # no frame ever needs padding. -t leaves out the Xing/Info frame.
  lame --quiet -m m -b 48 --resample 24 --cbr -t --noreplaygain "$work/$key.wav" "$work/$key.mp3"
  python3 "$here/clean_frames.py" "$work/$key.mp3" "$out/$key.mp3"
  printf '%-14s %7d bytes\n' "$key" "$(stat -c %s "$out/$key.mp3")"
done <"$here/narration.tsv"

printf 'total %d bytes\n' "$(cat "$out"/*.mp3 | wc -c)"
