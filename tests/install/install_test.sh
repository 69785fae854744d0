#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed tree.
#
#   install_test.sh tree|panel|kit <build dir> <panel driver library>
#
#   tree   the installed files are exactly the expected ones, the simulator's
#          packaged-default entry names the installed library, and no
#          installed binary looks into the build folder for libraries
#   panel  the installed Testing, started with XDG_DATA_DIRS at the prefix's
#          share folder, answers Connect with "Connect OK" through the
#          installed simulator; with nothing registered, the failure names the
#          places searched and the registration command
#   kit    the example server is built against the installed kit alone (CMake
#          package and pkg-config), registered with the installed
#          monvia-register for the user, and created by the installed Testing
#          in preference to the simulator
set -euo pipefail

case_name=$1
build=$2
driver=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/monvia-install-XXXXXX")
trap 'rm -rf -- "$work"' EXIT
prefix=$work/prefix

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "cmake --install"; }
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
simulator=$prefix/$libdir/monvia/libcashdevice_sim.so
entry="$prefix/share/monvia/classes/{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}.class"

# Runs the installed Testing offscreen with a clean registry environment:
# the user's and the administrator's folders are empty ones of the test's.
run_panel() {  # <XDG_DATA_DIRS> <buttons> <output file>
    mkdir -p "$work/home" "$work/etc"
    local rc=0
    env -u MONVIA_CLASS_REGISTRY -u XDG_CONFIG_HOME -u XDG_RUNTIME_DIR HOME="$work/home" XDG_CONFIG_DIRS="$work/etc" \
        XDG_DATA_DIRS="$1" QT_QPA_PLATFORM=offscreen LD_PRELOAD="$driver" MONVIA_DRIVER_PRESS="$2" \
        "$prefix/bin/Testing" >"$3" 2>"$3.err" || rc=$?
    echo "$rc"
}

expect_line() {  # <file> <exact line>
    grep -qxF -- "$2" "$1" || { echo "--- $1:" >&2; cat "$1" >&2; fail "no line \"$2\""; }
}

case $case_name in
tree)
    actual=$(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
    expected=$(
        {
            printf '%s\n' bin/Testing bin/VeluntTest bin/monvia-register bin/monvia-ticket-service bin/monvia-journal
            echo "$libdir/monvia/libcashdevice_sim.so"
            echo "$libdir/monvia/libmonvia_journal.so"
            echo "share/monvia/classes/{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}.class"
            for h in bstr cash_device class_factory com_ptr elevation error_info no_late_binding server types; do echo "include/monvia/component/$h.h"; done
            echo "$libdir/libmonvia_component.a"
            echo "$libdir/pkgconfig/monvia-component.pc"
            for f in MonviaComponentConfig MonviaComponentConfigVersion MonviaComponentTargets; do
                echo "$libdir/cmake/MonviaComponent/$f.cmake"
            done
            (cd "$prefix" && ls "$libdir"/cmake/MonviaComponent/MonviaComponentTargets-*.cmake)
            for app in Testing VeluntTest; do
                echo "share/applications/org.monvia.$app.desktop"
                echo "share/metainfo/org.monvia.$app.metainfo.xml"
                echo "share/icons/hicolor/scalable/apps/org.monvia.$app.svg"
                for s in 16 24 32 48 64 128 256; do echo "share/icons/hicolor/${s}x$s/apps/org.monvia.$app.png"; done
                echo "share/man/man1/$app.1.gz"
            done
            echo "share/applications/org.monvia.TicketService.desktop"
            printf 'share/man/man1/%s.1.gz\n' monvia-register monvia-ticket-service monvia-journal
            for p in monvia-testing monvia-velunttest monvia-component-dev; do
                printf "share/doc/$p/%s\n" copyright changelog.Debian.gz
                echo "share/lintian/overrides/$p"
            done
            printf 'share/doc/monvia-testing/%s\n' README.md cash-device-simulator.md
            printf 'share/doc/monvia-velunttest/%s\n' README.md ticket-service.md
            printf 'share/doc/monvia-component-dev/%s\n' README.md example/CMakeLists.txt example/example_server.cpp
            # The contract as IDL, and as a type library where the build had widl.
            echo "share/monvia-component/cash_device.idl"
            if [ -f "$build/kit/idl/cash_device.tlb" ]; then echo "share/monvia-component/cash_device.tlb"; fi
        } | sort
    )
    diff <(echo "$expected") <(echo "$actual") || fail "the installed files differ from the expected ones (< expected, > installed)"

    [[ $(cat "$entry") == "library=$simulator" ]] || fail "the entry says \"$(cat "$entry")\", not library=$simulator"
    grep -qx "prefix=$prefix" "$prefix/$libdir/pkgconfig/monvia-component.pc" || fail "the pkg-config file names another prefix"
    for f in "$prefix"/bin/* "$simulator"; do
        if readelf -d "$f" | grep -E 'RPATH|RUNPATH' | grep -qF "$build"; then fail "$f looks for libraries in the build folder"; fi
    done
    # The installed registration command finds the installed entry.
    XDG_DATA_DIRS=$prefix/share XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/etc \
        env -u MONVIA_CLASS_REGISTRY "$prefix/bin/monvia-register" --list >"$work/list"
    expect_line "$work/list" "  {3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}  $simulator  (library present)"
    # The installed journal command puts the installed journal in front of
    # the installed simulator, and takes it away again.
    journal_env=(env -u MONVIA_CLASS_REGISTRY XDG_DATA_DIRS="$prefix/share" XDG_CONFIG_HOME="$work/config"
        XDG_CONFIG_DIRS="$work/etc" XDG_STATE_HOME="$work/state")
    "${journal_env[@]}" "$prefix/bin/monvia-journal" on >"$work/journal.out" || fail "monvia-journal on failed"
    grep -qxF "library=$prefix/$libdir/monvia/libmonvia_journal.so" "$work/config/monvia/classes/"*.class ||
        fail "monvia-journal on did not register the installed journal"
    "${journal_env[@]}" "$prefix/bin/monvia-journal" off >"$work/journal.out" || fail "monvia-journal off failed"
    [[ -z $(ls -A "$work/config/monvia/classes") ]] || fail "monvia-journal off left an entry behind"
    ;;

panel)
    rc=$(run_panel "$prefix/share" Connect "$work/out")
    expect_line "$work/out" "box: Connect OK"
    [[ $rc == 0 ]] || fail "Testing ended with $rc"
    # Started as root with no runtime directory, it says nothing about one.
    if [[ $(id -u) == 0 ]] && grep -F XDG_RUNTIME_DIR "$work/out.err"; then fail "a runtime-directory warning"; fi
    # Not registered anywhere: the failure report says where it looked and how to register.
    rc=$(run_panel "$work/nowhere" Connect "$work/out")
    grep -F "Class not registered" "$work/out" | grep -F "$work/home/.config/monvia/classes, $work/etc/monvia/classes, $work/nowhere/monvia/classes" |
        grep -qF "monvia-register /" || { cat "$work/out" >&2; fail "the not-registered report lacks the places or the command"; }
    [[ $rc != 0 ]] || fail "Testing ended with 0 after an unhandled failure"
    ;;

kit)
    example=$prefix/share/doc/monvia-component-dev/example
    # CMake: only the installed kit is to be found.
    cmake -S "$example" -B "$work/example" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >"$work/cmake.log" 2>&1 ||
        { cat "$work/cmake.log" >&2; fail "configuring the example"; }
    cmake --build "$work/example" >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; fail "building the example"; }
    server=$work/example/libexample_cash_device.so
    [[ -f $server ]] || fail "no $server"
    exported=$(nm -D --defined-only "$server" | awk '{print $3}' | sort | tr '\n' ' ')
    [[ $exported == "MonviaCreateInstance MonviaListClasses " ]] || fail "the example exports $exported"
    # pkg-config, the same source.
    flags=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs monvia-component)
    # shellcheck disable=SC2086
    g++ -shared -fPIC -fvisibility=hidden -fvisibility-inlines-hidden -o "$work/libexample_pc.so" "$example/example_server.cpp" $flags \
        -Wl,--exclude-libs,ALL -Wl,--no-undefined || fail "building the example with pkg-config"
    exported=$(nm -D --defined-only "$work/libexample_pc.so" | awk '{print $3}' | sort | tr '\n' ' ')
    [[ $exported == "MonviaCreateInstance MonviaListClasses " ]] || fail "the pkg-config build exports $exported"

    # Registered for the user with the installed command; the simulator stays
    # among the packaged defaults, and the user's entry wins.
    mkdir -p "$work/home"
    env -u MONVIA_CLASS_REGISTRY -u XDG_CONFIG_HOME HOME="$work/home" XDG_CONFIG_DIRS="$work/etc" \
        "$prefix/bin/monvia-register" --user "$server" >"$work/register.out"
    expect_line "$work/register.out" \
        "registered {3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91} -> $server in $work/home/.config/monvia/classes"
    run_panel "$prefix/share" Connect,GetAmounts "$work/out" >/dev/null
    expect_line "$work/out" "box: Connect OK"
    grep -F "box: GetAmounts NOK" "$work/out" | grep -qF "the example server has no device behind it" ||
        { cat "$work/out" >&2; fail "GetAmounts was not answered by the example server"; }
    ;;

*) fail "unknown case $case_name" ;;
esac
echo "install $case_name: ok"
