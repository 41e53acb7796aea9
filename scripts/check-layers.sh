#!/usr/bin/env bash
# Checks the layers of src/ by their #include lines and exits non-zero on any
# breach:
#   platform seam (src/platform/*.h, *.cpp)  the standard library and the seam only
#   common/                                  the seam and common/
#   app/                                     the seam, common/ and app/
#   subsystems (log settings connection timesource about run)
#                                            any lower floor and each other, but only
#                                            run/ reaches run/ (timesource/ may call
#                                            the run's countdown, run/countdown.h)
#   back ends (src/platform/<name>/)         the seam, common/ and their own folder
#   composition roots (src/main.cpp, src/platform/<name>/<name>_platform.cpp,
#                      src/platform/<name>/<name>_main.cpp)
#                                            anything: they put the program together
# Qt, POSIX, Linux and Windows headers appear only in the back ends that need
# them (platform/qt, platform/linux, platform/win32), the composition roots
# among them; src/main.cpp is the same on every system and has none.
# With mingw-w64 installed it also compiles every seam header after <winsock2.h>,
# <windows.h> and <wininet.h>, and before them.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
breach() { echo "layering: $1"; status=1; }

system_header='^#[[:space:]]*include[[:space:]]*<(Q[A-Za-z]*|Qt[A-Za-z]*/[^>]*|unistd\.h|fcntl\.h|poll\.h|dirent\.h|dlfcn\.h|pthread\.h|spawn\.h|signal\.h|termios\.h|pwd\.h|grp\.h|netdb\.h|ifaddrs\.h|sys/[^>]*|net/[^>]*|netinet/[^>]*|arpa/[^>]*|linux/[^>]*|windows\.h|winsock2\.h|ws2tcpip\.h|wininet\.h|ras\.h|raserror\.h|shellapi\.h|shlobj\.h|commctrl\.h|winreg\.h|windowsx\.h|io\.h|direct\.h)>'

floor_of() {  # the floor a file lives on
    case "$1" in
        src/main.cpp | src/platform/*/*_platform.cpp | src/platform/*/*_main.cpp) echo root ;;
        src/platform/*/*) echo backend ;;
        src/platform/*) echo seam ;;
        src/common/*) echo common ;;
        src/app/*) echo app ;;
        src/run/*) echo run ;;
        src/log/* | src/settings/* | src/connection/* | src/timesource/* | src/about/*) echo subsystem ;;
        *) echo other ;;
    esac
}

while IFS= read -r file; do
    floor=$(floor_of "$file")
    own=$(dirname "${file#src/}")
    # Operating-system and Qt headers.
    case "$file" in
        src/platform/qt/* | src/platform/linux/* | src/platform/win32/*) ;;
        *) grep -nE "$system_header" "$file" | while IFS= read -r hit; do
               echo "layering: $file:$hit: a system or Qt header outside the back ends"
           done | grep . && status=1 ;;
    esac
    # Project headers, by the folder they come from.
    while IFS= read -r inc; do
        target=$(dirname "$inc")
        case "$floor" in
            seam) [[ $target == platform ]] || breach "$file includes $inc: the seam knows only itself" ;;
            common) [[ $target == platform || $target == common ]] || breach "$file includes $inc: common/ stands on the seam alone" ;;
            app) [[ $target == platform || $target == common || $target == app ]] || breach "$file includes $inc: app/ knows no subsystem" ;;
            subsystem)
                if [[ $target == run ]]; then
                    [[ $inc == run/countdown.h && $own == timesource ]] || breach "$file includes $inc: only the run reaches run/"
                elif [[ $target == platform/* ]]; then
                    breach "$file includes $inc: the core reaches back ends only through the seam"
                fi ;;
            run) [[ $target != platform/* ]] || breach "$file includes $inc: the core reaches back ends only through the seam" ;;
            backend) [[ $target == platform || $target == common || $target == "$own" ]] ||
                breach "$file includes $inc: a back end knows the seam, common/ and its own folder" ;;
        esac
    done < <(sed -nE 's/^#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
done < <(find src -name '*.h' -o -name '*.cpp' | sort)

# The seam beside the Windows headers, in both orders.
for cxx in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix; do
    command -v "$cxx" >/dev/null || continue
    tmp=$(mktemp -d)
    for order in windows-first seam-first; do
        {
            [[ $order == windows-first ]] && printf '#include <winsock2.h>\n#include <windows.h>\n#include <wininet.h>\n'
            for h in src/platform/*.h; do printf '#include "%s"\n' "${h#src/}"; done
            [[ $order == seam-first ]] && printf '#include <winsock2.h>\n#include <windows.h>\n#include <wininet.h>\n'
            printf 'int main() { return 0; }\n'
        } >"$tmp/seam.cpp"
        "$cxx" -std=c++20 -Wall -Wextra -Wpedantic -Werror -Isrc -fsyntax-only "$tmp/seam.cpp" ||
            breach "the seam headers do not compile beside the Windows headers ($cxx, $order)"
    done
    rm -rf "$tmp"
done

if [ "$status" -eq 0 ]; then echo "layering: every include stays on its floor"; fi
exit "$status"
