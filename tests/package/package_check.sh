#!/usr/bin/env bash
# A package as a user gets it: unpacked into a fresh folder, its programs run
# from there (a scenario it ships, a run log, a report of that log), its
# contents and papers checked against the sources; the deb's udev rule
# against the tool's device IDs, and its postinst run as dpkg would.
#   package_check.sh deb PACKAGE_DIR VERSION SOURCE_DIR TREE_PROGRAM...
#   package_check.sh zip PACKAGE_DIR VERSION SOURCE_DIR WINE_RUN TREE_PROGRAM...
# TREE_PROGRAMs are the build tree's own programs: a package older than any
# of them is stale, and a stale or missing package fails (scripts/package
# makes both before the test run).
set -uo pipefail
kind=$1 pkgdir=$2 version=$3 src=$4
shift 4
wine_run=""
if [ "$kind" = zip ]; then
    wine_run=$1
    shift
fi
work=$(mktemp -d "/tmp/brisk-package-$kind.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*"
    for f in "$work"/*.out "$work"/*.err; do
        [ -s "$f" ] && { echo "--- $(basename "$f")"; cat "$f"; }
    done
    exit 1
}

case $kind in
deb) pkg=$pkgdir/brisk_${version}_amd64.deb ;;
zip) pkg=$pkgdir/brisk-${version}-windows-x64.zip ;;
*) fail "unknown kind $kind" ;;
esac
[ -f "$pkg" ] || fail "$pkg is missing: scripts/package makes it"
for program in "$@"; do
    [ "$pkg" -nt "$program" ] || fail "$pkg is older than $program: run scripts/package again"
done

# The files a package must hold, and nothing else, below its root.
expected_files() { # BIN_DIR EXE_SUFFIX SCENARIO_DIR DOC_FILES...
    local bin=$1 exe=$2 scenarios=$3
    shift 3
    for p in brisk brisk-sim brisk-report; do echo "$bin/$p$exe"; done
    (cd "$src/scenarios" && find . -type f | sed "s|^\./|$scenarios/|")
    printf '%s\n' "$@"
}
same_list() { # WHAT EXPECTED ACTUAL
    diff <(sort <<<"$2") <(sort <<<"$3") >"$work/list.out" || fail "$1 differ (< expected, > found)"
    rm -f "$work/list.out"
}

# Runs the three programs from ROOT as a user would: --version of each, then
# brisk-sim on the demo scenario for 3 s with a run log, then brisk-report on
# that log. PREFIX is empty natively and the Wine wrapper for .exe files.
run_programs() { # ROOT BIN_DIR EXE_SUFFIX SCENARIO_DIR PREFIX...
    local root=$1 bin=$2 exe=$3 scenarios=$4
    shift 4
    local run=("$@")
    cd "$root" || fail "cannot enter $root"
    for p in brisk brisk-sim brisk-report; do
        out=$(${run[@]+"${run[@]}"} "$bin/$p$exe" --version 2>&1 | tr -d '\r')
        [ "$out" = "$p $version" ] || fail "$p --version printed '$out', not '$p $version'"
    done
    code=0
    ${run[@]+"${run[@]}"} "$bin/brisk-sim$exe" --scenario "$scenarios/demo.txt" -- --log run.csv 3 \
        >"$work/sim.out" 2>"$work/sim.err" || code=$?
    sed -i 's/\r$//' "$work/sim.out" "$work/sim.err"
    [ "$code" -eq 0 ] || fail "brisk-sim on the shipped demo scenario: exit code $code"
    for line in 'prox: headset DONNED (distance 1700)' 'VERDICT: PASS (eyeball check still required)'; do
        grep -qxF "$line" "$work/sim.out" || fail "brisk-sim printed no '$line'"
    done
    grep -q '^PRESENT RESULT: [1-9][0-9]* frames' "$work/sim.out" || fail "brisk-sim presented no frames"
    tail -n 1 run.csv | grep -q ',summary,.*,PASS,0,' || fail "run.csv does not end with a PASS summary"
    code=0
    ${run[@]+"${run[@]}"} "$bin/brisk-report$exe" run.csv -o run.html \
        >"$work/report.out" 2>"$work/report.err" || code=$?
    [ "$code" -eq 0 ] || fail "brisk-report on the run log: exit code $code"
    for text in PASS LHR-5A1B2C3D '<svg'; do
        grep -qF "$text" run.html || fail "run.html lacks '$text' (the verdict, the IMU serial, the charts)"
    done
    rm -f "$work"/*.out "$work"/*.err
}

# The udev rule as udev reads it: each rule a comma-separated list of
# KEY[{ATTR}] OP "VALUE" items. Each must match hidraw nodes by their USB
# parent's IDs (ATTRS, lower-case hex as sysfs spells them; ATTR would look
# at the node alone and never match) and tag them for the user at the seat,
# and together they must name exactly the devices in the tool's table of
# IDs. The file must sort before 73-seat-late.rules, which acts on the tag.
check_udev_rule() { # RULE_FILE
    local rule=$1 name
    name=$(basename "$rule")
    if ! [[ "$name" =~ ^([0-9]+)-.*\.rules$ ]] || [ "${BASH_REMATCH[1]}" -ge 73 ]; then
        fail "$name does not sort before 73-seat-late.rules"
    fi
    local table
    table=$(find "$src/src" -name headset_usb.h | head -n 1)
    [ -n "$table" ] || fail "no headset_usb.h under $src/src"
    local expected
    expected=$(sed -nE 's/.*constexpr uint16_t k([A-Za-z]+)(Vendor|Product)Id = 0x([0-9A-Fa-f]{4});.*/\1 \2 \3/p' "$table" |
        awk '{id[$1 "," $2] = tolower($3); device[$1] = 1}
             END {for (d in device) print id[d ",Vendor"] ":" id[d ",Product"]}' | sort)
    [ "$(wc -l <<<"$expected")" -ge 2 ] || fail "no vendor and product IDs read from $table"

    local line number=0 matched=()
    local item='^([A-Z]+)(\{[A-Za-z_]+\})?(==|!=|=|\+=|-=|:=)"([^"]*)"$'
    while IFS= read -r line || [ -n "$line" ]; do
        number=$((number + 1))
        [[ "$line" =~ ^[[:space:]]*(#|$) ]] && continue
        local -A got=()
        local part parts
        IFS=',' read -ra parts <<<"$line"
        for part in "${parts[@]}"; do
            part=$(sed -E 's/^[[:space:]]+|[[:space:]]+$//g' <<<"$part")
            [[ "$part" =~ $item ]] || fail "$name:$number: '$part' is no KEY OP \"VALUE\" item"
            got["${BASH_REMATCH[1]}${BASH_REMATCH[2]}${BASH_REMATCH[3]}"]=${BASH_REMATCH[4]}
        done
        [ "${#got[@]}" -eq 4 ] || fail "$name:$number: ${#got[@]} items, not 4"
        [ "${got[SUBSYSTEM==]-}" = hidraw ] || fail "$name:$number: does not match SUBSYSTEM==\"hidraw\""
        [ "${got[TAG+=]-}" = uaccess ] || fail "$name:$number: does not add TAG+=\"uaccess\""
        local vendor=${got['ATTRS{idVendor}==']-} product=${got['ATTRS{idProduct}==']-}
        [[ "$vendor" =~ ^[0-9a-f]{4}$ && "$product" =~ ^[0-9a-f]{4}$ ]] ||
            fail "$name:$number: no ATTRS{idVendor}== and ATTRS{idProduct}== in sysfs' spelling"
        matched+=("$vendor:$product")
        unset got
    done <"$rule"
    same_list "the devices the udev rule matches" "$expected" "$(printf '%s\n' "${matched[@]}" | sort)"
}

# The package's postinst as dpkg runs it, against a udevadm of the test's
# that records its arguments: it replays the hidraw devices on "configure"
# when udev runs (/run/udev), and otherwise does nothing; a failing or
# missing udevadm never fails the install, and it prints nothing. The udev
# state comes from a tmpfs over /run in a mount namespace of the test's own;
# where none can be made, only the cases of this system's own state are run.
check_postinst() { # CONTROL_DIR
    local postinst=$1/postinst
    [ -f "$postinst" ] || fail "the deb has no postinst"
    [ "$(stat -c %a "$postinst")" = 755 ] || fail "postinst is mode $(stat -c %a "$postinst"), not 755"
    [ "$(head -n 1 "$postinst")" = "#!/bin/sh" ] || fail "postinst does not start with #!/bin/sh"
    sh -n "$postinst" || fail "postinst does not parse"
    cmp -s "$postinst" "$src/packaging/debian/postinst" || fail "postinst is not packaging/debian's"

    mkdir -p "$work/fakebin" "$work/nobin"
    cat >"$work/fakebin/udevadm" <<'FAKE'
#!/bin/sh
echo "$*" >>"$BRISK_FAKE_UDEVADM_LOG"
exit "${BRISK_FAKE_UDEVADM_EXIT:-0}"
FAKE
    chmod 755 "$work/fakebin/udevadm"
    local own_ns=yes this_udev=no
    unshare --mount --map-root-user true 2>/dev/null || own_ns=no
    [ -d /run/udev ] && this_udev=yes
    [ "$own_ns" = yes ] || echo "note: no mount namespace here; postinst runs with /run/udev as it is ($this_udev)"

    local trigger="trigger --subsystem-match=hidraw --action=change"
    local ran=0 case
    # ARGUMENT  UDEV-RUNNING  UDEVADM   CALL-EXPECTED
    while read -r -a case; do
        local arg=${case[0]} udev=${case[1]} udevadm=${case[2]} want=${case[3]}
        [ "$own_ns" = yes ] || [ "$udev" = "$this_udev" ] || continue
        local log=$work/udevadm.log path=$work/fakebin exit=0 code=0
        rm -f "$log"
        [ "$udevadm" = missing ] && path=$work/nobin
        [ "$udevadm" = fails ] && exit=1
        local run=(env "PATH=$path" "BRISK_FAKE_UDEVADM_LOG=$log" "BRISK_FAKE_UDEVADM_EXIT=$exit"
                   /bin/sh "$postinst" "$arg")
        if [ "$own_ns" = yes ]; then
            # shellcheck disable=SC2016 # the inner shell expands them
            unshare --mount --map-root-user /bin/sh -c \
                'mount -t tmpfs brisk-run /run && if [ "$1" = yes ]; then mkdir /run/udev; fi && shift && exec "$@"' \
                sh "$udev" "${run[@]}" >"$work/postinst.out" 2>&1 || code=$?
        else
            "${run[@]}" >"$work/postinst.out" 2>&1 || code=$?
        fi
        local what="postinst $arg (udev running: $udev, udevadm $udevadm)"
        [ "$code" -eq 0 ] || fail "$what: exit code $code"
        [ ! -s "$work/postinst.out" ] || fail "$what: printed something (postinst.out below)"
        if [ "$want" = call ]; then
            [ "$(cat "$log" 2>/dev/null)" = "$trigger" ] || fail "$what: udevadm got '$(cat "$log" 2>/dev/null)', not '$trigger'"
        else
            [ ! -e "$log" ] || fail "$what: udevadm was called: '$(cat "$log")'"
        fi
        ran=$((ran + 1))
    done <<'CASES'
configure     yes  works    call
configure     yes  fails    call
configure     yes  missing  none
configure     no   works    none
abort-upgrade yes  works    none
CASES
    [ "$ran" -gt 0 ] || fail "no postinst case could run"
    rm -f "$work/postinst.out" "$work/udevadm.log"
}

check_deb() {
    dpkg-deb -I "$pkg" >"$work/info.out" || fail "dpkg-deb -I cannot read $pkg"
    field() { dpkg-deb -f "$pkg" "$1"; }
    [ "$(field Package)" = brisk ] || fail "Package is '$(field Package)'"
    [ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
    [ "$(field Architecture)" = amd64 ] || fail "Architecture is '$(field Architecture)'"
    [[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)'"
    [ "$(field Description | wc -l)" -gt 3 ] || fail "Description has no extended part"
    depends=$(field Depends)
    # True when Depends names PACKAGE with a version (dpkg-shlibdeps always gives one).
    depends_on() { [[ ", $depends" == *", $1 ("* ]]; }
    for dep in libc6 libstdc++6 libudev1 zlib1g; do
        depends_on "$dep" || fail "Depends lacks a versioned $dep: '$depends'"
    done

    same_list "the deb's files" \
        "$(expected_files usr/bin "" usr/share/brisk/scenarios usr/lib/udev/rules.d/70-brisk-headset.rules \
            usr/share/doc/brisk/README.md usr/share/doc/brisk/copyright usr/share/doc/brisk/changelog.gz \
            usr/share/doc/brisk/summary.schema.json \
            usr/share/man/man1/brisk.1.gz usr/share/man/man1/brisk-sim.1.gz \
            usr/share/man/man1/brisk-report.1.gz)" \
        "$(dpkg-deb -c "$pkg" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}')"
    dpkg-deb -c "$pkg" | awk '$2 != "root/root" {print; bad = 1} END {exit bad}' >"$work/owner.out" ||
        fail "files not owned by root"

    dpkg-deb -x "$pkg" "$work/root" || fail "dpkg-deb -x failed"
    cmp -s "$work/root/usr/lib/udev/rules.d/70-brisk-headset.rules" "$src/packaging/udev/70-brisk-headset.rules" ||
        fail "the udev rule is not packaging/udev's"
    check_udev_rule "$work/root/usr/lib/udev/rules.d/70-brisk-headset.rules"
    dpkg-deb -e "$pkg" "$work/control" || fail "dpkg-deb -e failed"
    check_postinst "$work/control"
    # The changelog signs off with the Maintainer the control file names.
    signoff=$(zcat "$work/root/usr/share/doc/brisk/changelog.gz" | sed -n 's/^ -- \(.*>\)  .*/\1/p' | head -n 1)
    [ "$signoff" = "$(field Maintainer)" ] ||
        fail "the changelog is signed off by '$signoff', not the Maintainer '$(field Maintainer)'"
    cmp -s "$work/root/usr/share/doc/brisk/copyright" "$src/packaging/debian/copyright" ||
        fail "the copyright file is not packaging/debian's"
    for p in brisk brisk-sim brisk-report; do
        [ -x "$work/root/usr/bin/$p" ] || fail "usr/bin/$p is not executable"
        ! readelf -S "$work/root/usr/bin/$p" | grep -qE '\.(symtab|debug_info)' || fail "usr/bin/$p is not stripped"
        # Each library the program needs comes from a package it depends on.
        for lib in $(readelf -d "$work/root/usr/bin/$p" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            owner=$(dpkg -S "*/x86_64-linux-gnu/$lib" 2>/dev/null | head -n 1 | cut -d: -f1)
            depends_on "$owner" || fail "usr/bin/$p needs $lib from '$owner', not in Depends"
        done
    done

    lintian --fail-on error "$pkg" >"$work/lintian.out" 2>"$work/lintian.err" || fail "lintian reports errors"
    grep '^[EW]:' "$work/lintian.out"  # warnings stay, but show in the test's log
    rm -f "$work/lintian.out" "$work/lintian.err" "$work/info.out" "$work/owner.out"

    run_programs "$work/root" usr/bin "" usr/share/brisk/scenarios
}

check_zip() {
    top=brisk-$version-windows-x64
    same_list "the zip's files" \
        "$(expected_files "$top" .exe "$top/scenarios" "$top/README.md" "$top/LICENSE" "$top/NOTICES.md" \
            "$top/summary.schema.json")" \
        "$(unzip -Z1 "$pkg" | grep -v '/$')"
    unzip -q "$pkg" -d "$work/root" || fail "unzip failed"
    for f in LICENSE NOTICES.md README.md; do
        cmp -s "$work/root/$top/$f" "$src/$f" || fail "$f in the zip is not the source's"
    done
    run_programs "$work/root/$top" . .exe scenarios "$wine_run"
}

"check_$kind"
echo "PASS: $pkg"
