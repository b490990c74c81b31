# Sourced by the scripts: one Wine prefix per build tree, 64-bit so that the
# 32-bit DLL runs under WoW64 and both registry views exist.
# Needs BUILD_DIR set to an absolute path.
export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko install prompts.
export WINEDLLOVERRIDES="mscoree,mshtml="

wine_prefix_init() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    # The lists of data sources and drivers exist from the start, as on a
    # Windows machine with ODBC: no test sees one appear because another
    # test running beside it was the first to write to it.
    local lists="$WINEPREFIX/odbc-lists.reg"
    printf '%s\r\n' REGEDIT4 "" \
      '[HKEY_CURRENT_USER\Software\ODBC\ODBC.INI\ODBC Data Sources]' \
      '[HKEY_LOCAL_MACHINE\Software\ODBC\ODBC.INI\ODBC Data Sources]' \
      '[HKEY_LOCAL_MACHINE\Software\Wow6432Node\ODBC\ODBC.INI\ODBC Data Sources]' \
      '[HKEY_LOCAL_MACHINE\Software\ODBC\ODBCINST.INI\ODBC Drivers]' \
      '[HKEY_LOCAL_MACHINE\Software\Wow6432Node\ODBC\ODBCINST.INI\ODBC Drivers]' >"$lists"
    wine reg import "Z:${lists//\//\\}" /reg:64 >/dev/null 2>&1 || true
    rm -f "$lists"
    wineserver -w
  fi
}

# A persistent wineserver with Wine's own services already running, started
# with our output detached: services started later, by a test, would inherit
# the test runner's pipes and keep it waiting after the test has ended.
wine_server_start() {
  wine_prefix_init
  # A server still running for this prefix (one left by an earlier run or a
  # winepath a moment ago) would refuse -p; this prefix is ours alone.
  wineserver -k 2>/dev/null || true
  wineserver -w
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_server_stop() {
  wineserver -k 2>/dev/null || true
}
