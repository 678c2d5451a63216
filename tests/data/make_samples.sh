#!/usr/bin/env bash
# Writes the hostile sample files of this folder again. Each is named after what it breaks; the tests
# that use them say what they must do with it. Needs ffmpeg (installed by scripts/setup).
# Usage: tests/data/make_samples.sh
set -euo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A sound camera frame: the test picture at 160 x 120, 4:2:2 as UVC cameras send it.
ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=1 -frames:v 1 -q:v 3 -pix_fmt yuvj422p \
  "$work/sound.jpg"
size=$(stat -c %s "$work/sound.jpg")
# Where the picture data starts: after the start-of-scan marker and its 12-byte header (3 components).
sos=$(grep -obUaP '\xff\xda' "$work/sound.jpg" | head -1 | cut -d: -f1)
data_start=$((sos + 2 + 12))
# Two thirds of the picture data, then nothing more: the lower third of the picture is missing.
cut_at=$((data_start + (size - 2 - data_start) * 2 / 3))
# A cut right after a 0xFF would make the next byte part of a marker.
while [ "$(tail -c +$((cut_at)) "$work/sound.jpg" | head -c 1 | od -An -tx1 | tr -d ' ')" = ff ]; do
  cut_at=$((cut_at - 1))
done

# Cut short, and the camera still closed the payload with an end-of-image marker: libjpeg decodes
# it with a warning only, the missing rows grey.
{ head -c "$cut_at" "$work/sound.jpg"; printf '\xff\xd9'; } >"$here/cut_mjpeg_frame_ending_in_ffd9.jpg"
# Cut short without an end marker.
head -c "$cut_at" "$work/sound.jpg" >"$here/cut_mjpeg_frame_without_end_marker.jpg"
# A whole frame followed by bytes that are no JPEG: what some cameras leave in the rest of the buffer.
{
  cat "$work/sound.jpg"
  printf 'leftover bytes of an earlier frame \xa5\xa5\xa5\xa5\x5a\x5a\x5a\x5a'
  head -c 64 /dev/zero
} >"$here/mjpeg_frame_with_trailing_junk.jpg"

# Red over blue at 100 x 72, sent by a camera whose stream was set to another size.
ffmpeg -v error -y -f lavfi -i color=c=red:s=100x36 -f lavfi -i color=c=blue:s=100x36 \
  -filter_complex vstack -frames:v 1 -q:v 2 -pix_fmt yuvj444p "$here/mjpeg_frame_of_another_size.jpg"

# UYVY at 66 x 50 with lines of 149 bytes (132 of pixels, 17 of padding), red over blue, and the last
# line without its padding: 7,433 bytes, where bytesperline x height would be 7,450.
uyvy_pixels() {  # U Y V, 33 macropixels
  local i
  for ((i = 0; i < 33; i++)); do printf "\\x$1\\x$2\\x$3\\x$2"; done
}
{
  for ((row = 0; row < 50; row++)); do
    if [ $row -lt 25 ]; then uyvy_pixels 5a 51 f0; else uyvy_pixels f0 29 6e; fi
    [ $row -lt 49 ] && head -c 17 /dev/zero | tr '\0' '\356'
  done
} >"$here/uyvy_66x50_149_byte_lines_one_padding_short.yuv"

# A settings file as an editor that writes a UTF-8 byte-order mark saves it: the mark sits right
# before the first key's line.
{
  printf '\xef\xbb\xbf'
  cat <<'EOF'
[software\zentrova\using\system]
"resourcespath"="/srv/microscope"
"moviesizemax"=dword:00000080
[software\zentrova\using\timedshot]
"shotsvalue"=dword:00000007
EOF
} >"$here/settings_with_byte_order_mark.conf"

ls -l "$here"
