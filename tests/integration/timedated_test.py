#!/usr/bin/python3
"""Setting the clock as a desktop user: the real program, without the right to
set the clock itself, asks systemd-timedated over the system bus.

The system bus is a private one with python-dbusmock's timedated on it; the
program runs inside `unshare -r -n` (setting the clock directly fails there
with EPERM, and the test server answers on 127.0.0.1:13 with the clock 95
seconds ahead). What polkit would answer is played by the mock's SetTime.

Usage: timedated_test.py VELTRANE DAYTIME-SERVER [TEST...] (exit status 77:
skipped); a TEST is a method name, all of them when none is given.
"""

import ast
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import dbus
    import dbusmock
except ImportError:
    print("skipped: python3-dbusmock is not installed", file=sys.stderr)
    sys.exit(77)

VELTRANE, SERVER = sys.argv[1], sys.argv[2]

SETTINGS = ("[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\n"
            "ConnectionType=LAN\r\nQuietMode=Y\r\n")


class SetTimeThroughTimedated(dbusmock.DBusTestCase):
    @classmethod
    def setUpClass(cls):
        cls.start_system_bus()
        cls.dbus_con = cls.get_dbus(system_bus=True)

    def setUp(self):
        self.start_timedated(ntp=False)
        self.home = tempfile.mkdtemp()
        with open(os.path.join(self.home, "Veltrane.INI"), "w", newline="") as settings:
            settings.write(SETTINGS)

    def start_timedated(self, ntp):
        self.server, self.mock = self.spawn_server_template("timedated", {"NTP": ntp}, stdout=subprocess.DEVNULL)

    def tearDown(self):
        self.server.terminate()
        self.server.wait()
        shutil.rmtree(self.home)

    def run_program(self):
        script = ("ip link set lo up && ip route add default dev lo || exit 98; "
                  'pid=$("$1" --address 127.0.0.1 --port 13 --offset -95 --mode ontime --background | tail -n 1); '
                  'timeout -s KILL 60 "$2"; rc=$?; kill "$pid"; exit $rc')
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "VELTRANE_HOME": self.home,
            "DBUS_SYSTEM_BUS_ADDRESS": os.environ["DBUS_SYSTEM_BUS_ADDRESS"],
        }
        before = time.time()
        run = subprocess.run(["unshare", "-r", "-n", "sh", "-c", script, "sh", SERVER, VELTRANE],
                             env=env, capture_output=True, text=True, timeout=120)
        with open(os.path.join(self.home, "Veltrane.log"), encoding="utf-8") as log:
            lines = [line[17:] for line in log.read().splitlines() if line]
        return run, lines, before

    def refuse(self, name, message):
        """SetTime answers as timedated does when polkit says no."""
        self.mock.AddMethod("org.freedesktop.timedate1", "SetTime", "xbb", "",
                            f"raise dbus.exceptions.DBusException({message!r}, name={name!r})")

    def test_the_clock_is_set_through_timedated_asking_polkit_interactively(self):
        run, lines, _ = self.run_program()
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        calls = self.mock.GetMethodCalls("SetTime")
        self.assertEqual(len(calls), 1)
        usec, relative, interactive = calls[0][1]
        self.assertTrue(relative, "a step: timedated adds it when polkit has answered")
        self.assertTrue(interactive, "polkit may ask the user")
        # Back by the 95 seconds the server is behind (its NIST line on time).
        self.assertAlmostEqual(usec / 1e6, -95, delta=0.5)
        self.assertTrue(any(line.startswith("system clock corrected to ") for line in lines), lines)
        self.assertFalse(any(line.startswith("ERROR: ") for line in lines), lines)

    def test_a_slow_authorization_adds_nothing_to_the_setting(self):
        # polkit takes two seconds to say yes (a password typed): what
        # timedated sets then must be what the clock should read then.
        record = os.path.join(self.home, "applied")
        self.mock.AddMethod("org.freedesktop.timedate1", "SetTime", "xbb", "",
                            "time.sleep(2)\n"
                            "now = time.time()\n"
                            "applied = now + args[0] / 1e6 if args[1] else args[0] / 1e6\n"
                            f"open({record!r}, 'w').write(repr((now, applied)))\n")
        run, lines, _ = self.run_program()
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        with open(record, encoding="utf-8") as applied:
            now, instant = ast.literal_eval(applied.read())
        # The server's clock is 95 seconds behind the true time.
        self.assertAlmostEqual(instant, now - 95, delta=0.5)

    def test_no_authentication_agent_is_an_error_line_with_both_reasons(self):
        # A quiet run at log-on or from the timer: nobody can be asked.
        self.refuse("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired",
                    "Interactive authentication required.")
        run, lines, _ = self.run_program()
        self.assertEqual(run.returncode, 2, run.stdout + run.stderr)
        errors = [line for line in lines if line.startswith("ERROR: ")]
        self.assertEqual(len(errors), 1, lines)
        self.assertIn("clock_settime: operation not permitted; systemd-timedated refused: "
                      "Interactive authentication required. "
                      "(org.freedesktop.DBus.Error.InteractiveAuthorizationRequired) (error 1); ", errors[0])
        # The fix: the group, or the machine's timer.
        self.assertRegex(errors[0], r"an administrator adds \S+ to the group veltrane: sudo adduser \S+ veltrane ")
        self.assertIn("sudo systemctl enable --now veltrane-sync.timer", errors[0])
        self.assertEqual(len(self.mock.GetMethodCalls("SetTime")), 1)

    def test_a_user_who_declines_sees_the_refusal_in_the_log(self):
        self.refuse("org.freedesktop.DBus.Error.AccessDenied", "Access denied")
        run, lines, _ = self.run_program()
        self.assertEqual(run.returncode, 2, run.stdout + run.stderr)
        self.assertTrue(any("systemd-timedated refused: Access denied (org.freedesktop.DBus.Error.AccessDenied)"
                            in line for line in lines), lines)
        # The run still ends normally: the settings are saved.
        with open(os.path.join(self.home, "Veltrane.INI"), encoding="utf-8") as settings:
            self.assertIn("OnlyIfConnected=", settings.read())

    def test_automatic_synchronisation_on_the_clock_is_compared_not_set(self):
        self.server.terminate()
        self.server.wait()
        self.start_timedated(ntp=True)
        run, lines, _ = self.run_program()
        self.assertEqual(run.returncode, 6, run.stdout + run.stderr)
        self.assertEqual(self.mock.GetMethodCalls("SetTime"), [])
        off = [at for at, line in enumerate(lines)
               if re.fullmatch(r"system clock off by 1 minute 3[4-6] seconds", line)]
        self.assertEqual(len(off), 1, lines)
        kept = ("WARNING: system clock not corrected - another time service keeps it: "
                "systemd-timedated's network time synchronisation; to let Veltrane set the "
                "clock, turn that off: timedatectl set-ntp false")
        self.assertIn(kept, lines)
        self.assertLess(off[0], lines.index(kept))
        # A quiet run with standard error in a pipe: every line there too.
        self.assertIn(kept + "\n", run.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + [f"SetTimeThroughTimedated.{name}" for name in sys.argv[3:]], verbosity=2)
