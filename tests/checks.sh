#!/usr/bin/env bash
# The checks beyond the dialogue, each on what users get and each a CTest label
# of its own (tests/CMakeLists.txt): ctest --preset all -L CHECK.
# Usage: tests/checks.sh CHECK SOURCE BUILD
set -euo pipefail
check=$1
source=$2
build=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "$check: $*" >&2
    exit 1
}

# BUILD's binary as checksec, pesec and readpe read it; each of its compile
# commands as the compiler itself reads it, so that no later flag undoes one, and
# fortified at level FORTIFY (3 if unset). The stack protector is read off the
# commands alone: in a static clock12, checksec finds the C library's own canary.
hardening() {
    local report command directory macros settled start
    if [[ -f $build/clock12.exe ]]; then
        windows "$build/clock12.exe"
    else
        report=$(checksec --format=json --file="$build/clock12")
        for want in '"relro":"full"' '"nx":"yes"' '"pie":"yes"'; do
            [[ $report == *"$want"* ]] || fail "checksec finds no $want: $report"
        done
    fi
    jq -r '.[] | .directory, .command' "$build/compile_commands.json" >"$scratch/commands"
    while read -r directory && read -r command; do
        command=${command%% -o *}
        macros=$(compiles "$directory" "$command" -dM -E)
        [[ $macros == *"_FORTIFY_SOURCE ${fortify:-3}"* && $macros == *__OPTIMIZE__* ]] ||
            fail "$command: not at ${fortify:-3}, or unoptimised, so unfortified"
        [[ $macros =~ __SSP_(STRONG|ALL)__ ]] || fail "$command: no strong stack protector"
        [[ $macros =~ __PI[EC]__|_WIN32 ]] || fail "$command: not position-independent"
        [[ $macros =~ __CET__\ 3|_WIN32 || ! $macros =~ __x86_64__|__i386__ ]] ||
            fail "$command: no full control-flow protection"
        # The linker marks a program for IBT and SHSTK only if every object it links is,
        # so clock12 is where the C library's start file is (Debian 12's is not).
        start=$(compiles "$directory" "$command" -print-file-name=Scrt1.o)
        [[ -z $(readelf -nW "$start" "$build/clock12" 2>&1 | grep -o 'feature.*' | uniq -u) ]] ||
            fail "clock12 is not marked as $start is"
        [[ $macros == *"__cplusplus 202002L"* ]] || fail "$command: not C++20"
        if [[ $macros == *__clang__* ]]; then
            # Clang prints no settled options, but its driver hands the compiler proper a
            # -f flag only where no later flag undid it; warnings it passes on unresolved.
            settled=$(compiles "$directory" "$command" -fsyntax-only -### 2>&1)
            [[ $settled == *'"-fstack-clash-protection"'* ]] ||
                fail "$command: no -fstack-clash-protection"
        else
            settled=$(compiles "$directory" "$command" -fsyntax-only -Q --help=common \
                --help=warnings)
            for option in -fstack-clash-protection -Wextra -Wpedantic -Wconversion -Wshadow; do
                grep -Eq -- "^\s+$option\s+\[enabled\]" <<<"$settled" || fail "$command: no $option"
            done
        fi
    done <"$scratch/commands"
}

# In DIRECTORY, what COMMAND, with the options that follow, makes of an empty unit.
compiles() {
    (cd "$1" && eval "$2 ${*:3} -x c++ /dev/null")
}

# A console program with a randomised base and no executable data, needing only
# the DLLs that ship with Windows.
windows() {
    local security header dlls
    security=$(pesec "$1")
    header=$(readpe -h optional "$1")
    dlls=$(readpe -i "$1" | sed -n 's/^        Name: *//p')
    [[ $security =~ ASLR:\ +yes.*DEP/NX:\ +yes ]] || fail "$1 is not as pesec wants: $security"
    [[ $header == *IMAGE_SUBSYSTEM_WINDOWS_CUI* ]] || fail "$1 is not a console program"
    # readpe 0.81 does not name HIGH_ENTROPY_VA, so its bit (0x20) is read here.
    (($(sed -n 's/^ *DLL characteristics: *//p' <<<"$header") & 0x20)) ||
        fail "$1 has a randomised base of 32 bits only"
    ! grep -Eiv '^(kernel32|advapi32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$' <<<"$dlls" ||
        fail "$1 needs DLLs that Windows does not ship"
}

# The man page is clean and dated, names this version, and lists the messages
# and the failure status clock12 writes; the README's first screen, CONTRIBUTING's
# tables, the options and commands the docs give and the versions they need are the
# build's own.
# shellcheck disable=SC2016 # the backticks are Markdown's, not the shell's
docs() {
    local page=$build/clock12.1 lint version listed exits written standard option words status=0
    lint=$(mandoc -T lint -W warning "$page") || fail "mandoc finds: $lint"
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    grep -q "^\.TH CLOCK12 1 .* \"clock12 $version\"" "$page" || fail "$page is not of $version"
    listed=$(sed -n '/^\.SH DIAGNOSTICS/,/^\.SH/ s/^\.B //p' "$page")
    exits=$(sed -n '/^\.SH "EXIT STATUS"/,/^\.SH/ s/^\.B //p' "$page")
    written=$("$build/clock12" 2>&1 >&- <&-) || status=$?
    [[ $written == "$listed" ]] || fail "$page lists other messages than: $written"
    # The rows prove 0 for any input.
    [[ $exits == $'0\n'"$status" ]] || fail "$page lists other statuses than 0 and $status"
    cd "$source"
    for line in '    cmake --workflow --preset release && ./build/release/clock12' \
        '    cmake --workflow --preset check'; do
        head -n 40 README.md | grep -qxF -- "$line" || fail "the README's first screen lacks $line"
    done
    cmake -S . -B "$scratch/plain" -G Ninja >/dev/null
    same options "$(sed -n 's/^| `\([A-Z0-9_]*\)` | `\([A-Za-z]*\)`.*/\1 \2/p' CONTRIBUTING.md)" \
        "$(cmake -L -N "$scratch/plain" | sed -n 's/:\(BOOL\|STRING\)=/ /p')"
    same presets "$(sed -n '/^| preset /,/^$/ s/^| \([^|]*\)|.*/\1/p' CONTRIBUTING.md |
        grep -o '`[^`]*`' | tr -d '`')" "$(cmake --list-presets | sed -n 's/^ *"\([^"]*\)".*/\1/p')"
    same CMake "$(grep -o 'CMake [0-9.]* or' README.md)" \
        "CMake $(sed -n 's/^cmake_minimum_required(VERSION \(.*\))$/\1/p' CMakeLists.txt) or"
    standard=$(jq -r '.[0].command' "$build/compile_commands.json" | grep -o 'std=c++[0-9]*')
    same standard "$(grep -o 'a C++[0-9]* compiler' README.md)" "a C++${standard#std=c++} compiler"
    while read -r option; do
        grep -q "^${option#-D}:" "$scratch/plain/CMakeCache.txt" || fail "no option ${option#-D}"
    done < <(grep -oh -- '-D[A-Z][A-Z0-9_]*' README.md CONTRIBUTING.md)
    # Each ctest command that CONTRIBUTING gives selects a check here, the check build.
    while read -ra words; do
        "${words[@]}" -N | grep -q '^Total Tests: [1-9]' || fail "${words[*]} selects no test"
    done < <(grep -o '`ctest --preset [^`]*`' CONTRIBUTING.md | tr -d '`')
}

# The docs' WHAT and the build's, one a line, in any order.
same() {
    if [[ $(sort <<<"$2") != "$(sort <<<"$3")" ]]; then
        fail "the docs' $1: ${2//$'\n'/ }; the build's: ${3//$'\n'/ }"
    fi
}

# The README's install and uninstall lines as written, for this build, into a
# home whose path holds a space: exactly the files named, stripped, the man page
# as built, and its sessions replayed on the installed clock12; then no file left.
install() {
    local prefix="$scratch/home of a user/.local" installed left
    mkdir -p "$scratch/tree/build"
    ln -s "$build" "$scratch/tree/build/release"
    cd "$scratch/tree"
    HOME="$scratch/home of a user" bash -c "$(readme 'cmake --install')"
    installed=$(cd "$prefix" && find . ! -type d -printf '%m %p\n' | sort)
    [[ $installed == $'644 ./share/man/man1/clock12.1\n755 ./bin/clock12' ]] ||
        fail "installed: $installed"
    readelf -SW "$prefix/bin/clock12" | grep -q ' \.text ' || fail "no sections to look at"
    ! readelf -SW "$prefix/bin/clock12" | grep -q ' \.symtab ' || fail "clock12 is not stripped"
    cmp "$prefix/share/man/man1/clock12.1" "$build/clock12.1"
    CLOCK12_PROGRAM=$prefix/bin/clock12 CLOCK12_DOCUMENT=$prefix/share/man/man1/clock12.1 \
        "$build/tests/clock12_tests" --gtest_filter='Clock12/Docs.*' --gtest_brief=1
    bash -c "$(readme 'xargs ')"
    left=$(find "$prefix" ! -type d)
    [[ -z $left ]] || fail "the uninstall left: $left"
}

# The README's indented command line that starts with WORDS.
readme() {
    sed -n "s/^    \\($1.*\\)/\\1/p" "$source/README.md"
}

# A packager's builds: no preset, RelWithDebInfo, its other defaults CONTRIBUTING's; and as a
# distribution's: Debian's build type and flags (CPPFLAGS in CXXFLAGS, as CMake reads
# none), RPM's shared libraries, and hardening required of gold, which refuses only
# packed relocations, a size flag left out. Then a compiler that warns of a hardening
# flag: where hardening is required, configure stops there, and again when rerun.
packaging() {
    local cxxflags refused fortify
    packaged plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
    fortify=$(grep -o '_FORTIFY_SOURCE=[0-9]' <<<"$cxxflags" | cut -d = -f 2)
    CXXFLAGS=$cxxflags LDFLAGS="$(dpkg-buildflags --get LDFLAGS) -fuse-ld=gold" packaged \
        distribution -DCMAKE_BUILD_TYPE=None -DBUILD_SHARED_LIBS=ON -DCLOCK12_REQUIRE_HARDENING=ON
    cat >"$scratch/warns" <<'COMPILER'
#!/bin/sh
[ "${*#*-fstack-clash-protection}" = "$*" ] || echo "warning: ignored" >&2
exec g++ "$@"
COMPILER
    chmod +x "$scratch/warns"
    refused=(-G Ninja -DCMAKE_CXX_COMPILER="$scratch/warns" -DCLOCK12_REQUIRE_HARDENING=ON)
    for run in first rerun; do
        ! cmake -S "$source" -B "$scratch/refused" "${refused[@]}" >"$scratch/log" 2>&1 ||
            fail "configure goes on past a refused flag on its $run"
        grep -q 'refuses the hardening flag -fstack-clash-protection' "$scratch/log" ||
            fail "$(cat "$scratch/log")"
    done
}

# Builds NAME with the options given, without a warning, then installs it: hardened,
# on the shared runtimes, its ctest needing only GoogleTest, run on what it installed.
packaged() {
    local dir=$scratch/$1 labels needed
    cmake -S "$source" -B "$dir" -G Ninja -Werror=dev -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "${@:2}" >"$scratch/log" || fail "$(cat "$scratch/log")"
    cmake --build "$dir" >"$scratch/log" || fail "$1 does not build: $(cat "$scratch/log")"
    cmake --install "$dir" --prefix "$dir/usr" >"$scratch/log"
    needed=$(readelf -dW "$dir/usr/bin/clock12" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    [[ $needed == *libstdc++.so.* && $needed == *libc.so.* ]] || fail "$1 needs only: $needed"
    labels=$(ctest --test-dir "$dir" --print-labels | sed -n 's/^  //p')
    [[ $labels == $'dialogue\nterminal' ]] || fail "$1's ctest runs more than the suite: $labels"
    CLOCK12_PROGRAM=$dir/usr/bin/clock12 ctest --test-dir "$dir" -j 2 --output-on-failure
    build=$dir hardening
}

# The release, built from a copy whose path holds a space, at another time, is
# this build's bytes.
reproducible() {
    local copy="$scratch/unknown-warnings ignored/clock12"
    mkdir -p "$copy"
    git -C "$source" ls-files -z | (cd "$source" && xargs -0 cp --parents -t "$copy")
    (cd "$copy" && SOURCE_DATE_EPOCH=86400 cmake --workflow --preset release >"$scratch/log")
    for file in clock12 clock12.1; do
        cmp "$build/$file" "$copy/build/release/$file" || fail "$file depends on where it is built"
    done
}

"$check"
