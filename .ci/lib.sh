# Sourced by every CI step: strict mode, the project root, and the checks that
# the steps share. Each check reads what a build produced, not its settings.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# clang-tidy: the newest Debian packages, so that CI meets new checks before a
# user's newer system does.
tidy=clang-tidy-22
# The suite's size, written only here: every suite must run exactly this many,
# each within the README's timeout.
tests=38
timeout=60
# The other CPUs: GNU triple, Debian architecture, readelf's name for the
# machine, and how the release binary links there.
cpus=("aarch64-linux-gnu|arm64|AArch64|static" "s390x-linux-gnu|s390x|IBM S/390|dynamic"
    "i686-linux-gnu|i386|Intel 80386|static")
# What every translation unit is compiled with, and what optimised ones add.
options=(-std=c++20 -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
hardening=(-fstack-protector-strong -fstack-clash-protection -D_FORTIFY_SOURCE=3)
# What the release binary is linked with: relocations read-only and bound at
# start-up, a non-executable stack, unused sections dropped, packed relocations.
linking=(-static-pie -Wl,-z,relro,-z,now,-z,noexecstack,--gc-sections,-z,pack-relative-relocs)
# The README's run and test commands, which its first screen must give.
runCommand='cmake --workflow --preset release && ./build/release/clock12'
testCommand='cmake --workflow --preset check'

fail() {
    echo "ci: $*" >&2
    exit 1
}

# Runs a command, shows its output and keeps it in $output; a warning fails it
# as an error does. The tree's path is no warning, whatever its folders are called.
strictly() {
    local status=0 warned
    output=$("$@" 2>&1) || status=$?
    echo "$output"
    warned=$(grep '[Ww]arning' <<<"${output//"$PWD"/}" || true)
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

# The suite in BUILD ran every test, none skipped, disabled or failed, and
# CTest's own listing gives each test the README's timeout.
checkSuite() {
    local build=$1 junit ran all listing untimed
    junit=$(<"$build/junit.xml")
    ran=$(grep -c '<testcase .* status="run"' <<<"$junit" || true)
    all=$(grep -c '<testcase ' <<<"$junit" || true)
    ((ran == tests && all == tests)) || fail "$build ran $ran of $all tests; $tests expected"
    listing=$(ctest --test-dir "$build" --show-only=json-v1)
    untimed=$(jq -r --argjson limit "$timeout" '.tests[] |
        select(any(.properties[]?; .name == "TIMEOUT" and .value == $limit) | not) | .name' <<<"$listing")
    [[ -z $untimed ]] || fail "tests without the ${timeout}-second timeout in $build: $untimed"
    echo "$build: all $tests tests ran and passed, each with a ${timeout}-second timeout"
}

# CTest's report in $output shows the tests running at once: more than one
# started before the first finished.
checkParallel() {
    local started
    started=$(awk '/^ *Start +[0-9]+:/ { n++ } / Test +#[0-9]+:/ { print n + 0; exit }' <<<"$output")
    ((${started:-0} > 1)) || fail "$1 ran its tests one at a time"
}

# A preset's suite from a fresh result file, then its compile commands and run.
suite() {
    local preset=$1 build=$2
    shift 2
    rm -f "$build/junit.xml"
    strictly cmake --workflow --preset "$preset"
    checkUnits "$build" "$@"
    checkSuite "$build"
    checkParallel "$build"
}

# Writes each sample session of a document to DIR/session-N: its "$ command"
# line, then what the console shows. In Markdown a session is a console block;
# in a man page, an unfilled (.nf) block that starts with "$ ".
extractSessions() {
    local document=$1 dir=$2
    awk -v dir="$dir" '
        /^```console$/ || /^\.nf$/ { inside = 1; file = ""; next }
        /^```$/ || /^\.fi$/ { inside = 0; next }
        inside && file == "" && /^\$ / { file = dir "/session-" ++n }
        inside && file != "" { gsub(/\\-/, "-"); gsub(/\\e/, "\\"); print > file }
    ' "$document"
    compgen -G "$dir/session-*" >/dev/null || fail "$document shows no session"
}

# Replays the session in FILE, with its command run from the tree's root: a
# pipeline as it stands; a lone command as a person at a terminal has it, each
# line the session shows typed only once clock12 waits for it, and echoed where
# it was typed. The console must show exactly the session's bytes, and
# clock12 must end with status 0.
replaySession() {
    local LC_ALL=C file=$1 command expected screen status=0
    IFS= read -r command <"$file"
    command=${command#\$ }
    expected=$(tail -n +2 "$file"; echo .)
    expected=${expected%.}
    if [[ $command == *"|"* ]]; then
        screen=$(bash -c "$command" </dev/null && echo .) || status=$?
    else
        screen=$(typeSession "$command" "$expected" && echo .) || status=$?
    fi
    screen=${screen%.}
    ((status == 0)) || fail "'$command' of $file ended with status $status"
    [[ $screen == "$expected" ]] ||
        fail "'$command' of $file shows other than the session:"$'\n'"$screen"
}

# Runs COMMAND and types, each time it waits in a read of standard input, the
# rest of the line EXPECTED shows there; prints what the console would show.
typeSession() {
    local command=$1 expected=$2 out pid keys screen="" shown=0 base typed=0 line status=0
    # Adds to the screen what the program wrote since the last look, line ends kept.
    unread() {
        local written
        written=$(tail -c "+$((shown + 1))" "$out"; echo .)
        written=${written%.}
        shown=$((shown + ${#written}))
        screen+=$written
    }
    out=$(mktemp -u)
    mkfifo "$out.keys"
    $command <"$out.keys" >"$out" &
    pid=$!
    exec {keys}>"$out.keys"
    settle "$pid" 0
    base=$(sed -n 's/^rchar: //p' "/proc/$pid/io" 2>/dev/null) || true
    while :; do
        # All it wrote before it waits is in the file, as every write has returned.
        unread
        ! ended "$pid" || break
        [[ $expected == "$screen"* && ${#expected} -gt ${#screen} ]] || break
        line=${expected:${#screen}}
        line=${line%%$'\n'*}
        printf '%s\n' "$line" >&"$keys"
        screen+=$line$'\n'
        typed=$((typed + ${#line} + 1))
        settle "$pid" "$((${base:-0} + typed))"
    done
    exec {keys}>&-
    settle "$pid" -1
    wait "$pid" || status=$?
    unread
    rm -f "$out" "$out.keys"
    printf '%s' "$screen"
    return "$status"
}

# Until process PID has read READ bytes (-1: never) and sleeps in a read of
# standard input (its first argument descriptor 0), or has ended; ten seconds
# at most, or it is killed.
settle() {
    local pid=$1 read=$2 deadline=$((SECONDS + 10)) count
    while ((SECONDS < deadline)); do
        ! ended "$pid" || return 0
        # The count first: once it is reached, a read found asleep is a later one.
        # Each file may vanish as the process ends; the next round sees it ended.
        count=$(sed -n 's/^rchar: //p' "/proc/$pid/io" 2>/dev/null) || true
        if ((read >= 0 && ${count:-0} >= read)) &&
            [[ $(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null) == S ]] &&
            [[ $(cut -d' ' -f2 "/proc/$pid/syscall" 2>/dev/null) == 0x0 ]]; then
            return 0
        fi
        sleep 0.01
    done
    kill "$pid"
    fail "process $pid neither read its input nor ended"
}

# Process PID has ended: a zombie, or already reaped by the shell.
ended() {
    local state
    state=$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null) || true
    [[ -z $state || $state == Z ]]
}
