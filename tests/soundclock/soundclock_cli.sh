#!/usr/bin/env bash
# The soundclock program as a user meets it: what it writes, what it
# measures, and its exit status and words for every kind of bad input.
# Natively, under the sanitizers and (with Wine as RUNNER) on Windows.
#
#   soundclock_cli.sh SOUNDCLOCK MAKE_RECORDING [RUNNER...]
set -uo pipefail

SOUNDCLOCK=$1 MAKE_RECORDING=$2
shift 2
RUNNER=("$@")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/soundclock_cli.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

FAILURES=0
soundclock() { "${RUNNER[@]}" "$SOUNDCLOCK" "$@"; }
recording() { "${RUNNER[@]}" "$MAKE_RECORDING" "$@"; }

# expect STATUS PATTERN ARGS...: runs soundclock; its exit status must be
# STATUS and its output (stdout and stderr) must match the extended regex.
expect() {
  local status=$1 pattern=$2 output actual
  shift 2
  output=$(soundclock "$@" 2>&1 </dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
  actual=$?
  if [ "$actual" != "$status" ] || ! grep -Ezq -- "$pattern" <<<"$output"; then
    printf 'FAIL: soundclock %s\n  exit %s (expected %s), output:\n%s\n  expected to match: %s\n' "$*" "$actual" "$status" "$output" "$pattern"
    FAILURES=$((FAILURES + 1))
  else
    printf 'ok: soundclock %s -> %s\n' "$*" "$status"
  fi
}

# Files: the signal itself, a recording 1000 ppm fast, silence, noise, a
# 1000 Hz sine, and broken WAV files.
soundclock signal --seconds 20 -o signal.wav
soundclock signal --seconds 20 --raw -o signal.raw
recording 8000 1500 1000 20 > fast.wav
recording 8000 1500 -500 20 20 7 drop 8 3 zeros 14 500 > faults.wav
head -c 320000 /dev/zero > silence.raw
perl -e 'srand(3); print pack("s<*", map { int(6000 * (rand() + rand() + rand() - 1.5)) } 1..160000)' > noise.raw
perl -e 'print pack("s<*", map { int(10000 * sin(2 * 3.14159265358979 * 1000 * $_ / 8000)) } 0..159999)' > sine.raw
# stereo: the recording on the left, silence on the right
perl -e 'local $/; my $d = <STDIN>; my @s = unpack("s<*", substr($d, 44)); my $n = @s;
  print "RIFF", pack("V", 36 + 4 * $n), "WAVEfmt ", pack("VvvVVvv", 16, 1, 2, 8000, 32000, 4, 16), "data", pack("V", 4 * $n),
  pack("s<*", map { ($_, 0) } @s)' < fast.wav > stereo.wav
printf 'this is a text file, not a recording\n' > text.wav
head -c 30 signal.wav > truncated.wav
# the recording at 24 bits, a low byte below half a 16-bit step on every
# sample, and at 32-bit float: the same figure as the 16-bit file
perl -e 'local $/; my $d = <STDIN>; my @s = unpack("s<*", substr($d, 44)); my $n = @s;
  print "RIFF", pack("V", 36 + 3 * $n), "WAVEfmt ", pack("VvvVVvv", 16, 1, 1, 8000, 24000, 3, 24), "data", pack("V", 3 * $n),
  map { substr(pack("l<", $_ * 256 + 0x7F), 0, 3) } @s' < fast.wav > pcm24.wav
perl -e 'local $/; my $d = <STDIN>; my @s = unpack("s<*", substr($d, 44)); my $n = @s;
  print "RIFF", pack("V", 36 + 4 * $n), "WAVEfmt ", pack("VvvVVvv", 16, 3, 1, 8000, 32000, 4, 32), "data", pack("V", 4 * $n),
  pack("f<*", map { $_ / 32768 } @s)' < fast.wav > float32.wav
head -c 44 signal.wav > header_only.wav
# the signal overdriven ten times: every burst clipped at full scale
perl -e 'local $/; print pack("s<*", map { my $v = 10 * $_; $v > 32767 ? 32767 : $v < -32768 ? -32768 : $v } unpack("s<*", <STDIN>))' < signal.raw > clipped.raw

[ "$(head -c 4 signal.wav)" = RIFF ] || { echo "FAIL: signal.wav is not a WAV file"; FAILURES=$((FAILURES + 1)); }
[ "$(stat -c %s signal.raw)" = 320000 ] || { echo "FAIL: 20 s of raw signal are not 320000 bytes"; FAILURES=$((FAILURES + 1)); }

# The signal measured as it was made: 0 to its last digit, and an
# uncertainty that never reads as none (two significant digits).
expect 0 'clock offset [-+]0\.0+ ppm \+- 0\.0*[1-9][0-9]? ppm .* receiver slider 1000, "Clock error 0\.000%"' measure signal.wav
expect 0 'clock offset [-+]0\.0+ ppm' measure --raw --rate 8000 signal.raw --quiet
# 1000 ppm to within 0.001 ppm
FAST='\+(999\.999|1000\.000)[0-9]*'
expect 0 "clock offset $FAST ppm .*runs fast.* receiver slider 500, \"Clock error 0\.100%\"" measure fast.wav
expect 0 '"ppm":(999\.999|1000\.000)[0-9]*,.*"slider":500,.*"clock_error":"Clock error 0\.100%"' measure fast.wav --json --quiet
expect 0 'clock offset' measure fast.wav --expect 1000 --tolerance 0.01
expect 1 "clock offset $FAST" measure fast.wav --expect 999 --tolerance 0.5
expect 0 'clock offset -(499\.9|500\.0)[0-9]* ppm .*runs slow.*2 jumps \(-3 samples at 8\.[01][0-9] s, \+500 samples at 14\.[01][0-9] s\).*slider 1250' measure faults.wav
expect 0 'jump of -3 samples at 8\.[01][0-9] s \(samples lost\)' measure faults.wav
expect 0 "measuring channel 1 \(--channel N for another\).*clock offset $FAST" measure stereo.wav
expect 2 'no test signal found: 20\.0 s of digital silence' measure stereo.wav --channel 2
expect 0 ' 3[0-9] blocks' measure fast.wav --seconds 5
expect 2 'no test signal found: 20\.0 s of digital silence' measure --raw --rate 8000 silence.raw
expect 2 'the signal is clipped: 15[0-9] of 15[0-9] bursts reach full scale' measure --raw --rate 8000 clipped.raw
expect 2 'no test signal found in 20\.0 s: level .* dBFS RMS' measure --raw --rate 8000 noise.raw
expect 2 'no test signal found in 20\.0 s: .*about 1000 Hz by its zero crossings' measure --raw --rate 8000 sine.raw
expect 2 '"error":"no test signal found' measure --raw --rate 8000 sine.raw --json
expect 2 'no test signal found in 20\.0 s: .*the best match with the burst on 1000\.0 Hz' measure fast.wav --carrier 1000
# Slightly off the carrier, as through a radio: the phase turns, the delay
# still tells the clocks; both are reported.
expect 0 'phase and delay disagree: .*the delay.s figure is given' measure fast.wav --carrier 1510
# The carriers of the range, at their ends: the signal measures itself,
# at 0 ppm and with no jump. Outside the range a warning, then a refusal.
soundclock signal --seconds 20 --carrier 800 -o signal800.wav
soundclock signal --seconds 20 --carrier 3000 -o signal3000.wav
soundclock signal --seconds 20 --carrier 600 -o signal600.wav
expect 0 'clock offset [-+]0\.0000[0-9]* ppm \+- 0\.0000[0-9]* ppm \([^)]*\), [0-9.]+ s, [0-9]+ blocks; receiver slider 1000' measure signal800.wav --carrier 800
expect 0 'clock offset [-+]0\.0000[0-9]* ppm \+- 0\.0000[0-9]* ppm \([^)]*\), [0-9.]+ s, [0-9]+ blocks; receiver slider 1000' measure signal3000.wav --carrier 3000
expect 0 'warning: the carrier 600 Hz is 0\.075 of the signal.s rate: outside 0\.1 to 0\.375 of it.*clock offset .*carrier outside 0\.1\.\.0\.375 of the rate' measure signal600.wav --carrier 600
expect 0 '"carrier_in_range":false' measure signal600.wav --carrier 600 --json --quiet
expect 2 'the carrier 3500 Hz is 0\.4375 of the signal.s rate 8000 Hz: the meter measures carriers from 0\.05 to 0\.4 of the rate' measure signal.wav --carrier 3500
# The loop refuses it too, before it opens a device.
expect 2 'the carrier 3500 Hz is 0\.4375 of the signal.s rate 8000 Hz' loop --play no-such-device --record no-such-device --carrier 3500
expect 2 'text\.wav: not a WAV file: it does not start with RIFF' measure text.wav
expect 2 'truncated WAV header: the input ends after 30 bytes' measure truncated.wav
expect 0 "clock offset $FAST ppm" measure pcm24.wav --quiet
expect 0 "clock offset $FAST ppm" measure float32.wav --quiet
expect 2 'no test signal found: the recording holds no samples' measure header_only.wav
expect 2 'cannot open no-such-file.wav' measure no-such-file.wav
expect 2 'record at the signal.s rate' measure fast.wav --signal-rate 48000 --carrier 9000
expect 2 '--raw needs --rate R' measure --raw signal.raw
expect 2 '--rate is for --raw' measure signal.wav --rate 8000
expect 2 '--expect and --tolerance go together' measure signal.wav --expect 3
expect 2 'unknown option --bogus' measure signal.wav --bogus
expect 2 'not a number: fast' signal --seconds fast -o x.wav
expect 2 'the carrier 5000\.0* Hz must lie between 0 and half the sample rate' signal --carrier 5000 -o x.wav
expect 2 'unknown command play' play
expect 0 'usage: soundclock signal' --help
expect 2 'usage: soundclock signal'
expect 0 '^soundclock [0-9]+\.[0-9]+\.[0-9]+' --version
expect 0 'Usage: soundclock measure .*--device D .*--expect PPM' measure --help
expect 0 'Usage: soundclock loop .*--play D1 .*--record-rate R' help loop
expect 2 '--seconds needs a value' measure signal.wav --seconds
expect 2 'measure: unexpected argument other\.wav' measure signal.wav other.wav
expect 2 'give a FILE or --device, not both' measure signal.wav --device 0
expect 2 '--save keeps a capture: it needs --device' measure signal.wav --save x.wav
expect 2 'loop: --play D1 and --record D2 are needed' loop --play 0
expect 2 'signal: --device plays the signal; -o and --raw are for a file' signal --device 0 -o x.wav
# rate: its usage, and a device that cannot be opened is an error (JSON
# too), never a figure.
expect 2 'rate: --device D is needed' rate --seconds 1
expect 2 'rate: --silence is for --playback' rate --device 0 --silence
expect 2 'rate: --capture or --playback, not both' rate --device 0 --capture --playback
expect 2 'rate: --expect and --tolerance go together' rate --device 0 --expect 1
expect 2 '--seconds: more than 0 is needed' rate --device 0 --seconds 0
# (ALSA cannot open the name; winmm has no device of that name.)
expect 2 '\{"error":"(cannot open|there is no capture device named)[^}]*no_such_card' rate --device no_such_card --seconds 1 --json

# The offset as it moves: a line per window before the result, the windows
# and the Allan deviation as CSV and JSON, and the words on steadiness.
recording 8000 1500 100 120 20 5 ramp 0.6 > ramp.wav
expect 0 'window 0\.0-30\.0 s: \+100\.1[0-9]* ppm \+- 0\.0[0-9]* ppm, 23[0-9] blocks.*window 90\.0-119\.9 s: \+101\.0.*clock offset \+100\.6[0-9]* ppm .*not steady: the offset moved: \+0\.(59|60|61)[0-9]* ppm/min .*the mean.s uncertainty' \
  measure ramp.wav --interval 30 --track track.csv --adev adev.csv
[ "$(head -n 1 track.csv | tr -d '\r')" = start_s,end_s,ppm,uncertainty_ppm,blocks ] && [ "$(wc -l < track.csv)" = 5 ] \
  || { echo "FAIL: --track: $(cat track.csv)"; FAILURES=$((FAILURES + 1)); }
grep -Eq '^9\.984000,[0-9.]+e-0[0-9],781,' adev.csv || { echo "FAIL: --adev: $(cat adev.csv)"; FAILURES=$((FAILURES + 1)); }
expect 0 '"steady":false,"drift_ppm_per_min":0\.(59|60|61)[0-9]*,.*"windows":\[\{"start_s":0\.000,"end_s":60\.000,"ppm":100\.(29|30)[0-9]*,.*"blocks":46[0-9]\},.*"adev":\[\{"tau_s":1\.024000,"adev":[0-9.]+e-0[0-9],"terms":921,' \
  measure ramp.wav --interval 60 --json --quiet
expect 0 'clock offset [-+]0\.0+ ppm .*; steady \(drift [+-]0\.0[0-9]* ppm/min' measure signal.wav
expect 2 '--track needs --interval S' measure ramp.wav --track t.csv
expect 2 '--interval: at least 1 s' measure ramp.wav --interval 0.5
expect 2 'cannot write no-such-dir/adev\.csv' measure ramp.wav --adev no-such-dir/adev.csv

# From a pipe, and with the settings of STANAG.SET in the working directory.
output=$(soundclock measure - --quiet < fast.wav 2>&1 | tr -d '\r')
grep -Eq "clock offset $FAST" <<<"$output" || { echo "FAIL: measure from standard input: $output"; FAILURES=$((FAILURES + 1)); }
mkdir -p settings && cd settings || exit 1
printf '9600\r\n1800\r\n' > STANAG.SET
soundclock signal --seconds 10 -o signal9600.wav
rate=$(od -An -tu4 -j24 -N4 signal9600.wav | tr -d ' ')
[ "$rate" = 9600 ] || { echo "FAIL: with STANAG.SET 9600/1800 the signal's rate is $rate"; FAILURES=$((FAILURES + 1)); }
expect 0 'clock offset [-+]0\.0+ ppm' measure signal9600.wav --csv log.csv
head -n 1 log.csv | tr -d '\r' | grep -q '^block,time_s,peak_lag,delay_samples,phase_delay_samples,carrier_phase_rad,level_dbfs,flags$' \
  || { echo "FAIL: the CSV header: $(head -n 1 log.csv)"; FAILURES=$((FAILURES + 1)); }
rows=$(grep -c ',used' log.csv)
[ "$rows" -ge 85 ] || { echo "FAIL: only $rows used rows in the CSV of 10 s at 9600 Hz"; FAILURES=$((FAILURES + 1)); }
cd ..

if [ "$FAILURES" -gt 0 ]; then
  echo "$FAILURES case(s) failed"
  exit 1
fi
echo "soundclock command line: all cases passed"
