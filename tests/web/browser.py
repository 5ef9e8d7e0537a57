"""The built page served on 127.0.0.1 and driven in headless Chromium, for
the page's tests and the browser benchmark. Debian's python3-selenium,
chromium and chromium-driver; nothing is downloaded."""
import base64
import functools
import http.server
import os
import shutil
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


class _Quiet(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}

    def log_message(self, *args):
        pass


class Server:
    """Serves `folder` on a free port of 127.0.0.1 until closed."""

    def __init__(self, folder):
        handler = functools.partial(_Quiet, directory=folder)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Page:
    """One headless Chromium on the served page, downloads into a folder of
    its own."""

    def __init__(self, url, width=1000, height=1300, phone=False, lang="en-US"):
        self.downloads = tempfile.mkdtemp(prefix="zelp-web-dl-")
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                    "--disable-gpu", "--window-size=%d,%d" % (width, height), "--lang=" + lang):
            options.add_argument(arg)
        # The browser's language, which the page starts in.
        options.add_experimental_option("prefs", {"intl.accept_languages": lang})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.execute_cdp_cmd("Page.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": self.downloads})
        self.phone = phone
        if phone:
            # A desktop window cannot be made this narrow; the viewport can.
            self.emulate(width, height)
        self.url = url
        self.open()

    def emulate(self, width, height):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": True})

    def open(self):
        self.driver.get(self.url)
        self.wait(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.downloads, ignore_errors=True)

    def el(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def wait(self, condition, timeout=120):
        return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(condition)

    def pick(self, input_id, path):
        """Chooses `path` in a file input, as the user would in the chooser."""
        self.el(input_id).send_keys(os.path.abspath(path))

    def drop(self, zone_id, path):
        """Drops `path` onto a drop zone, as a drag from the file manager would
        (the file made in the page from its bytes)."""
        with open(path, "rb") as f:
            data = base64.b64encode(f.read()).decode()
        self.driver.execute_script("""
            const bytes = Uint8Array.from(atob(arguments[1]), (c) => c.charCodeAt(0));
            const dt = new DataTransfer();
            dt.items.add(new File([bytes], arguments[2]));
            const zone = document.getElementById(arguments[0]);
            zone.dispatchEvent(new DragEvent('dragover', {dataTransfer: dt, bubbles: true}));
            zone.dispatchEvent(new DragEvent('drop', {dataTransfer: dt, bubbles: true}));
        """, zone_id, data, os.path.basename(path))

    def outcome(self, status_id, timeout=300):
        """Waits for the status box to settle; returns (kind, text)."""
        box = self.el(status_id)
        self.wait(lambda d: box.get_attribute("data-outcome") in ("good", "bad"), timeout)
        return box.get_attribute("data-outcome"), box.text

    def reset_status(self, status_id):
        self.driver.execute_script(
            "const b = document.getElementById(arguments[0]); delete b.dataset.outcome;", status_id)

    def download(self, link_id, timeout=300):
        """Clicks the download link; returns the saved file's name and bytes."""
        link = self.el(link_id)
        name = link.get_attribute("download")
        before = set(os.listdir(self.downloads))
        link.click()
        path = os.path.join(self.downloads, name)
        deadline = time.time() + timeout
        while time.time() < deadline:
            busy = [f for f in os.listdir(self.downloads) if f.endswith(".crdownload")]
            if os.path.exists(path) and not busy and name not in before:
                with open(path, "rb") as f:
                    data = f.read()
                os.remove(path)
                return name, data
            time.sleep(0.05)
        raise AssertionError("no download of %r after %d s" % (name, timeout))

    def shot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        height = self.driver.execute_script("return document.documentElement.scrollHeight")
        width = self.driver.execute_script("return window.innerWidth")
        if self.phone:
            self.emulate(width, height)
        else:
            self.driver.set_window_size(width, height + 140)
        self.driver.save_screenshot(path)
