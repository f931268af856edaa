#!/usr/bin/python3
"""Keyboard use and screen readers: the real utility in Xvfb with trayer, driven with
keys typed through the X server (xdotool) and read back through AT-SPI, as a screen
reader user meets it.

* with the dashboard open, Tab walks its buttons in reading order (header, the two
  "释放" buttons, the cleaned total, the gear), each focused button is a named push
  button, and Return presses it;
* Esc closes the dashboard and the low-disk prompt;
* the gear opens the settings menu by keyboard and the menu is driven by keys too;
* every control and figure of the dashboard has a name and a role a screen reader reads.
"""

from harness import (DASHBOARD_SIZE, PROMPT_SIZE, AtspiActor, E2ETestCase, SmallVolume,
                     StandInKorvanta, accessible_nodes, focused_accessibles, holds_for, main,
                     open_dashboard, press_keys, wait_until)

GENEROUS_LIMIT_S = 15.0
BUTTON = "push button"
# The dashboard's buttons in reading order (names as a screen reader announces them).
TAB_ORDER = ("Korvanta", "释放", "释放", None, "设置")  # None: the cleaned-total line
CLEANED_PREFIX = "已累计清理 "


class KeyboardCase(E2ETestCase):
    def focused_in(self, actor, popup):
        """The focused nodes of the popup's accessible tree, read afresh."""
        node = actor.read_window(popup)
        self.assertIsNotNone(node, "the popup %s is not in the accessible tree" % popup)
        return focused_accessibles(node)

    def tab_to(self, session, actor, popup, expected_name, what):
        """Presses Tab and waits until the expected button has focus; returns its node."""
        press_keys(session, "Tab")

        def focused():
            nodes = [n for n in self.focused_in(actor, popup) if n["role"] == BUTTON]
            if len(nodes) != 1:
                return None
            name = nodes[0]["name"]
            matches = (name.startswith(CLEANED_PREFIX) if expected_name is None
                       else name == expected_name)
            return nodes[0] if matches else None
        try:
            return wait_until(focused, GENEROUS_LIMIT_S, what)[0]
        except AssertionError:
            raise AssertionError("after Tab %s; focused now: %s" % (
                what, [(n["role"], n["name"]) for n in self.focused_in(actor, popup)]))


class DashboardKeyboardTest(KeyboardCase):
    def test_tab_reaches_every_button_in_order_and_return_presses_it(self):
        session = self.session()
        korvanta = StandInKorvanta(session)
        with session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup, _, _ = open_dashboard(session)
            self.assertEqual(self.focused_in(actor, popup), [],
                             "a control had focus before the first Tab")
            for index, name in enumerate(TAB_ORDER):
                node = self.tab_to(session, actor, popup, name,
                                   "button %d (%s) to take focus" % (index + 1, name))
                self.assertIn("focusable", node["states"])
                self.assertTrue(node["extents"] and node["extents"][2] > 0)
            # Round again to the header; Return presses it: the dashboard closes and
            # Korvanta is launched without arguments.
            self.tab_to(session, actor, popup, "Korvanta", "the header to take focus again")
            press_keys(session, "Return")
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            wait_until(lambda: korvanta.launches(), GENEROUS_LIMIT_S, "Korvanta to be launched")
            self.assertEqual(korvanta.launches(), [[]])

            # Reopened, the dashboard starts without a focused control again.
            popup, _, _ = open_dashboard(session)
            self.assertEqual(self.focused_in(actor, popup), [])
            # The memory tile's button by Space: launched once more.
            self.tab_to(session, actor, popup, "Korvanta", "the header")
            self.tab_to(session, actor, popup, "释放", "the volume tile's button")
            self.tab_to(session, actor, popup, "释放", "the memory tile's button")
            press_keys(session, "space")
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            wait_until(lambda: len(korvanta.launches()) == 2, GENEROUS_LIMIT_S,
                       "the second launch")
            self.assertEqual(korvanta.launches(), [[], []])

    def test_escape_closes_the_dashboard_with_and_without_a_focused_button(self):
        with self.session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            open_dashboard(session)
            press_keys(session, "Escape")
            session.wait_for_no_popup(GENEROUS_LIMIT_S)

            popup, _, _ = open_dashboard(session)
            self.tab_to(session, actor, popup, "Korvanta", "the header")
            self.tab_to(session, actor, popup, "释放", "the volume tile's button")
            press_keys(session, "Escape")
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            self.assertTrue(session.app.running())
            # Escape closed; it pressed nothing (the popup stays closed).
            self.assertTrue(holds_for(lambda: not session.toplevel_windows(), 1.0))

    def test_gear_opens_the_settings_menu_and_keys_drive_it(self):
        with self.session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup, _, _ = open_dashboard(session)
            for name in TAB_ORDER:
                self.tab_to(session, actor, popup, name, "the next button")
            press_keys(session, "Return")
            # The menu shows above the dashboard; Down selects its first entry and Return
            # chooses it: the About window opens.
            wait_until(lambda: len(session.toplevel_windows()) == 2, GENEROUS_LIMIT_S,
                       "the settings menu to show")
            press_keys(session, "Down", "Return")

            def about_shown():
                for node in actor.read():
                    if "Korvanta 菜单" in [n["name"] for n in accessible_nodes(node)]:
                        return node
                return None
            about = wait_until(about_shown, GENEROUS_LIMIT_S, "the About window")[0]
            self.assertIn("showing", about["states"])

    def test_a_mouse_click_leaves_no_focus_ring_behind(self):
        with self.session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup, _, _ = open_dashboard(session)
            gear = [n for n in accessible_nodes(actor.read_window(popup))
                    if n["role"] == BUTTON and n["name"] == "设置"]
            self.assertEqual(len(gear), 1)
            x, y, width, height = gear[0]["extents"]
            session.click(x + width // 2, y + height // 2)
            wait_until(lambda: len(session.toplevel_windows()) == 2, GENEROUS_LIMIT_S,
                       "the settings menu to show")
            press_keys(session, "Escape")
            wait_until(lambda: len(session.toplevel_windows()) == 1, GENEROUS_LIMIT_S,
                       "the settings menu to close")
            self.assertEqual([(n["role"], n["name"]) for n in self.focused_in(actor, popup)
                              if n["role"] == BUTTON], [],
                             "the clicked gear kept keyboard focus")


class ScreenReaderTest(KeyboardCase):
    def test_every_control_and_figure_has_a_name_and_a_role(self):
        with self.session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup, _, _ = open_dashboard(session)
            tree = actor.read_window(popup)
            nodes = [n for n in accessible_nodes(tree) if "showing" in n["states"]]

            buttons = [n for n in nodes if n["role"] == BUTTON]
            self.assertEqual(len(buttons), 5, [(n["name"]) for n in buttons])
            for button in buttons:
                self.assertTrue(button["name"], "a button without a name: %s" % button)
            # The two "释放" buttons say which tile they belong to.
            tiles = [n for n in nodes if n["role"] == "panel"]
            names = [t["name"] for t in tiles]
            self.assertEqual(len(tiles), 4, names)
            self.assertEqual(names[1:], ["内存", "电池", "CPU"])
            frees = [b for b in buttons if b["name"] == "释放"]
            self.assertEqual([b["description"] for b in frees], names[:2])

            for tile in tiles:
                self.assertTrue(tile["name"], "a tile without a name: %s" % tile)
                figures = [n["name"] for n in accessible_nodes(tile)
                           if n["role"] == "label" and "showing" in n["states"]]
                self.assertGreaterEqual(len(figures), 2, "tile %r: %s" % (tile["name"], figures))
                self.assertTrue(all(figures), "tile %r has a nameless text" % tile["name"])
            labels = {n["name"] for n in nodes if n["role"] == "label"}
            self.assertIn("点击打开 Korvanta", labels)
            self.assertTrue(any(name.startswith("加载: ") for name in labels), labels)


class PromptKeyboardTest(KeyboardCase):
    def prompt_session(self, volume):
        """A session whose home lies on a small volume: the first check, 0.8 s after the
        launch, shows the low-disk prompt by itself."""
        session = self.session(suppress_low_disk_prompt=False)
        session.home = volume.path
        return session

    def test_tab_reaches_ignore_then_open_and_return_opens_korvanta(self):
        with SmallVolume() as volume:
            if volume.path is None:
                self.skipTest("no volume with less than 50 GB free: %s" % volume.reason)
            session = self.prompt_session(volume)
            korvanta = StandInKorvanta(session)
            with session:
                session.wait_for_icon(GENEROUS_LIMIT_S)
                actor = AtspiActor(session)
                prompt = session.wait_for_popup(GENEROUS_LIMIT_S, size=PROMPT_SIZE)
                self.tab_to(session, actor, prompt, "忽略", "the Ignore button")
                self.tab_to(session, actor, prompt, "打开 Korvanta", "the Open button")
                press_keys(session, "Return")
                session.wait_for_no_popup(GENEROUS_LIMIT_S)
                wait_until(lambda: korvanta.launches(), GENEROUS_LIMIT_S, "the launch")
                self.assertEqual(korvanta.launches(), [[]])

    def test_escape_closes_the_prompt_without_pressing_anything(self):
        with SmallVolume() as volume:
            if volume.path is None:
                self.skipTest("no volume with less than 50 GB free: %s" % volume.reason)
            session = self.prompt_session(volume)
            korvanta = StandInKorvanta(session)
            with session:
                session.wait_for_icon(GENEROUS_LIMIT_S)
                actor = AtspiActor(session)
                prompt = session.wait_for_popup(GENEROUS_LIMIT_S, size=PROMPT_SIZE)
                self.tab_to(session, actor, prompt, "忽略", "the Ignore button")
                press_keys(session, "Escape")
                session.wait_for_no_popup(GENEROUS_LIMIT_S)
                self.assertTrue(holds_for(lambda: not session.toplevel_windows(), 1.0))
                self.assertEqual(korvanta.launches(), [])
                # Shown once a day: the next click opens the dashboard.
                session.click_icon()
                session.wait_for_popup(GENEROUS_LIMIT_S, size=DASHBOARD_SIZE)


if __name__ == "__main__":
    main()
