"""Pictures of relayd's web page in headless chromium: a phone 390 px wide
and a desktop, light and dark, with relay 2 on and the board answering;
and the login form. Called by scripts/screenshots.sh.

    python3 page_screenshots.py RELAYD OUTPUT_FOLDER
"""

import os
import sys

from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser_test  # noqa: E402
import web_rig  # noqa: E402


def shoot(driver, url, scheme, path, state_ready=True):
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia",
                           {"features": [{"name": "prefers-color-scheme", "value": scheme}]})
    driver.get(url)
    if state_ready:
        browser_test.wait_for_state(driver, 2, "on")
    else:
        driver.find_element(By.CSS_SELECTOR, 'input[type="password"]')
    # The whole page, however long.
    height = driver.execute_script("return document.documentElement.scrollHeight")
    width = driver.execute_script("return document.documentElement.clientWidth")
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 0 if width > 500 else 2,
                            "mobile": width <= 500})
    driver.save_screenshot(path)
    driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
    print(path)


def main():
    relayd_path, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    relayd = web_rig.Relayd(relayd_path, board_keys=["relay3 = pump", "pulse3 = 500ms"])
    try:
        assert relayd.control({"cmd": "on", "relay": 2})["ok"]
        for phone, prefix in ((True, "web-phone"), (False, "web-desktop")):
            driver = browser_test.browser(phone)
            try:
                for scheme in ("light", "dark"):
                    shoot(driver, relayd.origin + "/", scheme, os.path.join(out, "%s-%s.png" % (prefix, scheme)))
            finally:
                driver.quit()
    finally:
        relayd.stop()
    login = web_rig.Relayd(relayd_path, password="picture")
    try:
        driver = browser_test.browser(True)
        try:
            for scheme in ("light", "dark"):
                shoot(driver, login.origin + "/", scheme, os.path.join(out, "web-login-%s.png" % scheme), False)
        finally:
            driver.quit()
    finally:
        login.stop()


if __name__ == "__main__":
    main()
