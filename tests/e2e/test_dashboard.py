#!/usr/bin/python3
"""Acceptance of the dashboard's figures: what the open dashboard shows, read through
AT-SPI, against what this machine reports, computed here independently of the utility.

* the volume card: the name (label, else mount path) and free space of the volume that
  holds HOME, in units of 1,000 (statvfs: f_bavail × f_frsize);
* the memory card: MemAvailable from /proc/meminfo, in units of 1,024;
* the battery card: "不可用" and "—" on a machine without a battery;
* the CPU card: "加载: N%" once two passes have run, and the temperature text that the
  machine's sensors allow ("--°C" without a CPU sensor);
* the footer: the cleaned total ("0 bytes" without a history file).

Figures that move while the test runs (free memory, free disk space) are sampled here
every 50 ms in the background; the shown figure must lie within what was sampled in the
last refresh interval before the read, widened by the display's rounding.
"""

import os
import re
import subprocess
import threading
import time
from pathlib import Path

from harness import (DASHBOARD_SIZE, AtspiActor, E2ETestCase, SmallVolume, accessible_texts,
                     find_accessible, find_accessibles, main, mount_point_of, open_dashboard,
                     wait_until)

GENEROUS_LIMIT_S = 15.0
REFRESH_INTERVAL_S = 2.0
# How far back a shown figure may have been sampled: one refresh interval, plus the
# queued redraw and the AT-SPI read.
SAMPLE_WINDOW_S = REFRESH_INTERVAL_S + 1.0
# Slack beyond the display's rounding for a figure read a few milliseconds apart from ours.
SAMPLING_SLACK_BYTES = 16 << 20

SI_UNITS = {"kB": 1, "MB": 2, "GB": 3, "TB": 4, "PB": 5, "EB": 6}
FIGURE = re.compile(r"^可用: (?P<number>\d+(?:\.\d+)?) (?P<unit>bytes|kB|MB|GB|TB|PB|EB)$")
CPU_LOAD = re.compile(r"^加载: (\d+)%$")
TEMPERATURE = re.compile(r"^(-?\d+)°C$")

CPU_HWMON_NAMES = {"coretemp", "k10temp", "zenpower", "cpu_thermal", "cpu-thermal"}
CPU_ZONE_TYPES = {"x86_pkg_temp", "cpu-thermal", "cpu_thermal"}


def read_text(path):
    try:
        return Path(path).read_text().strip()
    except OSError:
        return None


def mem_available_bytes():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("/proc/meminfo has no MemAvailable")


def free_bytes(path):
    stats = os.statvfs(path)
    return stats.f_bavail * stats.f_frsize


def volume_name(path):
    """The label of the volume holding ``path``, else its mount path (findmnt, else the
    mount table)."""
    result = subprocess.run(["findmnt", "-n", "-o", "TARGET,LABEL", "--target", str(path)],
                            capture_output=True, text=True)
    if result.returncode == 0 and result.stdout.strip():
        fields = result.stdout.rstrip("\n").split(None, 1)
        label = fields[1].strip() if len(fields) > 1 else ""
        return label or fields[0]
    return mount_point_of(path)


def batteries():
    root = Path("/sys/class/power_supply")
    if not root.is_dir():
        return []
    return sorted(entry for entry in root.iterdir()
                  if read_text(entry / "type") in ("Battery", "UPS"))


def cpu_temperatures_celsius():
    """Readings of the CPU sensors the machine offers (hwmon first, then thermal zones)."""
    readings = []
    for device in Path("/sys/class/hwmon").glob("hwmon*"):
        if read_text(device / "name") in CPU_HWMON_NAMES:
            for sensor in device.glob("temp*_input"):
                value = read_text(sensor)
                if value and value.lstrip("-").isdigit():
                    readings.append(int(value) / 1000)
    if readings:
        return readings
    for zone in Path("/sys/class/thermal").glob("thermal_zone*"):
        if read_text(zone / "type") in CPU_ZONE_TYPES:
            value = read_text(zone / "temp")
            if value and value.lstrip("-").isdigit():
                readings.append(int(value) / 1000)
    return readings


def parse_figure(text, base):
    """'可用: 83.04 GB' -> (bytes shown, half a unit of the last digit), in ``base`` units."""
    match = FIGURE.match(text)
    if not match:
        raise AssertionError("not a free-space figure: %r" % text)
    number, unit = match.group("number"), match.group("unit")
    if unit == "bytes":
        if "." in number:
            raise AssertionError("a byte count with decimals: %r" % text)
        return int(number), 0.5
    if not re.fullmatch(r"\d+\.\d\d", number):
        raise AssertionError("expected two decimals in %r" % text)
    scale = base ** SI_UNITS[unit]
    value = float(number) * scale
    # Units are chosen so that the number stays below the next power of the base.
    if float(number) < 1 or value >= scale * base * 1.0005:
        raise AssertionError("%r is not in the unit its size calls for" % text)
    return value, 0.005 * scale


class Sampler(threading.Thread):
    """Samples a figure every 50 ms in the background, with timestamps."""

    def __init__(self, read):
        super().__init__(daemon=True)
        self._read = read
        self._samples = []
        self._lock = threading.Lock()
        self._halt = threading.Event()

    def run(self):
        while not self._halt.is_set():
            value = self._read()
            with self._lock:
                self._samples.append((time.monotonic(), value))
            self._halt.wait(0.05)

    def stop(self):
        self._halt.set()
        self.join(5)

    def range_between(self, start, end):
        with self._lock:
            values = [v for t, v in self._samples if start <= t <= end]
        if not values:
            raise AssertionError("no samples between the two moments")
        return min(values), max(values)


def cards_of(dashboard):
    cards = find_accessibles(dashboard, role="panel", showing_only=True)
    if len(cards) != 4:
        raise AssertionError("expected four metric cards, found %d: %s"
                             % (len(cards), accessible_texts(dashboard)))
    return cards


def label_texts(node):
    return [n["name"] for n in find_accessibles(node, role="label", showing_only=True)
            if n["name"]]


class DashboardCase(E2ETestCase):
    def read_after_second_pass(self, actor, popup):
        """Re-reads the open dashboard until the CPU card shows a load figure (the
        second refresh pass has run); returns (node, read start, read end)."""
        def loaded():
            start = time.monotonic()
            node = actor.read_window(popup)
            end = time.monotonic()
            if node is None:
                raise AssertionError("the dashboard closed while it was read")
            cpu = cards_of(node)[3]
            return (node, start, end) if any(CPU_LOAD.match(t) for t in label_texts(cpu)) \
                else None
        return wait_until(loaded, GENEROUS_LIMIT_S, "the CPU card to show a load figure")[0]

    def assert_figure_within(self, text, base, low, high, what):
        shown, rounding = parse_figure(text, base)
        slack = rounding + SAMPLING_SLACK_BYTES
        self.assertTrue(
            low - slack <= shown <= high + slack,
            "%s shows %r (%.0f bytes); this machine reported %d..%d bytes in the last "
            "refresh interval (allowed slack %.0f)" % (what, text, shown, low, high, slack))

    def check_dashboard(self, session, home):
        memory = Sampler(mem_available_bytes)
        disk = Sampler(lambda: free_bytes(home))
        sampling_since = time.monotonic()
        memory.start()
        disk.start()
        try:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup, _, _ = open_dashboard(session, GENEROUS_LIMIT_S)
            self.assertEqual((popup.width, popup.height), DASHBOARD_SIZE)
            node, read_start, read_end = self.read_after_second_pass(actor, popup)
            if read_start - SAMPLE_WINDOW_S < sampling_since:
                # Our samples must cover the whole interval in which the figures shown
                # may have been taken: read once more when they do.
                time.sleep(sampling_since + SAMPLE_WINDOW_S - read_start)
                node, read_start, read_end = self.read_after_second_pass(actor, popup)
        finally:
            memory.stop()
            disk.stop()
        session.screenshot(session.artifacts / "dashboard.png", popup)
        texts = accessible_texts(node)
        volume, memory_card, battery, cpu = cards_of(node)

        # Header and footer.
        header = find_accessible(node, "Korvanta", "push button")
        self.assertEqual(label_texts(header), ["Korvanta", "点击打开 Korvanta"])
        footer = [n for n in find_accessibles(node, role="push button", showing_only=True)
                  if n["name"].startswith("已累计清理 ")]
        self.assertEqual(len(footer), 1, "no cleaned-total button among %s" % texts)

        # Volume card: name and free space of the volume holding HOME.
        expected_name = volume_name(home)
        self.assertEqual(volume["name"], expected_name)
        volume_texts = label_texts(volume)
        self.assertEqual(volume_texts[0], expected_name, volume_texts)
        self.assertEqual(len(volume_texts), 2, "the volume card has no detail: %s" % volume_texts)
        window = (read_start - SAMPLE_WINDOW_S, read_end)
        self.assert_figure_within(volume_texts[1], 1000, *disk.range_between(*window),
                                  "the volume card")

        # Memory card: MemAvailable in units of 1,024.
        self.assertEqual(memory_card["name"], "内存")
        memory_texts = label_texts(memory_card)
        self.assertEqual(memory_texts[0], "内存")
        self.assertEqual(len(memory_texts), 2, memory_texts)
        self.assert_figure_within(memory_texts[1], 1024, *memory.range_between(*window),
                                  "the memory card")

        # Exactly the volume and memory cards carry a "释放" button.
        for card, has_button in ((volume, True), (memory_card, True), (battery, False),
                                 (cpu, False)):
            buttons = find_accessibles(card, "释放", "push button", showing_only=True)
            self.assertEqual(len(buttons), 1 if has_button else 0,
                             "card %r: 释放 buttons %s" % (card["name"], buttons))

        # Battery card.
        self.assertEqual(battery["name"], "电池")
        battery_texts = label_texts(battery)
        self.assertEqual(battery_texts[0], "电池")
        if not batteries():
            self.assertEqual(battery_texts[1:], ["不可用", "\u2014"],
                             "no battery in /sys/class/power_supply")
        else:
            self.assertEqual(len(battery_texts), 3, battery_texts)
            self.assertNotEqual(battery_texts[1], "不可用")
            percent = re.fullmatch(r"(\d+)%", battery_texts[2])
            self.assertTrue(percent and 0 <= int(percent.group(1)) <= 100, battery_texts)

        # CPU card: load after the second pass, temperature as the sensors allow.
        self.assertEqual(cpu["name"], "CPU")
        cpu_texts = label_texts(cpu)
        self.assertEqual(cpu_texts[0], "CPU")
        self.assertEqual(len(cpu_texts), 3, cpu_texts)
        load = CPU_LOAD.match(cpu_texts[1])
        self.assertTrue(load, cpu_texts)
        self.assertTrue(0 <= int(load.group(1)) <= 100, cpu_texts)
        readings = cpu_temperatures_celsius()
        if not readings:
            self.assertEqual(cpu_texts[2], "--°C", "this machine has no CPU sensor")
        else:
            degrees = TEMPERATURE.match(cpu_texts[2])
            self.assertTrue(degrees, cpu_texts)
            self.assertTrue(min(readings) - 5 <= int(degrees.group(1)) <= max(readings) + 5,
                            "shown %s, sensors read %s" % (cpu_texts[2], readings))
        return node, footer[0]


class MachineFiguresTest(DashboardCase):
    def test_dashboard_shows_this_machines_figures(self):
        with self.session() as session:
            _, footer = self.check_dashboard(session, session.home)
            self.assertEqual(footer["name"], "已累计清理 0 bytes 垃圾",
                             "no history file: the total is zero")

    def test_volume_card_follows_a_small_home_volume(self):
        # HOME on a volume of a known size: its mount path (a tmpfs has no label) and its
        # exact free space.
        with SmallVolume(size_bytes=123_456 * 4096) as volume:
            if volume.path is None or not volume.mounted:
                self.skipTest("no tmpfs of our own: %s" % volume.reason)
            filler = volume.path / "filler"
            filler.write_bytes(b"\1" * (7_000_000))
            with self.session(extra_env={"HOME": str(volume.path)}) as session:
                node, _ = self.check_dashboard(session, volume.path)
                volume_texts = label_texts(cards_of(node)[0])
                free = free_bytes(volume.path)
                self.assertLess(free, 123_456 * 4096 - 7_000_000 + 4096)
                self.assertEqual(volume_texts, [str(volume.path),
                                                "可用: %.2f MB" % (free / 1e6)])


if __name__ == "__main__":
    main()
