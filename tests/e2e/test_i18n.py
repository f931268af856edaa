#!/usr/bin/python3
"""Languages: under an English UI language the utility speaks English, under any other
the texts as written (Chinese). The real utility in Xvfb with trayer, started with LANG
set as a desktop session sets it, read through AT-SPI as a screen reader reads it: the
dashboard, the gear's settings menu, the tray icon's context menu, the About window and
the low-disk prompt. Names ("Korvanta", "CPU", the disk's name) never change.
"""

import re

from harness import (PROMPT_SIZE, AtspiActor, E2ETestCase, SmallVolume, accessible_nodes,
                     main, open_dashboard, press_keys, wait_until)

GENEROUS_LIMIT_S = 15.0
CJK = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")

SOURCE = {
    "hint": "点击打开 Korvanta",
    "memory": "内存",
    "battery": "电池",
    "free_up": "释放",
    "settings": "设置",
    "figure": re.compile(r"^可用: \d"),
    "load": re.compile(r"^加载: "),
    "cleaned": re.compile(r"^已累计清理 .+ 垃圾$"),
    "settings_menu": ["关于 Korvanta", "提供反馈…", "退出状态栏"],
    "tray_menu": ["打开面板", "关于 Korvanta", "提供反馈…", "退出状态栏"],
    "about_name": "Korvanta 菜单",
    "version": re.compile(r"^版本 \S+ \(\S+\)$"),
    "headline": "磁盘空间快用完了！",
    "prompt_hint": "启动 Korvanta 移除不需要的项目并恢复空间。",
    "prompt_figure": re.compile(r"^可用： \d+\.\d\d GB$"),
    "ignore": "忽略",
    "open": "打开 Korvanta",
}

ENGLISH = {
    "hint": "Click to open Korvanta",
    "memory": "Memory",
    "battery": "Battery",
    "free_up": "Free Up",
    "settings": "Settings",
    "figure": re.compile(r"^Free: \d"),
    "load": re.compile(r"^Load: "),
    "cleaned": re.compile(r"^.+ of junk cleaned so far$"),
    "settings_menu": ["About Korvanta", "Send Feedback…", "Quit"],
    "tray_menu": ["Open Dashboard", "About Korvanta", "Send Feedback…", "Quit"],
    "about_name": "Korvanta Menu Bar",
    "version": re.compile(r"^Version \S+ \(\S+\)$"),
    "headline": "Your disk is almost full!",
    "prompt_hint": "Remove unneeded items with Korvanta.",
    "prompt_figure": re.compile(r"^Free: \d+\.\d\d GB$"),
    "ignore": "Ignore",
    "open": "Open Korvanta",
}


def showing(tree):
    return [n for n in accessible_nodes(tree) if "showing" in n.get("states", ())]


def named(nodes, role):
    return [n["name"] for n in nodes if n["role"] == role]


def menu_entries(tree):
    return [n["name"] for n in showing(tree) if n["role"] == "menu item"]


def close_popups(session):
    """Clicks on the bare screen until no popup of the utility is left (a click outside
    closes the topmost one: a menu, then the dashboard under it)."""
    for _ in range(3):
        if not session.toplevel_windows():
            return
        session.click_outside()
        try:
            wait_until(lambda: not session.toplevel_windows(), 1.0, "the popups to close")
        except AssertionError:
            continue
    session.wait_for_no_popup(GENEROUS_LIMIT_S)


class LanguageCase(E2ETestCase):
    def language_session(self, lang, **options):
        return self.session(extra_env={"LANG": lang}, **options)

    def wait_for_menu(self, actor, entries):
        def shown():
            for tree in actor.read():
                if menu_entries(tree):
                    return tree
            return None
        tree = wait_until(shown, GENEROUS_LIMIT_S, "a menu to show")[0]
        self.assertEqual(menu_entries(tree), entries)
        return tree

    def check_dashboard_and_menus(self, lang, texts):
        with self.language_session(lang) as session:
            icon = session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup, _, _ = open_dashboard(session)

            # The CPU figure is filled after the second pass; read once it is.
            def read():
                nodes = showing(actor.read_window(popup))
                labels = named(nodes, "label")
                return nodes if any(texts["load"].match(t) and "—" not in t
                                    for t in labels) else None
            nodes = wait_until(read, GENEROUS_LIMIT_S, "the CPU figure")[0]
            labels = named(nodes, "label")
            buttons = named(nodes, "push button")
            tiles = [n for n in nodes if n["role"] == "panel"]

            self.assertIn("Korvanta", labels)
            self.assertIn(texts["hint"], labels)
            self.assertEqual([t["name"] for t in tiles][1:],
                             [texts["memory"], texts["battery"], "CPU"])
            self.assertEqual(sum(1 for t in labels if texts["figure"].match(t)), 2, labels)
            self.assertEqual(buttons.count(texts["free_up"]), 2, buttons)
            self.assertIn(texts["settings"], buttons)
            self.assertTrue(any(texts["cleaned"].match(t) for t in labels), labels)
            if lang.startswith("en"):
                leftovers = [n["name"] for n in nodes if CJK.search(n["name"])]
                self.assertEqual(leftovers, [], "untranslated texts under %s" % lang)

            # The gear's settings menu.
            gear = [n for n in nodes if n["role"] == "push button"
                    and n["name"] == texts["settings"]][0]
            x, y, width, height = gear["extents"]
            session.click(x + width // 2, y + height // 2)
            self.wait_for_menu(actor, texts["settings_menu"])
            close_popups(session)

            # The tray icon's context menu.
            session.click(*icon.center, button=3)
            self.wait_for_menu(actor, texts["tray_menu"])
            close_popups(session)

            # The About window, chosen from the settings menu by keyboard.
            popup, _, _ = open_dashboard(session)
            session.click(x + width // 2, y + height // 2)
            self.wait_for_menu(actor, texts["settings_menu"])
            press_keys(session, "Down", "Return")

            def about():
                for tree in actor.read():
                    names = [n["name"] for n in showing(tree)]
                    if texts["about_name"] in names:
                        return names
                return None
            names = wait_until(about, GENEROUS_LIMIT_S, "the About window")[0]
            self.assertTrue(any(texts["version"].match(n) for n in names), names)

    def check_prompt(self, lang, texts):
        with SmallVolume() as volume:
            if volume.path is None:
                self.skipTest("no volume with less than 50 GB free: %s" % volume.reason)
            session = self.language_session(lang, suppress_low_disk_prompt=False)
            session.home = volume.path
            with session:
                session.wait_for_icon(GENEROUS_LIMIT_S)
                actor = AtspiActor(session)
                prompt = session.wait_for_popup(GENEROUS_LIMIT_S, size=PROMPT_SIZE)
                tree = wait_until(lambda: actor.read_window(prompt), GENEROUS_LIMIT_S,
                                  "the prompt's accessible tree")[0]
                nodes = showing(tree)
                labels = named(nodes, "label")
                self.assertIn(texts["headline"], labels)
                self.assertIn(texts["prompt_hint"], labels)
                self.assertTrue(any(texts["prompt_figure"].match(t) for t in labels), labels)
                self.assertEqual(named(nodes, "push button"), [texts["ignore"], texts["open"]])
                if lang.startswith("en"):
                    self.assertEqual([n["name"] for n in nodes if CJK.search(n["name"])], [])


class EnglishTest(LanguageCase):
    def test_dashboard_and_menus_read_in_english(self):
        self.check_dashboard_and_menus("en_US.UTF-8", ENGLISH)

    def test_low_disk_prompt_reads_in_english(self):
        self.check_prompt("en_US.UTF-8", ENGLISH)


class SourceTextsTest(LanguageCase):
    def test_chinese_locale_shows_the_texts_as_written(self):
        self.check_dashboard_and_menus("zh_CN.UTF-8", SOURCE)

    def test_c_locale_shows_the_texts_as_written(self):
        self.check_dashboard_and_menus("C", SOURCE)

    def test_low_disk_prompt_as_written_under_chinese(self):
        self.check_prompt("zh_CN.UTF-8", SOURCE)


if __name__ == "__main__":
    main()
