# ALSA pointed at PipeWire's plugin, for soundclock's native tests on the
# private PipeWire stack. Debian's pipewire-alsa conflicts with pulseaudio,
# so ./run deps takes the plugin out of the package
# (SOUNDCLOCK_PIPEWIRE_ALSA_DIR) and a private configuration names it; the
# system's ALSA setup is left alone.
#
# use_pipewire_alsa_plugin: exports ALSA_CONFIG_PATH (ALSA's own
# configuration, then the `pipewire` PCM of the extracted plugin); returns
# 1 with the reason in PIPEWIRE_ALSA_MISSING when the plugin is not there.
use_pipewire_alsa_plugin() {
  local dir=${SOUNDCLOCK_PIPEWIRE_ALSA_DIR:-/opt/soundclock/pipewire-alsa} plugin conf
  plugin=$(find "$dir" -name libasound_module_pcm_pipewire.so 2>/dev/null | head -n 1)
  conf=$(find "$dir" -type f -name 50-pipewire.conf 2>/dev/null | head -n 1)
  if [ -z "$plugin" ] || [ -z "$conf" ]; then
    PIPEWIRE_ALSA_MISSING="PipeWire's ALSA plugin is not in $dir (./run deps extracts it)"
    return 1
  fi
  local private="${TMPDIR:-/tmp}/soundclock_pipewire_alsa.$$.conf"
  { printf 'pcm_type.pipewire { lib "%s" }\n' "$plugin"
    # the PCM's definition; its control (ctl.pipewire) is not needed
    awk '/^ctl\.pipewire/ { exit } { print }' "$conf"; } >"$private"
  export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$private"
}
