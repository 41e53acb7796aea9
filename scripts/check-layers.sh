#!/usr/bin/env bash
# The layers of src/ are CMake targets (src/CMakeLists.txt): a file sees the
# headers of the layers its target links and no others, so an upward include
# does not compile. This checks that it stays so, and what the compiler
# cannot see; non-zero on any breach:
#   - with a build folder (default build/, configured): files that include a
#     header of a layer above them or beside them, compiled with the real
#     flags of their target, fail; the same files including a header of a
#     layer below them compile;
#   - no include walks around the include roots: none spelled with "../",
#     none found beside the including file instead of through its target
#     (the composition roots, which see everything, aside);
#   - POSIX, Linux and Windows headers appear only in the back ends
#     (platform/qt, platform/linux, platform/win32) and the composition roots;
#     Qt is on no core target's include path at all;
#   - with mingw-w64 installed, every seam header compiles in one translation
#     unit with <winsock2.h>, <windows.h> and <wininet.h>, before and after them.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
status=0
breach() { echo "layering: $1"; status=1; }

is_root() { [[ $1 == src/main.cpp || $1 == src/platform/*/*_platform.cpp || $1 == src/platform/*/*_main.cpp ]]; }

system_header='^#[[:space:]]*include[[:space:]]*<(unistd\.h|fcntl\.h|poll\.h|dirent\.h|dlfcn\.h|pthread\.h|spawn\.h|signal\.h|termios\.h|pwd\.h|grp\.h|netdb\.h|ifaddrs\.h|sys/[^>]*|net/[^>]*|netinet/[^>]*|arpa/[^>]*|linux/[^>]*|windows\.h|winsock2\.h|ws2tcpip\.h|wininet\.h|ras\.h|raserror\.h|shellapi\.h|shlobj\.h|commctrl\.h|winreg\.h|windowsx\.h|winuser\.h|winbase\.h|io\.h|direct\.h)>'

# Includes around the include roots, everywhere.
while IFS= read -r hit; do
    breach "$hit: an include spelled with ../ walks around the include roots"
done < <(grep -rnE '^#[[:space:]]*include[[:space:]]*[<"][^">]*\.\./' src tests fuzz bench tools --include='*.h' --include='*.cpp')
while IFS= read -r file; do
    is_root "$file" && continue
    case "$file" in
        src/platform/qt/* | src/platform/linux/* | src/platform/win32/*) ;;
        *) while IFS= read -r hit; do
               breach "$file:$hit: a system header outside the back ends"
           done < <(grep -nE "$system_header" "$file") ;;
    esac
    while IFS= read -r inc; do
        [[ -e $(dirname "$file")/$inc ]] && breach "$file includes \"$inc\", found beside it, not through its target"
    done < <(sed -nE 's/^#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
done < <(find src -name '*.h' -o -name '*.cpp' | sort)

# The target graph, proved by the compiler: a file of each layer includes a
# header from above or beside it (must fail) and one from below (must compile).
#   layer's file                  header                        compiles
probes=(
    "src/common/text.cpp          run/run_sync.h                no"
    "src/common/text.cpp          platform/clock.h              yes"
    "src/platform/instant.cpp     common/text.h                 no"
    "src/app/app.cpp              log/log.h                     no"
    "src/log/log.cpp              connection/dun_library.h      no"
    "src/log/log.cpp              app/app.h                     yes"
    "src/connection/dun_library.cpp settings/settings.h         no"
    "src/about/about_dialog.cpp   status/status_window.h        no"
    "src/status/countdown.cpp     timesource/clock_correction.h no"
    "src/timesource/time_zone.cpp run/run_sync.h                no"
    "src/timesource/time_zone.cpp status/countdown.h            yes"
    "src/run/run_sync.cpp         platform/headless/headless_windows.h no"
    "src/run/run_sync.cpp         timesource/time_zone.h        yes"
)
[[ -f /usr/include/x86_64-linux-gnu/qt6/QtCore/QString || -f /usr/include/qt6/QtCore/QString ]] &&
    probes+=("src/common/text.cpp QString no" "src/platform/qt/qt_shell.cpp QString yes"
             "src/platform/qt/qt_shell.cpp app/app.h no" "src/platform/linux/linux_clock.cpp platform/qt/qt_text.h no")
commands=$build/compile_commands.json
if [[ ! -f $commands ]]; then
    breach "no $commands: configure a build first (bash scripts/build.sh)"
else
    tmp=$(mktemp -d)
    for probe in "${probes[@]}"; do
        read -r file header expected <<<"$probe"
        command=$(python3 - "$commands" "$PWD/$file" "$tmp/probe.cpp" <<'PY'
import json, shlex, sys
commands, source, probe = sys.argv[1:]
for entry in json.load(open(commands)):
    if entry["file"] == source:
        words = shlex.split(entry["command"]) if "command" in entry else entry["arguments"]
        out, skip = [], False
        for w in words:
            if skip:
                skip = False
            elif w in ("-o", "-MF", "-MT", "-MQ"):
                skip = True
            elif w not in ("-c", "-MD", "-MMD", source):
                out.append(w)
        print(entry["directory"])
        print(shlex.join(out + ["-fsyntax-only", probe]))
        break
PY
)
        directory=${command%%$'\n'*}
        command=${command#*$'\n'}
        if [[ -z $command ]]; then
            breach "$file is not in $commands"
            continue
        fi
        if [[ $header == Q* ]]; then
            printf '#include <%s>\n' "$header" >"$tmp/probe.cpp"
        else
            printf '#include "%s"\n' "$header" >"$tmp/probe.cpp"
        fi
        # Refused means not found on the include path, not any other error.
        if (cd "$directory" && eval "$command") >"$tmp/out" 2>&1; then
            got=yes
        elif grep -q "$header: No such file or directory" "$tmp/out"; then
            got=no
        else
            got=error
        fi
        if [[ $got != "$expected" ]]; then
            breach "a file beside $file that includes $header: compiles=$got, expected $expected"
            sed 's/^/    /' "$tmp/out" | head -5
        fi
    done
    rm -rf "$tmp"
fi

# The seam beside the Windows headers, in both orders.
for cxx in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix; do
    command -v "$cxx" >/dev/null || continue
    tmp=$(mktemp -d)
    mkdir "$tmp/include"
    ln -s "$PWD/src/platform" "$tmp/include/platform"
    for order in windows-first seam-first; do
        {
            [[ $order == windows-first ]] && printf '#include <winsock2.h>\n#include <windows.h>\n#include <wininet.h>\n'
            for h in src/platform/*.h; do printf '#include "%s"\n' "${h#src/}"; done
            [[ $order == seam-first ]] && printf '#include <winsock2.h>\n#include <windows.h>\n#include <wininet.h>\n'
            printf 'int main() { return 0; }\n'
        } >"$tmp/seam.cpp"
        "$cxx" -std=c++20 -Wall -Wextra -Wpedantic -Werror -I"$tmp/include" -fsyntax-only "$tmp/seam.cpp" ||
            breach "the seam headers do not compile beside the Windows headers ($cxx, $order)"
    done
    rm -rf "$tmp"
done

if [ "$status" -eq 0 ]; then echo "layering: every include stays on its floor, and the compiler refuses the others"; fi
exit "$status"
