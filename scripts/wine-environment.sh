# Shared by the test wrapper, the test command and the tools that start the host under Wine.
# Source it, then call pelmora_wine_environment ROOT and pelmora_wine_prefix_ready.

# Points every variable Wine reads at folders below ROOT, so nothing reaches ~/.wine, the real
# home or the real trash.
pelmora_wine_environment() {
  local root=$1
  export WINEPREFIX="$root/prefix"
  export HOME="$root/home"
  export XDG_DATA_HOME="$HOME/.local/share"
  export XDG_CONFIG_HOME="$HOME/.config"
  export XDG_CACHE_HOME="$HOME/.cache"
  export WINEDEBUG=-all
  # No Mono or Gecko install prompts when the prefix is made, and no menu entries in HOME.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ -z "${PELMORA_KEEP_DISPLAY:-}" ]; then
    unset DISPLAY WAYLAND_DISPLAY
  fi
  mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
}

# Creates the prefix once. Several tests may start at the same moment, so the first one makes
# it under a lock and the others wait for it.
pelmora_wine_prefix_ready() {
  local stamp="$WINEPREFIX/.pelmora-ready"
  [ -e "$stamp" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -e "$stamp" ]; then
      # The lock's descriptor is closed for Wine's processes: services it starts would otherwise
      # inherit it and hold the lock for as long as they live.
      wineboot --init >/dev/null 2>&1 9>&- || true
      # wineboot returns before the programs it started have finished setting up the prefix (the
      # profile's folders, the registry); stopping them half-way leaves that work to the first test
      # programs, which then see the profile change under them for a minute or two. So the setup
      # is let finish first.
      wineserver -w 9>&- || true
      # The null graphics driver lets windows be created without a display.
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 9>&-
      # No debugger on a crash: the crashed program ends at once with a failure code, where Wine's
      # default would start winedbg and leave a test hanging until its timeout. The "debugger" is
      # a command that exits straight away, which lets the crashed process go on to terminate.
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d 'cmd.exe /c exit' /f \
        >/dev/null 2>&1 9>&-
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f >/dev/null 2>&1 9>&-
      # A wineserver keeps the graphics setting it started with: stop the one wineboot started
      # (it writes the registry out as it goes), so the next program gets the null driver.
      wineserver -k 9>&- || true
      # -k only asks the server to go; a server started at once after it (the test command's
      # persistent one) must not meet the old one still shutting down.
      wineserver -w 9>&- || true
      touch "$stamp"
    fi
  ) 9>"$(dirname "$WINEPREFIX")/.prefix.lock"
}
