# Sourced by every CI step: strict mode, the project root, and the checks that
# the steps share. Each check reads what a build produced, not its settings.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# clang-tidy: the newest Debian packages, so that CI meets new checks before a
# user's newer system does.
tidy=clang-tidy-22
# The suite's size, written only here: every suite must run exactly this many.
tests=38
# The other CPUs: GNU triple, Debian architecture, readelf's name for the
# machine, and how the release binary links there.
cpus=("aarch64-linux-gnu|arm64|AArch64|static" "s390x-linux-gnu|s390x|IBM S/390|dynamic"
    "i686-linux-gnu|i386|Intel 80386|static")
# What every translation unit is compiled with, and what optimised ones add.
options=(-std=c++20 -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
hardening=(-fstack-protector-strong -fstack-clash-protection -D_FORTIFY_SOURCE=3)

fail() {
    echo "ci: $*" >&2
    exit 1
}

# Runs a command and shows its output; a warning fails it as an error does.
strictly() {
    local log status=0 warned
    log=$(mktemp)
    "$@" >"$log" 2>&1 || status=$?
    cat "$log"
    warned=$(grep '[Ww]arning' "$log" || true)
    rm -f "$log"
    ((status == 0)) || fail "'$*' failed with status $status"
    [[ -z $warned ]] || fail "'$*' warned: $warned"
}

# Every translation unit in BUILD's compile commands has each flag, and a
# -DNAME=VALUE flag is the last word about NAME.
checkUnits() {
    local build=$1 json command flag name
    shift
    json=$(jq -r '.[].command' "$build/compile_commands.json")
    [[ -n $json ]] || fail "$build compiles nothing"
    while IFS= read -r command; do
        command=" $command "
        for flag in "$@"; do
            [[ $command == *" $flag "* ]] || fail "$build compiles without $flag:$command"
            name=${flag%%=*}
            [[ $flag != -D*=* || ${command##*" $flag "} != *"${name#-D}"* ]] ||
                fail "$build undoes $flag:$command"
        done
    done <<<"$json"
}

# BUILD/clock12 is a PIE for MACHINE (as readelf names it), linked LINKAGE
# (static: no program interpreter; or dynamic), with RELRO, BIND_NOW and a
# non-executable stack; the program's own objects call the stack protector and,
# on x86-64, carry the control-flow protection markers.
checkBinary() {
    local build=$1 machine=$2 linkage=$3 elf=$1/clock12 header segments dynamic objects object
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
    objects=$(jq -r '.[] | select(.file | test("/src/")) |
        .directory + "/" + (.command | capture(" -o (?<o>[^ ]+)").o)' "$build/compile_commands.json")
    [[ -n $objects ]] || fail "$build compiles none of the program"
    while IFS= read -r object; do
        grep -q ' UND __stack_chk_fail' <<<"$(readelf -sW "$object")" ||
            fail "$object has no stack protector"
        [[ $machine != *X86-64 ]] || grep -q 'x86 feature: IBT, SHSTK' <<<"$(readelf -nW "$object")" ||
            fail "$object lacks the control-flow protection markers"
    done <<<"$objects"
    echo "$elf: $machine, $linkage PIE, RELRO, BIND_NOW, non-executable stack, stack protector"
}

# The suite in BUILD ran every test, none skipped, disabled or failed, and
# CTest's own listing gives each test a timeout.
checkSuite() {
    local build=$1 junit ran all listing untimed
    junit=$(<"$build/junit.xml")
    ran=$(grep -c '<testcase .* status="run"' <<<"$junit" || true)
    all=$(grep -c '<testcase ' <<<"$junit" || true)
    ((ran == tests && all == tests)) || fail "$build ran $ran of $all tests; $tests expected"
    listing=$(ctest --test-dir "$build" --show-only=json-v1)
    untimed=$(jq -r '.tests[] |
        select(any(.properties[]?; .name == "TIMEOUT" and .value > 0) | not) | .name' <<<"$listing")
    [[ -z $untimed ]] || fail "tests without a timeout in $build: $untimed"
    echo "$build: all $tests tests ran and passed, each with a timeout"
}

# A preset's suite from a fresh result file, then its compile commands and run.
suite() {
    local preset=$1 build=$2
    shift 2
    rm -f "$build/junit.xml"
    strictly cmake --workflow --preset "$preset"
    checkUnits "$build" "$@"
    checkSuite "$build"
}
