"""The web page in a real browser: Debian's chromium, headless, driven by
chromedriver through selenium, against relayd with a simulated board.

    python3 browser_test.py RELAYD [unittest arguments]
"""

import os
import sys
import tempfile
import unittest

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

import web_rig

RELAYD = None
PHONE = {"deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 3.0}}


def browser(phone=False, self_signed=False):
    options = Options()
    if self_signed:
        # The test's throwaway certificate, which no authority signed.
        options.accept_insecure_certs = True
        options.add_argument("--ignore-certificate-errors")
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,900"):
        options.add_argument(argument)
    if phone:
        options.add_experimental_option("mobileEmulation", PHONE)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def state_text(driver, relay):
    for element in driver.find_elements(By.CSS_SELECTOR, ".relay .state"):
        if element.text.startswith("relay %d state:" % relay):
            return element.text
    return None


def wait_for_state(driver, relay, value, deadline_s=5):
    want = "relay %d state: %s" % (relay, value)
    try:
        WebDriverWait(driver, deadline_s, poll_frequency=0.02).until(lambda d: state_text(d, relay) == want)
    except TimeoutException:
        raise AssertionError("page shows %r, not %r" % (state_text(driver, relay), want))


def button(driver, name):
    return driver.find_element(By.CSS_SELECTOR, 'button[aria-label="%s"]' % name)


class web_page_in_a_browser(unittest.TestCase):
    def start(self, **kwargs):
        relayd = web_rig.Relayd(RELAYD, **kwargs)
        self.addCleanup(relayd.stop)
        return relayd

    def open(self, phone=False, self_signed=False):
        driver = browser(phone, self_signed)
        self.addCleanup(driver.quit)
        return driver

    def test_click_relay_2_on_switches_the_board_and_the_page_follows(self):
        relayd = self.start()
        driver = self.open(phone=True)
        driver.get(relayd.origin + "/")
        wait_for_state(driver, 2, "off")
        self.assertEqual(driver.find_element(By.CSS_SELECTOR, ".board h2").text, "board")
        self.assertEqual(driver.find_element(By.CSS_SELECTOR, ".board .link").text, "link: answering")

        button(driver, "relay 2 on").click()
        wait_for_state(driver, 2, "on")
        self.assertEqual(relayd.control({"cmd": "status"})["relays"]["2"], "on",
                         "the simulated board itself reports relay 2 on")
        for other in (1, 3, 4):
            self.assertEqual(state_text(driver, other), "relay %d state: off" % other)

        # A change from another client shows without a reload.
        self.assertTrue(relayd.control({"cmd": "off", "relay": 2})["ok"])
        wait_for_state(driver, 2, "off")

    def test_named_relays_and_a_pulse_button_from_the_configuration(self):
        relayd = self.start(board_keys=["relay2 = pump", "pulse2 = 300ms"])
        driver = self.open()
        driver.get(relayd.origin + "/")
        want = "pump state: off"
        WebDriverWait(driver, 5, poll_frequency=0.02).until(
            lambda d: any(e.text == want for e in d.find_elements(By.CSS_SELECTOR, ".relay .state")))
        self.assertEqual(button(driver, "pump on").text, "on")
        pulses = driver.find_elements(By.CSS_SELECTOR, "button.pulse")
        self.assertEqual([b.get_attribute("aria-label") for b in pulses], ["pump pulse"],
                         "only the relay with a configured pulse has a pulse button")

        # The page itself records each text its state takes: a 300 ms "on"
        # is too short to be sure of catching by polling from the test.
        driver.execute_script("""
            const state = [...document.querySelectorAll('.relay .state')]
                .find(e => e.textContent.startsWith('pump state:'));
            window.pumpSeen = [];
            new MutationObserver(() => window.pumpSeen.push(state.textContent))
                .observe(state, {childList: true, characterData: true, subtree: true});""")
        mark = len(relayd.read_log())
        button(driver, "pump pulse").click()

        def on_then_off(d):
            seen = d.execute_script("return window.pumpSeen")
            return "pump state: on" in seen and seen[-1] == "pump state: off"

        WebDriverWait(driver, 10, poll_frequency=0.05).until(on_then_off)
        relayd.wait_for_log(r'command "pulse relay 2 for 300 ms" from web page from [^ ]+: confirmed', start=mark)
        self.assertEqual(relayd.control({"cmd": "status"})["relays"]["2"], "off",
                         "the board ends the pulse with relay 2 off")

    def test_fits_a_phone_with_thumb_sized_buttons(self):
        relayd = self.start()
        driver = self.open(phone=True)
        driver.get(relayd.origin + "/")
        wait_for_state(driver, 1, "off")
        widths = driver.execute_script(
            "return [document.documentElement.scrollWidth, document.documentElement.clientWidth, innerWidth]")
        self.assertEqual(widths[2], 390, "the phone's width is emulated")
        self.assertLessEqual(widths[0], widths[1], "no sideways scrolling")
        for relay in range(1, 5):
            for word in ("on", "off"):
                b = button(driver, "relay %d %s" % (relay, word))
                self.assertGreaterEqual(b.size["height"], 44, b.get_attribute("aria-label"))
                self.assertGreaterEqual(b.size["width"], 44, b.get_attribute("aria-label"))
                right = b.location["x"] + b.size["width"]
                self.assertLessEqual(right, 390, b.get_attribute("aria-label") + " is on the screen")

    def test_the_keyboard_alone_switches_a_relay(self):
        relayd = self.start()
        driver = self.open()
        driver.get(relayd.origin + "/")
        wait_for_state(driver, 3, "off")
        body = driver.find_element(By.TAG_NAME, "body")
        focused = None
        for _ in range(20):
            body.send_keys(Keys.TAB) if focused is None else driver.switch_to.active_element.send_keys(Keys.TAB)
            focused = driver.switch_to.active_element.get_attribute("aria-label")
            if focused == "relay 3 on":
                break
        self.assertEqual(focused, "relay 3 on", "Tab reaches the button")
        driver.switch_to.active_element.send_keys(Keys.SPACE)
        wait_for_state(driver, 3, "on")
        driver.switch_to.active_element.send_keys(Keys.TAB)
        self.assertEqual(driver.switch_to.active_element.get_attribute("aria-label"), "relay 3 off")
        driver.switch_to.active_element.send_keys(Keys.ENTER)
        wait_for_state(driver, 3, "off")

    def test_states_are_announced_as_they_change(self):
        relayd = self.start()
        driver = self.open()
        driver.get(relayd.origin + "/")
        wait_for_state(driver, 4, "off")
        for element in driver.find_elements(By.CSS_SELECTOR, ".relay .state"):
            self.assertEqual(element.get_attribute("aria-live"), "polite")
            self.assertEqual(element.get_attribute("aria-atomic"), "true")

    def test_login_wrong_then_right_password(self):
        relayd = self.start(password="correct horse")
        driver = self.open()
        driver.get(relayd.origin + "/")
        field = driver.find_element(By.CSS_SELECTOR, 'input[type="password"]')
        self.assertEqual(driver.find_elements(By.CSS_SELECTOR, ".relay"), [], "no relay before the login")
        field.send_keys("wrong horse" + Keys.ENTER)
        WebDriverWait(driver, 10, poll_frequency=0.05).until(
            lambda d: "Wrong password." in d.find_element(By.TAG_NAME, "body").text)
        relayd.wait_for_log(r"wrong password from 127\.0\.0\.1")

        field = driver.find_element(By.CSS_SELECTOR, 'input[type="password"]')
        field.send_keys("correct horse" + Keys.ENTER)
        # The first wrong password's delay is over by now, or the form says
        # to wait: then the right one is sent again.
        try:
            wait_for_state(driver, 1, "off", deadline_s=5)
        except AssertionError:
            driver.find_element(By.CSS_SELECTOR, 'input[type="password"]').send_keys("correct horse" + Keys.ENTER)
            wait_for_state(driver, 1, "off", deadline_s=10)
        cookies = {c["name"]: c for c in driver.get_cookies()}
        self.assertIn("relay_session", cookies)
        self.assertTrue(cookies["relay_session"]["httpOnly"])
        self.assertEqual(cookies["relay_session"]["sameSite"], "Strict")
        self.assertFalse(cookies["relay_session"]["secure"], "plain HTTP here")
        button(driver, "relay 1 on").click()
        wait_for_state(driver, 1, "on")

    def test_over_https_the_page_logs_in_switches_over_wss_with_a_secure_cookie(self):
        folder = tempfile.mkdtemp(prefix="relayd-web-tls-")
        cert, key = web_rig.self_signed_certificate(folder)
        relayd = self.start(password="correct horse", folder=folder,
                            extra_http=["cert_file = " + cert, "key_file = " + key])
        self.assertTrue(relayd.origin.startswith("https://"), relayd.origin)
        driver = self.open(self_signed=True)
        driver.get(relayd.origin + "/")
        driver.find_element(By.CSS_SELECTOR, 'input[type="password"]').send_keys("correct horse" + Keys.ENTER)
        wait_for_state(driver, 2, "off", deadline_s=10)
        self.assertTrue(driver.current_url.startswith("https://"), driver.current_url)
        cookies = {c["name"]: c for c in driver.get_cookies()}
        self.assertTrue(cookies["relay_session"]["secure"], "Secure under HTTPS")
        self.assertTrue(cookies["relay_session"]["httpOnly"])
        button(driver, "relay 2 on").click()
        wait_for_state(driver, 2, "on")
        self.assertEqual(relayd.control({"cmd": "status"})["relays"]["2"], "on")
        self.assertTrue(relayd.control({"cmd": "off", "relay": 2})["ok"])
        wait_for_state(driver, 2, "off")

    def test_a_silent_board_shows_unknown_and_its_link_silent(self):
        board = web_rig.BoardSim(os.environ["RELAY_BOARD_SIM"])
        self.addCleanup(board.stop)
        relayd = self.start(device=board.device)
        driver = self.open()
        driver.get(relayd.origin + "/")
        button(driver, "relay 3 on").click()
        wait_for_state(driver, 3, "on")
        self.assertEqual(driver.find_element(By.CSS_SELECTOR, ".board .link").text, "link: answering")
        board.silence()
        # The watchdog's time is a few poll periods; the deadline is generous.
        for relay in range(1, 5):
            wait_for_state(driver, relay, "unknown", deadline_s=10)
        WebDriverWait(driver, 10, poll_frequency=0.05).until(
            lambda d: d.find_element(By.CSS_SELECTOR, ".board .link").text == "link: silent")
        self.assertEqual(driver.find_element(By.ID, "connection").text, "connected to relayd",
                         "relayd itself is still there")

    def test_reconnects_by_itself_when_relayd_restarts(self):
        relayd = self.start()
        driver = self.open()
        driver.get(relayd.origin + "/")
        wait_for_state(driver, 2, "off")
        relayd.stop()
        wait_for_state(driver, 2, "unknown")
        WebDriverWait(driver, 5).until(
            lambda d: d.find_element(By.ID, "connection").text.startswith("relayd unreachable"))
        again = self.start(http=str(relayd.port))
        self.assertTrue(again.control({"cmd": "on", "relay": 2})["ok"])
        wait_for_state(driver, 2, "on", deadline_s=15)
        self.assertEqual(driver.find_element(By.ID, "connection").text, "connected to relayd")

    def test_a_websocket_from_another_origin_is_refused(self):
        relayd = self.start()
        for origin in ("http://evil.example", "http://127.0.0.1:1", None):
            ws = web_rig.WebSocket(relayd.port, origin=origin)
            self.assertEqual(ws.status, 403, origin)
            ws.close()
        ws = web_rig.WebSocket(relayd.port, origin=relayd.origin)
        self.assertEqual(ws.status, 101)
        ws.close()


if __name__ == "__main__":
    RELAYD = sys.argv.pop(1)
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    unittest.main()
