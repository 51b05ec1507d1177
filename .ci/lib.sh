# Sourced by every CI step: strict mode, the root, a scratch folder, and checks
# of what a build produced, not of its settings.
# shellcheck shell=bash disable=SC2034 # the steps that source this file use these
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# clang-tidy: the newest Debian packages, to meet new checks before users do.
tidy=clang-tidy-22
# The suite's size and each test's timeout, written only here.
tests=39
timeout=60
# The other CPUs: GNU triple, Debian architecture, readelf's machine.
cpus=("aarch64-linux-gnu|arm64|AArch64" "s390x-linux-gnu|s390x|IBM S/390" "i686-linux-gnu|i386|Intel 80386")
# Every unit's flags, on ELF position independence asked for (Debian's GCC
# makes it anyway), and what optimised ones add.
options=(-std=c++20 -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
pic="-fPIE|-fPIC"
hardening=(-fstack-protector-strong -fstack-clash-protection -D_FORTIFY_SOURCE=3)
# How the release binary is linked.
linking=(-static-pie "-Wl,-z,relro,-z,now,-z,noexecstack,--gc-sections,-z,pack-relative-relocs")
# The README's run and test commands, which its first screen must give.
runCommand='cmake --workflow --preset release && ./build/release/clock12'
testCommand='cmake --workflow --preset check'

fail() {
    echo "ci: $*" >&2
    exit 1
}

# However the script ends: what atExit was given, .ci/run's audit in its own
# process, and the scratch folder removed.
scratch=$(mktemp -d)
cleanups=()
atExit() { cleanups+=("$1"); }
finish() {
    local status=$? cleanup
    for cleanup in "${cleanups[@]}"; do eval "$cleanup" || echo "ci: '$cleanup' failed" >&2; done
    [[ ${runPid:-} != "$$" ]] || audit "$status" || status=1
    rm -rf "$scratch"
    exit "$status"
}
trap finish EXIT

# A step's last word: .ci/run fails unless each step it names says it.
passed() {
    echo "${BASH_SOURCE[1]##*/}" >>"${CLOCK12_CI_LEDGER:-/dev/null}"
    echo "ci: step ${BASH_SOURCE[1]##*/} passed"
}

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

# Every unit in BUILD's compile commands has each flag (A|B: either), and a
# -DNAME=VALUE flag is the last word about NAME.
checkUnits() {
    local build=$1 json command flag name
    shift
    json=$(jq -r '.[].command' "$build/compile_commands.json")
    [[ -n $json ]] || fail "$build compiles nothing"
    while IFS= read -r command; do
        for flag in "$@"; do
            [[ " $command " == *" ${flag%|*} "* || " $command " == *" ${flag#*|} "* ]] ||
                fail "$build compiles without $flag: $command"
            name=${flag%%=*}
            [[ $flag != -D*=* || "${command##*" $flag"}" != *"${name#-D}"* ]] || fail "$build undoes $flag: $command"
        done
    done <<<"$json"
}

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

checkStripped() {
    local sections
    sections=$(readelf -SW "$1")
    grep -q ' \.text ' <<<"$sections" || fail "$1 has no sections to look at"
    ! grep -q ' \.symtab ' <<<"$sections" || fail "$1 is not stripped"
}

# CTest's own listing of BUILD gives every test the timeout.
checkTimeouts() {
    local listing untimed
    listing=$(ctest --test-dir "$1" --show-only=json-v1)
    jq -e '.tests | length > 0' <<<"$listing" >/dev/null || fail "$1 lists no tests"
    untimed=$(jq -r --argjson limit "$timeout" '.tests[] |
        select(any(.properties[]?; .name == "TIMEOUT" and .value == $limit) | not) | .name' <<<"$listing")
    [[ -z $untimed ]] || fail "tests without the ${timeout}-second timeout in $1: $untimed"
}

# The man page PAGE's header carries VERSION and a date.
checkManHeader() {
    local header
    header=$(grep -m1 '^\.TH ' "$1") || fail "$1 has no header"
    [[ $header =~ ^\.TH\ CLOCK12\ 1\ ([0-9]{4}-[0-9]{2}-[0-9]{2})\ \"clock12\ "$2"\" ]] &&
        date -d "${BASH_REMATCH[1]}" >/dev/null || fail "$1 has no version $2 and date: $header"
}

# A preset's suite: the units' flags, every test run and passed, each with the
# timeout, more than one started before the first ended.
suite() {
    local build=$2 started
    strictly cmake --workflow --preset "$1"
    checkUnits "$build" "${@:3}"
    grep -qx "100% tests passed, 0 tests failed out of $tests" <<<"$output" || fail "$build did not pass $tests tests"
    ! grep -q 'tests did not run' <<<"$output" || fail "$build skipped tests"
    checkTimeouts "$build"
    started=$(awk '/^ *Start +[0-9]+:/ { n++ } / Test +#[0-9]+:/ { print n + 0; exit }' <<<"$output")
    ((${started:-0} > 1)) || fail "$build ran its tests one at a time"
    echo "$build: all $tests tests ran and passed in parallel, each with a ${timeout}-second timeout"
}
