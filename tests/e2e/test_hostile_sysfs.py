#!/usr/bin/python3
"""Kernel trees with garbage in them, read by the real utility.

The utility runs in a private mount namespace where a fake tree stands in for /sys/class
(power_supply, hwmon, thermal) and a fake file for /proc/meminfo; the test rewrites them
while the utility runs. One session, as an unprivileged user (sysfs has attributes only
root may read), serves every case in turn: after each change the open dashboard must come
to show the documented fallback (battery "—"/"不可用" or a percent in a sane range,
temperature "--°C" for absurd readings, free memory 0 when meminfo gives nothing) while a
click still opens and closes the dashboard within 1 s and the process stays alive. A last
case makes the battery and sensor directories vanish and come back between passes.
"""

import os
import plistlib
import re
import shutil
import tempfile
import threading
import time
from pathlib import Path

from harness import AtspiActor, main
from hostile_support import BATTERY_UNAVAILABLE, NO_TEMPERATURE, PLACEHOLDER, HostileCase

UNPRIVILEGED = "nobody"
ON_BATTERY = "电池供电"
CHARGING = "充电中"
FULL = "已充满"
SANE_PERCENT = re.compile(r"^(\d+)%$")

BASELINE = {
    "power_supply/BAT0": {"type": "Battery", "present": "1", "capacity": "57",
                          "status": "Discharging"},
    "power_supply/AC": {"type": "Mains", "online": "0"},
    "hwmon/hwmon0": {"name": "coretemp", "temp1_label": "Package id 0", "temp1_input": "47000",
                     "temp2_label": "Core 0", "temp2_input": "45000"},
    "hwmon/hwmon1": {"name": "acpitz", "temp1_input": "27800"},
    "thermal/thermal_zone0": {"type": "x86_pkg_temp", "temp": "52000"},
}
BASELINE_MEMINFO = b"MemTotal:       16384000 kB\nMemFree:         1000000 kB\n" \
                   b"MemAvailable:    4194304 kB\nInactive(file):   200000 kB\n"


class FakeKernel:
    """The fake /sys/class tree and /proc/meminfo file, readable by everyone."""

    def __init__(self):
        self.root = Path(tempfile.mkdtemp(prefix="kmb-hostile-sys-"))
        os.chmod(self.root, 0o755)
        self.sys_class = self.root / "class"
        self.meminfo = self.root / "meminfo"
        self.reset()

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def reset(self):
        """The baseline machine: a battery at 57 % on battery power, package at 47 °C."""
        staged = self.root / "class.new"
        shutil.rmtree(staged, ignore_errors=True)
        for device, attributes in BASELINE.items():
            (staged / device).mkdir(parents=True)
            for attribute, value in attributes.items():
                (staged / device / attribute).write_text(value + "\n")
        self._open_up(staged)
        # Inside the class directory (the mount point), the three trees are swapped.
        self.sys_class.mkdir(exist_ok=True)
        os.chmod(self.sys_class, 0o755)
        for tree in ("power_supply", "hwmon", "thermal"):
            old = self.sys_class / tree
            if old.exists() or old.is_symlink():
                os.rename(old, self.root / ("old-" + tree))
            os.rename(staged / tree, old)
            shutil.rmtree(self.root / ("old-" + tree), ignore_errors=True)
        shutil.rmtree(staged, ignore_errors=True)
        self.write_meminfo(BASELINE_MEMINFO)

    def _open_up(self, path):
        for directory, subdirectories, files in os.walk(path):
            os.chmod(directory, 0o755)
            for name in files:
                os.chmod(os.path.join(directory, name), 0o644)

    def path(self, relative):
        return self.sys_class / relative

    def set(self, relative, value):
        """Rewrites an attribute (bytes or text, no newline added) in place."""
        path = self.path(relative)
        if path.is_dir() and not path.is_symlink():
            shutil.rmtree(path)
        elif path.is_symlink() or (path.exists() and not path.is_file()):
            path.unlink()
        path.write_bytes(value if isinstance(value, bytes) else value.encode())
        os.chmod(path, 0o644)

    def write_meminfo(self, data):
        # In place: the bind mount holds this very inode, so a rename would go unseen.
        with open(self.meminfo, "r+b" if self.meminfo.exists() else "wb") as handle:
            handle.truncate(0)
            handle.write(data)
        os.chmod(self.meminfo, 0o644)


def battery_and_temperature_cases(kernel):
    """(description, change of the tree, expected battery texts, expected temperature,
    expected memory text or None for "not checked")."""

    def empty():
        for attribute in ("power_supply/BAT0/capacity", "power_supply/BAT0/status",
                          "power_supply/AC/online", "hwmon/hwmon0/temp1_input",
                          "hwmon/hwmon0/temp2_input", "thermal/thermal_zone0/temp"):
            kernel.set(attribute, "")
        kernel.write_meminfo(b"")

    def negative():
        kernel.set("power_supply/BAT0/capacity", "-20\n")
        kernel.set("power_supply/BAT0/energy_now", "-5000\n")
        kernel.set("power_supply/BAT0/energy_full", "50000\n")
        kernel.set("hwmon/hwmon0/temp1_input", "-273150\n")
        kernel.set("hwmon/hwmon0/temp2_input", "-45000\n")
        kernel.set("thermal/thermal_zone0/temp", "-100000\n")
        kernel.write_meminfo(b"MemAvailable: -5 kB\nMemFree: -1 kB\n")

    def huge():
        kernel.set("power_supply/BAT0/capacity", "99999999999999999999\n")
        kernel.set("power_supply/BAT0/energy_now", "9223372036854775807\n")
        kernel.set("power_supply/BAT0/energy_full", "1\n")
        kernel.set("power_supply/BAT0/charge_now", "2147483647\n")
        kernel.set("power_supply/BAT0/charge_full", "3\n")
        kernel.set("hwmon/hwmon0/temp1_input", "9223372036854775807\n")
        kernel.set("hwmon/hwmon0/temp2_input", "150001\n")
        kernel.set("thermal/thermal_zone0/temp", "1000000000\n")
        kernel.write_meminfo(b"MemAvailable: 18446744073709551615 kB\n"
                             b"MemFree: 99999999999999999999999 kB\n")

    def non_numeric():
        kernel.set("power_supply/BAT0/capacity", "fifty-seven\n")
        kernel.set("power_supply/BAT0/charge_now", "1e3\n")
        kernel.set("power_supply/BAT0/charge_full", "0x10\n")
        kernel.set("power_supply/BAT0/status", "Charging\n")
        kernel.set("power_supply/AC/online", "yes\n")
        kernel.set("hwmon/hwmon0/temp1_input", "47.5\n")
        kernel.set("hwmon/hwmon0/temp2_input", "NaN\n")
        kernel.set("thermal/thermal_zone0/temp", "warm\n")
        kernel.write_meminfo(b"MemAvailable: lots kB\nMemFree: 12 MB\n")

    def binary_garbage():
        kernel.set("power_supply/BAT0/capacity", b"57\x00\xff\xfe")
        kernel.set("power_supply/BAT0/status", b"\x00Charging\x00")
        kernel.set("hwmon/hwmon0/temp1_input", b"9" * (1 << 20))
        kernel.set("hwmon/hwmon0/temp2_input", b"\xff" * 4096)
        kernel.set("thermal/thermal_zone0/temp", b"52000\x00")
        kernel.write_meminfo(bytes(range(256)) * 512)

    def strange_files():
        # Where attributes should be: a FIFO, a directory, a symlink loop, an unreadable file.
        capacity = kernel.path("power_supply/BAT0/capacity")
        capacity.unlink()
        os.mkfifo(capacity, 0o644)
        os.chmod(capacity, 0o644)
        kernel.path("power_supply/BAT0/status").unlink()
        kernel.path("power_supply/BAT0/status").mkdir()
        loop = kernel.path("hwmon/hwmon0/temp1_input")
        loop.unlink()
        os.symlink("temp1_input", loop)
        os.chmod(kernel.path("hwmon/hwmon0/temp2_input"), 0)
        zone = kernel.path("thermal/thermal_zone0/temp")
        zone.unlink()
        os.symlink("/dev/zero", zone)
        # A hwmon device that is a link to itself.
        os.symlink("hwmon9", kernel.path("hwmon/hwmon9"))

    def garbage_type():
        kernel.set("power_supply/BAT0/type", b"Batt\xffery\n")
        kernel.set("hwmon/hwmon0/name", b"core\x00temp\n")
        kernel.set("thermal/thermal_zone0/type", b"\xff" * 64)

    def sane_extremes():
        kernel.set("power_supply/BAT0/capacity", "100\n")
        kernel.set("power_supply/BAT0/status", "Full\n")
        kernel.set("power_supply/AC/online", "1\n")
        kernel.set("hwmon/hwmon0/temp1_input", "150000\n")

    def worn_battery():
        kernel.path("power_supply/BAT0/capacity").unlink()
        kernel.set("power_supply/BAT0/energy_now", "52500000\n")
        kernel.set("power_supply/BAT0/energy_full", "50000000\n")
        kernel.set("hwmon/hwmon0/temp1_input", "-40000\n")

    return [
        ("the baseline", lambda: None, (ON_BATTERY, "57%"), "47°C", "4.00 GB"),
        ("empty files", empty, (ON_BATTERY, "0%"), NO_TEMPERATURE, "0 bytes"),
        ("negative values", negative, (ON_BATTERY, "0%"), NO_TEMPERATURE, "0 bytes"),
        ("huge values", huge, (ON_BATTERY, "0%"), NO_TEMPERATURE, "0 bytes"),
        ("non-numeric values", non_numeric, (CHARGING, "0%"), NO_TEMPERATURE, "0 bytes"),
        ("binary garbage", binary_garbage, (ON_BATTERY, "0%"), NO_TEMPERATURE, "0 bytes"),
        ("FIFOs, directories, loops and unreadable files", strange_files, (ON_BATTERY, "0%"),
         NO_TEMPERATURE, None),
        ("garbage device types", garbage_type, (BATTERY_UNAVAILABLE, PLACEHOLDER),
         NO_TEMPERATURE, None),
        ("sane extremes", sane_extremes, (FULL, "100%"), "150°C", None),
        ("a worn battery above its full charge", worn_battery, (ON_BATTERY, "105%"), "-40°C",
         None),
    ]


def write_history(session, total):
    path = session.history_path
    path.parent.mkdir(parents=True, exist_ok=True)
    staged = path.with_name(".staged")
    staged.write_bytes(plistlib.dumps({"totalCleanedBytes": total}))
    os.chmod(staged, 0o644)
    os.replace(staged, path)


class SysfsGarbageTest(HostileCase):
    def test_hostile_kernel_trees_fall_back_and_vanishing_entries_never_show_nonsense(self):
        kernel = FakeKernel()
        try:
            with self.hostile_session(run_as=UNPRIVILEGED, sys_class=kernel.sys_class,
                                      proc_meminfo=kernel.meminfo) as session:
                session.wait_for_icon(15.0)
                reader = AtspiActor(session)
                cases = battery_and_temperature_cases(kernel)
                for index, (what, change, battery, temperature, memory) in enumerate(cases):
                    with self.subTest(case=what):
                        self.close_leftover_popup(session)
                        kernel.reset()
                        change()
                        # A total of its own in the history, read in the same pass as the
                        # kernel files: figures shown beside it are from after the change.
                        marker = "%d.00 GB" % (index + 1)
                        write_history(session, (index + 1) * 1_000_000_000)
                        popup = self.click_open(session)

                        def expected(f):
                            return (f["cleaned"] == marker and f["battery"] == battery
                                    and f["cpu"][1] == temperature
                                    and (memory is None or f["memory"] == "可用: " + memory))
                        shown = self.wait_figures(session, reader, popup, expected,
                                                  "the figures for %s" % what)
                        self.assert_sane(shown)
                        self.click_close(session)
                self.check_vanishing_entries(session, reader, kernel)
        finally:
            kernel.remove()

    def close_leftover_popup(self, session):
        # After a failed case the dashboard may still be open.
        if session.toplevel_windows():
            self.click_close(session, outside=True)

    def assert_sane(self, shown):
        status, percent = shown["battery"]
        if (status, percent) != (BATTERY_UNAVAILABLE, PLACEHOLDER):
            match = SANE_PERCENT.match(percent)
            self.assertTrue(match and int(match.group(1)) <= 200,
                            "battery percent %r is not sane" % percent)

    def check_vanishing_entries(self, session, reader, kernel):
        self.close_leftover_popup(session)
        kernel.reset()
        popup = self.click_open(session)
        self.wait_figures(session, reader, popup,
                          lambda f: f["battery"] == (ON_BATTERY, "57%")
                          and f["cpu"][1] == "47°C", "the baseline figures")
        self.click_close(session)
        stop = threading.Event()
        flips = [0]

        def flipper():
            # Whole directories go and come back by rename (atomic), never half-built.
            hidden = kernel.root / "hidden"
            hidden.mkdir(exist_ok=True)
            pairs = [(kernel.path("power_supply/BAT0"), hidden / "BAT0"),
                     (kernel.path("hwmon/hwmon0"), hidden / "hwmon0"),
                     (kernel.path("thermal/thermal_zone0"), hidden / "thermal_zone0")]
            step = 0
            while not stop.wait(0.23):
                source, target = pairs[step % len(pairs)]
                if source.exists():
                    os.rename(source, target)
                else:
                    os.rename(target, source)
                step += 1
                flips[0] += 1
            for source, target in pairs:
                if target.exists():
                    os.rename(target, source)

        allowed_battery = {(ON_BATTERY, "57%"), (BATTERY_UNAVAILABLE, PLACEHOLDER)}
        allowed_temperature = {"47°C", "52°C", NO_TEMPERATURE}
        thread = threading.Thread(target=flipper, name="sysfs-flipper", daemon=True)
        thread.start()
        try:
            seen = self.read_while_toggling(session, reader, 9.0, 2.2)
        finally:
            stop.set()
            thread.join(5.0)
        self.assertGreater(flips[0], 20)
        batteries = {f["battery"] for f in seen}
        temperatures = {f["cpu"][1] for f in seen}
        self.assertLessEqual(batteries, allowed_battery, "battery texts shown: %s" % batteries)
        self.assertLessEqual(temperatures, allowed_temperature,
                             "temperatures shown: %s" % temperatures)
        self.assertGreater(len(batteries | temperatures), 2,
                           "the vanishing entries were never noticed: %s %s"
                           % (batteries, temperatures))


if __name__ == "__main__":
    main()
