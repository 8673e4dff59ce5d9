#!/usr/bin/env bash
# Builds the Windows installer, installs it silently under Wine, checks the programs, the
# Start-menu entries and the uninstall entry (what Settings > Apps shows: name, publisher,
# version, icon, and no help link, there being no site), uninstalls silently and checks
# that nothing it installed is left: no file of the prefix's drive C and no registry key.
# The PATH stays as it was. Then the same installer, silent with /PATH=all (and refused
# with a /PATH= it does not know): ostrelctl runs by its name from a command prompt, until
# the uninstaller takes its folder off the PATH again.
#
#   installer-test.sh --build DIR --run WINE-RUN --prefix WINEPREFIX --setup NAME.exe
#                     --version V --publisher NAME --menu-entries N PROGRAM.exe...
# N: the programs that have a Start-menu entry (console programs have none). PROGRAM: the
# path in the installation folder, bin/ostrelctl.exe for a console program.
set -euo pipefail

while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --run) run=$2; shift 2 ;;
    --prefix) prefix=$2; shift 2 ;;
    --setup) setup=$2; shift 2 ;;
    --menu-entries) menu_entries=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --publisher) publisher=$2; shift 2 ;;
    *) break ;;
  esac
done
programs=("$@")
[ ${#programs[@]} -gt 0 ] || { echo "no programs to install" >&2; exit 2; }
for option in menu_entries version publisher; do
  [ -n "${!option:-}" ] || { echo "--${option//_/-} missing" >&2; exit 2; }
done

work=$(mktemp -d "$build/installer-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G NSIS -B "$work/package" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; find "$work" -name NSISOutput.log -exec tail -20 {} \; >&2
    fail "cpack could not build the installer"; }
installer="$work/package/$setup"
[ -f "$installer" ] || fail "no $setup"
file "$installer" | grep -q 'PE32+' || fail "$setup is not a 64-bit program: $(file -b "$installer")"

# Wine's server must have written the registry before the prefix is looked at.
"$run" cmd /c exit >/dev/null 2>&1
# Everything of drive C except scratch space that Wine and NSIS use for themselves.
snapshot() {
  (cd "$prefix/drive_c" && find . \( -ipath './users/*/temp' -o -ipath './windows/temp' \) -prune \
     -o -print | LC_ALL=C sort)
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ostrel'
vendor_key='HKLM\Software\Ostrel project'
system_environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
user_environment='HKCU\Environment'
has_key() { "$run" reg query "$1" >/dev/null 2>&1; }
# The uninstaller runs from a copy of itself, which the first process starts and leaves: its
# end is the folder's going. One more command through Wine before anything is looked at.
uninstall() {
  "$run" 'C:\Program Files\Ostrel\Uninstall.exe' /S >/dev/null 2>&1 || fail "the uninstaller failed"
  for _ in $(seq 300); do
    [ -e "$prefix/drive_c/Program Files/Ostrel" ] || break
    sleep 0.1
  done
  "$run" cmd /c exit >/dev/null 2>&1
}
# The PATH values of the system and the user, one line each ("" when there is none).
paths() {
  local key
  for key in "$system_environment" "$user_environment"; do
    "$run" reg query "$key" /v PATH 2>/dev/null | tr -d '\r' | sed -n 's/^ *PATH *REG_[A-Z_]*SZ *//p' |
      grep . || echo '""'
  done
}
bin='C:\Program Files\Ostrel\bin'

snapshot >"$work/before"
paths >"$work/paths-before"
has_key "$uninstall_key" && fail "an Ostrel installation is already in the prefix"

start=$(date +%s%N)
"$run" "$installer" /S >/dev/null 2>&1 || fail "the installer failed"
echo "installed in $((($(date +%s%N) - start) / 1000000)) ms"
paths | diff "$work/paths-before" - >&2 || fail "the installer changed the PATH unasked"
snapshot >"$work/installed"
comm -13 "$work/before" "$work/installed" >"$work/added"
echo "installed files:"; sed 's/^/  /' "$work/added"

folder='./Program Files/Ostrel'
for program in "${programs[@]}" Uninstall.exe; do
  grep -qxF "$folder/$program" "$work/added" || fail "$program not installed in $folder"
done
links=$(grep -ci '/start menu/.*\.lnk$' "$work/added" || true)
[ "$links" -eq $((menu_entries + 1)) ] ||
  fail "$links Start-menu entries, expected $menu_entries for the programs and one for the uninstaller"
has_key "$uninstall_key" || fail "no uninstall entry"
# reg query's lines: "    NAME    REG_SZ    VALUE".
entry=$("$run" reg query "$uninstall_key" 2>/dev/null | tr -d '\r')
value() { sed -n "s/^ *$1 *REG_SZ *//p" <<<"$entry"; }
echo "uninstall entry:"; sed -n 's/^ \+/  /p' <<<"$entry"
[ "$(value DisplayName)" = "Ostrel Programmer" ] || fail "DisplayName is '$(value DisplayName)'"
[ "$(value DisplayVersion)" = "$version" ] || fail "DisplayVersion is '$(value DisplayVersion)', not $version"
[ "$(value Publisher)" = "$publisher" ] || fail "Publisher is '$(value Publisher)', not $publisher"
[ -z "$(value HelpLink)$(value URLInfoAbout)" ] ||
  fail "a link to a site that does not exist: '$(value HelpLink)$(value URLInfoAbout)'"
[ "$(value DisplayIcon)" = 'C:\Program Files\Ostrel\ostrel.exe' ] ||
  fail "DisplayIcon is '$(value DisplayIcon)', not the installed ostrel.exe"

uninstall
snapshot >"$work/after"
if ! diff -u "$work/before" "$work/after" >"$work/left"; then
  cat "$work/left" >&2
  fail "files left behind or removed"
fi
has_key "$uninstall_key" && fail "uninstall entry left behind"
has_key "$vendor_key" && fail "registry key $vendor_key left behind"
echo "uninstalled, nothing left behind"

# The options page offers the PATH; a silent installation, which has no page, takes the
# choice from /PATH=: a value it does not know is refused with nothing installed, and
# /PATH=all puts the folder on the system PATH.
nsis=$(dirname "$(find "$work/package/_CPack_Packages" -name project.nsi | head -n 1)")
[ -f "$nsis/NSIS.InstallOptions.ini" ] || fail "the installer has no options page"
grep -q '^Text=Put ostrelctl.exe on the PATH for all users$' "$nsis/NSIS.InstallOptions.ini" ||
  fail "the options page offers no PATH for all users"
if "$run" "$installer" /S /PATH=maybe >/dev/null 2>&1; then
  fail "the installer took /PATH=maybe"
fi
snapshot >"$work/after-refused"
diff -u "$work/before" "$work/after-refused" >&2 || fail "a refused /PATH= left files behind"
has_key "$uninstall_key" && fail "a refused /PATH= left an uninstall entry"
paths | diff "$work/paths-before" - >&2 || fail "a refused /PATH= changed the PATH"
echo "/PATH=maybe refused, nothing installed"
"$run" "$installer" /S /PATH=all >/dev/null 2>&1 || fail "the installer failed with /PATH=all"
paths >"$work/paths-installed"
head -n 1 "$work/paths-installed" | tr ';' '\n' | grep -qixF "$bin" ||
  fail "$bin is not on the system PATH: $(head -n 1 "$work/paths-installed")"
version_said=$("$run" cmd /c ostrelctl --version 2>&1 | tr -d '\r')
grep -qF "$version" <<<"$version_said" || fail "ostrelctl by its name: $version_said"
echo "/PATH=all: ostrelctl --version says $version_said"
uninstall
paths | diff "$work/paths-before" - >&2 || fail "the uninstaller left the PATH changed"
echo "uninstalled, the PATH as before"
