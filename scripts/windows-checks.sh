# What the cross-built Windows executable must be, and the Wine set-up that runs it here.
# Sourced by scripts/test-windows.sh and scripts/release.sh from the repository's root.

# check_windows_exe <exe>: a windowed (GUI-subsystem) program that needs nothing beyond the
# system's own DLLs, so that reviewers start the file alone and no console window opens.
check_windows_exe() {
    local exe=$1 info dll imports
    info=$(x86_64-w64-mingw32-objdump -p "$exe")
    grep -q 'Subsystem.*(Windows GUI)' <<<"$info" || { echo "$exe: not a Windows GUI program" >&2; return 1; }
    local system_dlls='^(kernel32|user32|advapi32|shell32|ole32|oleaut32|ws2_32|mswsock|msvcrt|ntdll|gdi32|comctl32|shlwapi|bcrypt|crypt32|iphlpapi|secur32|ucrtbase|api-ms-win-.*)\.dll$'
    imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$info")
    while read -r dll; do
        [ -n "$dll" ] || continue
        if ! grep -qiE "$system_dlls" <<<"$dll"; then
            echo "$exe: imports a DLL outside the Windows system set: $dll" >&2
            return 1
        fi
    done <<<"$imports"
    echo "$(basename "$exe"): Windows GUI subsystem; imports: $(tr '\n' ' ' <<<"$imports")"
}

# windows_product_version <exe>: the product version the executable's version information carries,
# as the file's properties show it (e.g. "v0.3.2").
windows_product_version() {
    x86_64-w64-mingw32-windres --input-format=coff --output-format=rc -i "$1" |
        sed -n 's/^\s*VALUE "ProductVersion", "\(.*\)"\s*$/\1/p'
}

# prepare_wine: a Wine prefix of the repository's own under build/, without the .NET and HTML
# engine installers, which would wait for a click.
prepare_wine() {
    export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
}
