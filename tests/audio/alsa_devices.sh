#!/usr/bin/env bash
# The ALSA backend on devices that need no sound server: ALSA's `file`
# plugin over its `null` PCM, set up in a private ALSA configuration. What
# soundclock plays there lands in a file, and what it records comes from
# one, so the streams can be compared byte for byte.
#
#   alsa_devices.sh SOUNDCLOCK MAKE_RECORDING
set -uo pipefail

SOUNDCLOCK=$1 MAKE_RECORDING=$2
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/alsa_devices.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
. "$HERE/alsa_test_lib.sh"

# 20 s of the signal recorded 1000 ppm fast, as bare samples for the
# capture device to read. The file plugin reads them in the layout the
# capture negotiates, so its slave offers what a 16-bit mono card offers
# (speex, with nothing switched on, takes only that and leaves the samples
# as they are).
"$MAKE_RECORDING" 8000 1500 1000 20 | tail -c +45 >fast.raw
cat >alsa.conf <<EOF
pcm.mono16 {
  type speex
  slave.pcm null
  denoise off
}
pcm.from_recording {
  type file
  slave.pcm mono16
  file "/dev/null"
  infile "$WORK/fast.raw"
  format raw
}
EOF
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$WORK/alsa.conf"
# Under the sanitizers: the speex plugin's own leak is not soundclock's.
export LSAN_OPTIONS="suppressions=$HERE/alsa_plugins.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# No sound server is involved (the default device is not used).
unset PULSE_SERVER



# Played: exactly `soundclock signal`'s samples, in order, across every
# buffer boundary (10 s are 50 of the backend's periods, at a rate that
# fits them unevenly).
for rate in 8000 11025; do
  expect 0 'done: played 10\.0 s of the signal, no underruns' \
    signal --device "file:FILE=$WORK/played_$rate.raw,FORMAT=raw" --seconds 10 --rate "$rate" --carrier 1500
  timeout 30 "$SOUNDCLOCK" signal --raw --seconds 10 --rate "$rate" --carrier 1500 -o "reference_$rate.raw"
  same "played_$rate.raw" "reference_$rate.raw" "the played stream at $rate Hz is the signal's"
done

# Captured: the meter gets every sample in order (the figure), and --save
# keeps exactly them with a header that says how many.
expect 0 'clock offset \+(999\.999|1000\.000)[0-9]* ppm .*slider 500' \
  measure --device from_recording --seconds 19.5 --save saved.wav --signal-rate 8000 --carrier 1500
head -c 312000 fast.raw >expected.raw
tail -c +45 saved.wav >saved.raw
same saved.raw expected.raw "the saved capture holds what was captured"
expect 0 'clock offset \+(999\.999|1000\.000)[0-9]* ppm' measure saved.wav --quiet --signal-rate 8000 --carrier 1500
[ "$(od -An -tu4 -j40 -N4 saved.wav | tr -d ' ')" = 312000 ] || { echo "FAIL: the saved header's data size"; FAILURES=$((FAILURES + 1)); }

# The list, and devices that cannot be had: status 2 with ALSA's words
# and what was asked.
expect 0 'playback devices \(ALSA\):.* 0 \* default .*null .*capture devices \(ALSA\):.* 0 \* default .*null ' devices
expect 2 'cannot open the capture device "no_such_pcm" \(at least 1 channel at 8000 Hz\): No such file or directory \(ALSA: Unknown PCM no_such_pcm\)' \
  measure --device no_such_pcm --signal-rate 8000 --carrier 1500
expect 2 'cannot open the playback device "no_such_pcm" \(1 channel at 8000 Hz\)' \
  signal --device no_such_pcm --rate 8000 --carrier 1500
expect 2 'there is no playback device 999 \([0-9]+ listed' loop --play 999 --record null --rate 8000 --carrier 1500
expect 2 'there is no capture device 999 ' measure --device 999 --signal-rate 8000 --carrier 1500
expect 2 'the recording runs at 48000 Hz, the signal at 8000 Hz' measure --device null --rate 48000 --signal-rate 8000 --carrier 1500
expect 2 'no test signal found: 5\.0 s of digital silence' measure --device null --seconds 5 --signal-rate 8000 --carrier 1500
expect 2 '"error":"no test signal found' measure --device null --seconds 5 --json --signal-rate 8000 --carrier 1500

finish "ALSA devices"
