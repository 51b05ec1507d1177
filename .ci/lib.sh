# Sourced by every CI step: strict mode, the root, a scratch folder, and checks
# of what a build produced, not of its settings.
# shellcheck shell=bash disable=SC2034 # the steps that source this file use these
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# clang-tidy: the newest Debian packages, to meet new checks before users do.
tidy=clang-tidy-22
# The other CPUs: GNU triple, Debian architecture, readelf's machine.
cpus=("aarch64-linux-gnu|arm64|AArch64" "s390x-linux-gnu|s390x|IBM S/390" "i686-linux-gnu|i386|Intel 80386")
# Every unit's flags, on ELF position independence asked for (Debian's GCC
# makes it anyway), and what optimised ones add.
options=(-std=c++20 -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
pic="-fPIE|-fPIC"
hardening=(-fstack-protector-strong -fstack-clash-protection -D_FORTIFY_SOURCE=3)
# How every binary is hardened at link time, and what the release adds.
linkHardening=("-Wl,-z,relro" "-Wl,-z,now" "-Wl,-z,noexecstack")
linking=(-static-pie "${linkHardening[@]}" "-Wl,--gc-sections" "-Wl,-z,pack-relative-relocs")
# The README's run and test commands, which its first screen must give.
runCommand='cmake --workflow --preset release && ./build/release/clock12'
testCommand='cmake --workflow --preset check'

fail() { echo "ci: $*" >&2; exit 1; }

# However the script ends: what atExit was given, and the scratch folder removed.
scratch=$(mktemp -d)
cleanups=()
atExit() { cleanups+=("$1"); }
finish() {
    local status=$? cleanup
    for cleanup in "${cleanups[@]}"; do eval "$cleanup" || echo "ci: '$cleanup' failed" >&2; done
    rm -rf "$scratch"
    exit "$status"
}
trap finish EXIT

# A step's last word: .ci/run fails unless each step says it.
passed() { echo "${0##*/}" >>"${CLOCK12_CI_LEDGER:-/dev/null}"; echo "ci: step ${0##*/} passed"; }

# Runs a command, shows and keeps its $output; a warning, not in the tree's
# path, fails it.
strictly() {
    local status=0 warned
    output=$("$@" 2>&1) || status=$?
    echo "$output"
    warned=$(grep '[Ww]arning' <<<"${output//"$PWD"/}") || (($? == 1))
    ((status == 0)) || fail "'$*' failed with status $status"
    [[ -z $warned ]] || fail "'$*' warned: $warned"
}

# Sets $key to the option that WORD sets, whatever its value or its no-, -U or
# -z opposite says: -fno-pie and -fPIE set one, as do -z lazy and -z now.
about() {
    key=${1,,}
    key=${key/#-fno-/-f} key=${key/#-u/-d} key=${key%%=*}
    key=${key/#-fstack-protector-*/-fstack-protector} key=${key/#-znow/-zlazy} key=${key/#-zno/-z}
}
# A COMMAND (LABEL) has each flag (A|B: either) as the last word about its
# option, or a stronger one: nothing later undoes or weakens it.
checkWords() {
    local label=$1 words='' flag one word last want undone
    for word in $2; do
        [[ $word != -Wl,* ]] || word=${word//,/ }
        words+=" ${word#-Wl }"
    done
    words=${words//-z /-z}
    for flag in "${@:3}"; do
        undone=
        for one in ${flag//|/ }; do
            one=${one#-Wl,} one=${one/#-z,/-z} last=
            about "$one"; want=$key
            for word in $words; do about "$word"; [[ $key != "$want" ]] || last=$word; done
            [[ $last == "$one" || " -fstack-protector-all -fcf-protection=full " == *" $last "* ]] && continue 2
            undone=${undone:-$last}
        done
        [[ -z $undone ]] || fail "$label with $flag undone by $undone: $2"
        fail "$label without $flag: $2"
    done
}
checkUnits() {
    local json command
    json=$(jq -r '.[].command' "$1/compile_commands.json")
    [[ -n $json ]] || fail "$1 compiles nothing"
    while IFS= read -r command; do checkWords "$1 compiles" "$command" "${@:2}"; done <<<"$json"
}
# BUILD links clock12 with each flag, none undone.
checkLink() { checkWords "$1 links" "$(ninja -C "$1" -t commands clock12 | tail -n 1)" "${@:2}"; }

# BUILD/clock12 is a PIE for MACHINE, LINKAGE static or dynamic, with RELRO,
# BIND_NOW and no executable stack; the program's objects call the stack
# protector and carry x86's control-flow markers (which a static link drops,
# as Debian's static libraries lack them).
checkBinary() {
    local build=$1 machine=$2 elf=$1/clock12 header segments root objects object interpreter=
    header=$(readelf -hW "$elf")
    segments=$(readelf -lW "$elf")
    grep -q "Machine: *$machine\$" <<<"$header" || fail "$elf is not for $machine"
    grep -q 'Type: *DYN' <<<"$header" || fail "$elf is not position-independent"
    ! grep -q '^ *INTERP ' <<<"$segments" || interpreter=dynamic
    [[ ${interpreter:-static} == "$3" ]] || fail "$elf is not $3"
    grep -q '^ *GNU_RELRO ' <<<"$segments" || fail "$elf has no read-only relocations"
    grep -Eq '\(FLAGS\) .*BIND_NOW|\(FLAGS_1\) .* NOW' <<<"$(readelf -dW "$elf")" || fail "$elf binds lazily"
    grep -Eq '^ *GNU_STACK .* RW  ' <<<"$segments" || fail "$elf has an executable stack"
    root=$(sed -n 's/^clock12_SOURCE_DIR:STATIC=//p' "$build/CMakeCache.txt")
    objects=$(jq -r --arg src "$root/src/" '.[] | select(.file | startswith($src)) |
        .directory + "/" + (.command | capture(" -o (?<o>[^ ]+)").o)' "$build/compile_commands.json")
    [[ -n $objects ]] || fail "$build compiles none of the program"
    while IFS= read -r object; do
        grep -q ' UND __stack_chk_fail' <<<"$(readelf -sW "$object")" || fail "$object has no stack protector"
        ! isX86 "$machine" || grep -q 'x86 feature: IBT, SHSTK' <<<"$(readelf -nW "$object")" ||
            fail "$object lacks the control-flow protection markers"
    done <<<"$objects"
    echo "$elf: $machine, $3 PIE, RELRO, BIND_NOW, non-executable stack, stack protector"
}

isX86() { [[ $1 == *X86-64 || $1 == "Intel 80386" ]]; }

# FILE has sections, and no symbol table among them.
checkStripped() {
    local sections
    sections=$(readelf -SW "$1")
    grep -q ' \.text ' <<<"$sections" || fail "$1 has no sections to look at"
    ! grep -q ' \.symtab ' <<<"$sections" || fail "$1 is not stripped"
}

# CTest's own listing of BUILD gives every test a timeout; sets $tests, their count.
checkTimeouts() {
    local listing untimed
    listing=$(ctest --test-dir "$1" --show-only=json-v1)
    tests=$(jq '.tests | length' <<<"$listing")
    ((tests > 0)) || fail "$1 lists no tests"
    untimed=$(jq -r '.tests[] | select(any(.properties[]?; .name == "TIMEOUT" and .value > 0) | not) | .name' <<<"$listing")
    [[ -z $untimed ]] || fail "tests without a timeout in $1: $untimed"
}

# Each test of BUILD running clock12 fails with its expectation altered.
altered() {
    local part report
    for part in output error status; do
        report=$(CLOCK12_ALTER=$part ctest --test-dir "$1" -R '^Clock12/' -j4 2>&1) || true
        grep -Eq '^0% tests passed, ([0-9]+) tests failed out of \1$' <<<"$report" ||
            fail "$1: tests pass with their $part altered: $(grep ' Passed ' <<<"$report")"
    done
}

# A preset's suite: the units' flags, every test listed run and passed, each
# with a timeout, more than one started before the first ended.
suite() {
    local build=$2 started
    strictly cmake --workflow --preset "$1"
    checkUnits "$build" "${@:3}"
    checkTimeouts "$build"
    grep -qx "100% tests passed, 0 tests failed out of $tests" <<<"$output" || fail "$build did not pass $tests tests"
    ! grep -q 'tests did not run' <<<"$output" || fail "$build skipped tests"
    started=$(awk '/^ *Start +[0-9]+:/ { n++ } / Test +#[0-9]+:/ { print n + 0; exit }' <<<"$output")
    ((${started:-0} > 1)) || fail "$build ran its tests one at a time"
    echo "$build: all $tests tests ran and passed in parallel, each with a timeout"
}
