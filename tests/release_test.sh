#!/bin/bash
# The release zip as a Windows user meets it: unpacked into a fresh 32-bit
# prefix under a path with spaces, installed, a script run with the unpacked
# workbench from cmd.exe, a second copy beside it running on its own DLL,
# uninstalled, the workbench run again, and the registry as it was before.
#   release_test.sh ZIP VERSION WORKDIR
set -euo pipefail
zip=$(realpath "$1") version=$2 work=$(mkdir -p "$3" && cd "$3" && pwd)
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
pristine=$work/pristine prefix=$work/prefix
fail() { echo "release_test: $*" >&2; exit 1; }

# wineboot is the slow part: one pristine prefix per build tree, copied anew
# for every run.
if [ ! -f "$pristine/.booted" ]; then
    rm -rf "$pristine"; mkdir -p "$work"
    start=$(date +%s)
    WINEPREFIX=$pristine wineboot -i </dev/null >"$work/boot.log" 2>&1
    WINEPREFIX=$pristine wineserver -w
    touch "$pristine/.booted"
    echo "release_test: fresh prefix booted in $(( $(date +%s) - start )) s"
fi
export WINEPREFIX=$prefix
wineserver -k 2>/dev/null || true
rm -rf "$prefix"; cp -a "$pristine" "$prefix"
trap 'wineserver -k 2>/dev/null || true' EXIT

keys() { wineserver -w; grep -e '^\[' "$prefix"/*.reg | sed 's/ [0-9]*$//' | sort; }
before_keys=$(keys)

base="$prefix/drive_c/zTolvera release"
mkdir -p "$base"; unzip -q "$zip" -d "$base"
top="C:\\zTolvera release\\ztolvera-$version"
cat >"$prefix/drive_c/run.cmd" <<CMD
@echo off
cd /d "$top\\workbench"
ztolvera-run.exe --fast --journal "..\\run journal.jsonl" "examples\\services.vbs"
CMD

out=$(wine cmd /c "$top\\install.cmd" 2>&1) || fail "install.cmd: $out"
[[ $out == *"registered $top\\zTolvera.dll"* ]] || fail "install.cmd said: $out"
clsid='{66D40926-20AA-4FC1-BB5D-EEB2D525CE70}'
q=$(wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" 2>&1)
[[ $q == *"$top\\zTolvera.dll"* && $q == *Free* ]] || fail "InprocServer32: $q"
for k in 'HKCR\Dozurizar.Tolvera\CurVer' 'HKCR\Dozurizar.Tolvera.1\CLSID' "HKCR\\CLSID\\$clsid\\ProgID"; do
    wine reg query "$k" >/dev/null 2>&1 || fail "missing $k"
done

out=$(wine cmd /c 'C:\run.cmd' 2>&1) || fail "workbench: $out"
[[ $out == *"job 1 services.vbs: compiled, runs 1, succeeded 1, script errors 0"* ]] || fail "workbench said: $out"
[[ $out == *"zTolvera $version ($top\zTolvera.dll)"* ]] || fail "workbench named no DLL of its own: $out"
grep -q '"op":"MSActions"' "$base/ztolvera-$version/run journal.jsonl" || fail "no journal"

# A second copy beside the installed one runs on its own DLL: with the
# registered copy's file moved away, a workbench that went through the
# registration could not create a host at all.
second="$prefix/drive_c/second copy"
mkdir -p "$second"; unzip -q "$zip" -d "$second"
other="C:\second copy\ztolvera-$version"
mv "$base/ztolvera-$version/zTolvera.dll" "$base/zTolvera.dll.away"
printf '@echo off\r\ncd /d "%s\\workbench"\r\nztolvera-run.exe --fast examples\\services.vbs\r\n' "$other" \
    >"$prefix/drive_c/second.cmd"
out=$(wine cmd /c 'C:\second.cmd' 2>&1) || fail "second copy's workbench: $out"
mv "$base/zTolvera.dll.away" "$base/ztolvera-$version/zTolvera.dll"
[[ $out == *"zTolvera $version ($other\zTolvera.dll)"* && $out == *"succeeded 1, script errors 0"* ]] ||
    fail "second copy's workbench said: $out"

# README.txt's examples, from cmd.exe in the workbench folder: each command
# shown with "exit status N" under it must end with N and print every line
# shown beneath that.
examples=0
mapfile -t readme < <(tr -d '\r' <"$base/ztolvera-$version/README.txt")
for ((i = 0; i + 1 < ${#readme[@]}; i++)); do
    [[ ${readme[i]} =~ ^\ \ (ztolvera-run\.exe\ .*)$ ]] || continue
    command=${BASH_REMATCH[1]}
    [[ ${readme[i + 1]} =~ ^\ {6}exit\ status\ ([0-9]+)\; ]] || continue
    want=${BASH_REMATCH[1]}
    examples=$((examples + 1))
    printf '@echo off\r\ncd /d "%s\\workbench"\r\n%s\r\necho exit %%ERRORLEVEL%%\r\n' "$top" "$command" \
        >"$prefix/drive_c/example.cmd"
    # cmd /c ends with the example's status, which echo leaves as it was.
    out=$(wine cmd /c 'C:\example.cmd' 2>&1 | tr -d '\r') || true
    [[ $out == *"exit $want" ]] || fail "README example \"$command\" did not end with $want: $out"
    for ((j = i + 2; j < ${#readme[@]}; j++)); do
        [[ ${readme[j]} =~ ^\ {6}(.+)$ ]] || break
        [[ $out == *"${BASH_REMATCH[1]}"* ]] || fail "README example \"$command\" did not print: ${BASH_REMATCH[1]}"
    done
done
[ "$examples" -ge 4 ] || fail "README.txt shows only $examples examples with their exit status"

out=$(wine cmd /c "$top\\uninstall.cmd" 2>&1) || fail "uninstall.cmd: $out"
[[ $out == *"unregistered $top\\zTolvera.dll"* ]] || fail "uninstall.cmd said: $out"
wine reg query "HKCR\\CLSID\\$clsid" >/dev/null 2>&1 && fail "class key left"

# Running the workbench once more puts nothing back.
out=$(wine cmd /c 'C:\run.cmd' 2>&1) || fail "workbench after uninstall: $out"
[[ $out == *"succeeded 1, script errors 0"* ]] || fail "workbench after uninstall said: $out"
for k in "HKCR\\CLSID\\$clsid" 'HKCR\Dozurizar.Tolvera' 'HKCR\TypeLib\{9EC4C46B-C749-4118-8A3C-80A0DA974FDB}'; do
    wine reg query "$k" >/dev/null 2>&1 && fail "the workbench left $k"
done

# Version resource fields, UTF-16 in the DLL.
fields=$(strings -a -el "$base/ztolvera-$version/zTolvera.dll" | tr '\n' '|')
for f in "FileVersion|$version" "ProductVersion|$version" "OriginalFilename|zTolvera.dll" \
         "InternalName|zTolvera.dll" "FileDescription|zTolvera.dll" "OLESelfRegister"; do
    [[ $fields == *"|$f|"* ]] || fail "version resource lacks $f"
done

# Wine rewrites its NetworkCards key at start-up.
noise() { grep -v -e "NetworkCards" || true; }
diff <(echo "$before_keys" | noise) <(keys | noise) || fail "registry keys differ after uninstall"
echo "release_test: install, run, $examples README examples, uninstall passed"
