#!/usr/bin/env bash
# The ALSA backend on devices that offer only some layouts: 32-bit (the
# widest, taken first where everything is offered), 32-bit float, and two
# channels only. ALSA's file plugin reads and writes what the stream
# negotiated, so the captured and the played streams are compared with
# files made here byte for byte, and the capture is measured.
#
#   alsa_formats.sh SOUNDCLOCK MAKE_RECORDING
set -uo pipefail

SOUNDCLOCK=$1 MAKE_RECORDING=$2
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/alsa_formats.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
. "$HERE/alsa_test_lib.sh"

# 20 s of the signal 1000 ppm fast in the layouts the devices below give:
# 32-bit with low bits of its own (0x1234 under every sample: kept by the
# capture), 32-bit float, and 32-bit stereo with silence on the right.
"$MAKE_RECORDING" 8000 1500 1000 20 | tail -c +45 >fast.raw
perl -e 'local $/; print pack("l<*", map { $_ * 65536 + 0x1234 } unpack("s<*", <STDIN>))' <fast.raw >fast32.raw
perl -e 'local $/; print pack("f<*", map { $_ / 32768 } unpack("s<*", <STDIN>))' <fast.raw >fastfloat.raw
perl -e 'local $/; print pack("l<*", map { ($_ * 65536, 0) } unpack("s<*", <STDIN>))' <fast.raw >fast32stereo.raw
stereo_null='{ type multi; slaves.a { pcm null; channels 2 } bindings.0 { slave a; channel 0 } bindings.1 { slave a; channel 1 } }'
float_null='{ type lfloat; slave { pcm null; format S32_LE } }'
cat >alsa.conf <<EOF
pcm.any32 { type file; slave.pcm null; file "/dev/null"; infile "$WORK/fast32.raw"; format raw }
pcm.float_only { type file; slave.pcm $float_null; file "/dev/null"; infile "$WORK/fastfloat.raw"; format raw }
pcm.stereo_only { type file; slave.pcm $stereo_null; file "/dev/null"; infile "$WORK/fast32stereo.raw"; format raw }
pcm.stereo_out { type file; slave.pcm $stereo_null; file "$WORK/played_stereo.raw"; format raw }
pcm.float_out { type file; slave.pcm $float_null; file "$WORK/played_float.raw"; format raw }
EOF
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$WORK/alsa.conf"
unset PULSE_SERVER

# field FILE OFFSET: the 16-bit field of a WAV header at OFFSET.
field() { od -An -tu2 -j"$2" -N2 "$1" | tr -d ' '; }

# Captured: the meter gets channel 1 in every layout, and --save keeps
# what the device gave, all its channels and bits, under an extensible
# header (68 bytes: 2 channels or 32 bits are more than the plain one says).
FAST='clock offset \+(999\.999|1000\.000)[0-9]* ppm'
for case in "any32 fast32.raw 1 32" "float_only fastfloat.raw 1 32" "stereo_only fast32stereo.raw 2 32"; do
  set -- $case
  expect 0 "$FAST" measure --device "$1" --seconds 19.5 --save "$1.wav" --signal-rate 8000 --carrier 1500 --quiet
  bytes=$((156000 * $3 * $4 / 8))  # 19.5 s
  head -c "$bytes" "$2" >expected.raw
  tail -c +69 "$1.wav" >saved.raw
  same saved.raw expected.raw "the capture of $1 is kept as the device gave it"
  [ "$(field "$1.wav" 22),$(field "$1.wav" 34)" = "$3,$4" ] \
    || { echo "FAIL: $1.wav says $(field "$1.wav" 22) channels of $(field "$1.wav" 34) bits"; FAILURES=$((FAILURES + 1)); }
  expect 0 "$FAST" measure "$1.wav" --quiet --signal-rate 8000 --carrier 1500
done

# Played: the 16-bit signal on both channels of a stereo-only device, and
# converted for a float-only one, every sample.
expect 0 'done: played 10\.0 s of the signal' signal --device stereo_out --seconds 10 --rate 8000 --carrier 1500
expect 0 'done: played 10\.0 s of the signal' signal --device float_out --seconds 10 --rate 8000 --carrier 1500
timeout 30 "$SOUNDCLOCK" signal --raw --seconds 10 --rate 8000 --carrier 1500 -o reference.raw
perl -e 'local $/; print pack("s<*", map { ($_, $_) } unpack("s<*", <STDIN>))' <reference.raw >reference_stereo.raw
perl -e 'local $/; print pack("f<*", map { $_ / 32768 } unpack("s<*", <STDIN>))' <reference.raw >reference_float.raw
same played_stereo.raw reference_stereo.raw "the signal on both channels of a stereo-only device"
same played_float.raw reference_float.raw "the signal converted for a float-only device"

finish "ALSA layouts"
