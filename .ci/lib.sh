# Sourced by every CI step: strict mode, the project root, clean-up at exit,
# and the checks that the steps share. Each check reads what a build produced,
# not its settings, and fails on an artefact that lacks what it checks.
# shellcheck shell=bash disable=SC2034 # the steps that source this file use these
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# clang-tidy: the newest Debian packages, so that CI meets new checks before a
# user's newer system does.
tidy=clang-tidy-22
# The suite's size, written only here: every suite must run exactly this many,
# each within the README's timeout.
tests=40
timeout=60
# The other CPUs: GNU triple, Debian architecture, readelf's name for the
# machine, and how the release binary links there.
cpus=("aarch64-linux-gnu|arm64|AArch64|static" "s390x-linux-gnu|s390x|IBM S/390|dynamic"
    "i686-linux-gnu|i386|Intel 80386|static")
# What every translation unit is compiled with, on ELF also position-independent
# code (asked for: Debian's GCC makes it anyway), and what optimised ones add.
options=(-std=c++20 -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
pic="-fPIE|-fPIC"
hardening=(-fstack-protector-strong -fstack-clash-protection -D_FORTIFY_SOURCE=3)
# What the release binary is linked with: relocations read-only and bound at
# start-up, a non-executable stack, unused sections dropped, packed relocations.
linking=(-static-pie "-Wl,-z,relro,-z,now,-z,noexecstack,--gc-sections,-z,pack-relative-relocs")
# The README's run and test commands, which its first screen must give.
runCommand='cmake --workflow --preset release && ./build/release/clock12'
testCommand='cmake --workflow --preset check'

fail() {
    echo "ci: $*" >&2
    exit 1
}

# A scratch folder, removed when the script ends however it ends, with what
# atExit was given to do first.
scratch=$(mktemp -d)
cleanups=()
atExit() { cleanups+=("$1"); }
finish() {
    local status=$? cleanup
    for cleanup in "${cleanups[@]}"; do
        eval "$cleanup" || echo "ci: the clean-up '$cleanup' failed" >&2
    done
    # In .ci/run's own process, sourced steps included: did every step end?
    [[ ${runPid:-} != "$$" ]] || audit "$status" || status=1
    rm -rf "$scratch"
    exit "$status"
}
trap finish EXIT

# The end of a step: .ci/run fails unless each step it names got here.
passed() {
    local step=${BASH_SOURCE[1]##*/}
    echo "$step" >>"${CLOCK12_CI_LEDGER:-/dev/null}"
    echo "ci: step $step passed"
}

# Runs a command, shows its output and keeps it in $output; a warning fails it
# as an error does. The tree's path is no warning, whatever its folders are called.
strictly() {
    local status=0 warned
    output=$("$@" 2>&1) || status=$?
    echo "$output"
    warned=$(grep '[Ww]arning' <<<"${output//"$PWD"/}") || (($? == 1))
    ((status == 0)) || fail "'$*' failed with status $status"
    [[ -z $warned ]] || fail "'$*' warned: $warned"
}

# Every translation unit in BUILD's compile commands has each flag (A|B: either),
# and a -DNAME=VALUE flag is the last word about NAME.
checkUnits() {
    local build=$1 json command flag alternatives alternative found name
    shift
    json=$(jq -r '.[].command' "$build/compile_commands.json")
    [[ -n $json ]] || fail "$build compiles nothing"
    while IFS= read -r command; do
        command=" $command "
        for flag in "$@"; do
            IFS='|' read -ra alternatives <<<"$flag"
            found=
            for alternative in "${alternatives[@]}"; do
                [[ $command != *" $alternative "* ]] || found=$alternative
            done
            [[ -n $found ]] || fail "$build compiles without $flag:$command"
            name=${flag%%=*}
            [[ $flag != -D*=* || ${command##*" $flag "} != *"${name#-D}"* ]] ||
                fail "$build undoes $flag:$command"
        done
    done <<<"$json"
}

# BUILD/clock12 is a PIE for MACHINE (as readelf names it), linked LINKAGE
# (static: no program interpreter; or dynamic), with RELRO, BIND_NOW and a
# non-executable stack; the program's own objects call the stack protector and,
# on x86, carry the control-flow protection markers.
checkBinary() {
    local build=$1 machine=$2 linkage=$3 elf=$1/clock12 header segments dynamic root objects object
    header=$(readelf -hW "$elf")
    segments=$(readelf -lW "$elf")
    dynamic=$(readelf -dW "$elf")
    grep -q "Machine: *$machine\$" <<<"$header" || fail "$elf is not for $machine"
    grep -q 'Type: *DYN' <<<"$header" || fail "$elf is not position-independent"
    if [[ $linkage == static ]]; then
        ! grep -q '^ *INTERP ' <<<"$segments" || fail "$elf is not static"
    else
        grep -q '^ *INTERP ' <<<"$segments" || fail "$elf is not dynamic"
    fi
    grep -q '^ *GNU_RELRO ' <<<"$segments" || fail "$elf has no read-only relocations"
    grep -Eq '\(FLAGS\) .*BIND_NOW|\(FLAGS_1\) .* NOW' <<<"$dynamic" || fail "$elf binds lazily"
    grep -Eq '^ *GNU_STACK .* RW  ' <<<"$segments" || fail "$elf has an executable stack"
    # The program's objects: those of sources under src/ of the tree this build is of.
    root=$(sed -n 's/^clock12_SOURCE_DIR:STATIC=//p' "$build/CMakeCache.txt")
    objects=$(jq -r --arg src "$root/src/" '.[] | select(.file | startswith($src)) |
        .directory + "/" + (.command | capture(" -o (?<o>[^ ]+)").o)' "$build/compile_commands.json")
    [[ -n $objects ]] || fail "$build compiles none of the program"
    while IFS= read -r object; do
        grep -q ' UND __stack_chk_fail' <<<"$(readelf -sW "$object")" ||
            fail "$object has no stack protector"
        ! isX86 "$machine" || grep -q 'x86 feature: IBT, SHSTK' <<<"$(readelf -nW "$object")" ||
            fail "$object lacks the control-flow protection markers"
    done <<<"$objects"
    echo "$elf: $machine, $linkage PIE, RELRO, BIND_NOW, non-executable stack, stack protector"
}

# readelf's name for a machine is one of x86's, where -fcf-protection applies.
isX86() { [[ $1 == *X86-64 || $1 == "Intel 80386" ]]; }

# An ELF file without a symbol table, as an install with --strip leaves it.
checkStripped() {
    local sections
    sections=$(readelf -SW "$1")
    grep -q ' \.text ' <<<"$sections" || fail "$1 has no sections to look at"
    ! grep -q ' \.symtab ' <<<"$sections" || fail "$1 is not stripped"
}

# CTest's own listing of BUILD gives every test the README's timeout.
checkTimeouts() {
    local listing untimed
    listing=$(ctest --test-dir "$1" --show-only=json-v1)
    jq -e '.tests | length > 0' <<<"$listing" >/dev/null || fail "$1 lists no tests"
    untimed=$(jq -r --argjson limit "$timeout" '.tests[] |
        select(any(.properties[]?; .name == "TIMEOUT" and .value == $limit) | not) | .name' <<<"$listing")
    [[ -z $untimed ]] || fail "tests without the ${timeout}-second timeout in $1: $untimed"
}

# The man page PAGE carries the project's version and a release date in its header.
checkManHeader() {
    local page=$1 version=$2 header
    header=$(grep -m1 '^\.TH ' "$page") || fail "$page has no header"
    [[ $header =~ ^\.TH\ CLOCK12\ 1\ ([0-9]{4}-[0-9]{2}-[0-9]{2})\ \"clock12\ ([^\"]*)\" ]] &&
        [[ ${BASH_REMATCH[2]} == "$version" ]] && date -d "${BASH_REMATCH[1]}" >/dev/null ||
        fail "$page has no version $version and release date in its header: $header"
}

# A preset's suite from a fresh result file: its compile commands, every test
# run and passed, none skipped, each with the timeout, and run in parallel.
suite() {
    local preset=$1 build=$2 junit ran all started
    shift 2
    rm -f "$build/junit.xml"
    strictly cmake --workflow --preset "$preset"
    checkUnits "$build" "$@"
    junit=$(<"$build/junit.xml")
    ran=$(grep -c '<testcase .* status="run"' <<<"$junit") || (($? == 1))
    all=$(grep -c '<testcase ' <<<"$junit") || (($? == 1))
    ((ran == tests && all == tests)) || fail "$build ran $ran of $all tests; $tests expected"
    checkTimeouts "$build"
    # More than one test started before the first finished.
    started=$(awk '/^ *Start +[0-9]+:/ { n++ } / Test +#[0-9]+:/ { print n + 0; exit }' <<<"$output")
    ((${started:-0} > 1)) || fail "$build ran its tests one at a time"
    echo "$build: all $tests tests ran and passed in parallel, each with a ${timeout}-second timeout"
}
