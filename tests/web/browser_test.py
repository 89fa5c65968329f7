#!/usr/bin/python3
"""The page in headless Chromium, held to the native rzt2 on the same files.

The page is served on 127.0.0.1 by scripts/serve-web: cross-origin isolated
(the module with WebAssembly threads) and without the isolation headers
(the module without). In both, a batch of pictures gives the maps rzt2
convert --ignore-settings makes, byte for byte but for the random block
(bytes 64 to 103), for the built-in and the fitted palette; a damaged
picture, a PDF and a picture over the memory budget each show their
message and cause beside them while the others are made; Cancel stops a
batch and the page goes on. The viewer's canvas shows the pixels rzt2
export gives, and a damaged frame's cause; an export to PNG is rzt2
export's; the settings outlast a reload. No request leaves 127.0.0.1, and
once loaded the page works with its server gone (the service worker).

RZT2_WEB_DIST is the built page (scripts/build-web), RZT2 the native rzt2.
"""
import base64
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from pathlib import Path

from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

ROOT = Path(__file__).resolve().parents[2]
DIST = Path(os.environ.get("RZT2_WEB_DIST", ROOT / "build" / "web" / "dist")).resolve()
RZT2 = Path(os.environ.get("RZT2", ROOT / "build" / "release" / "rzt2")).resolve()
WORK = Path(tempfile.mkdtemp(prefix="rzt2-browser-"))
PICTURES = WORK / "pictures"
BATCH = ["opaque.png", "photo.jpg", "clear.png"]
MAPS = ["opaque.rzt2", "photo.rzt2", "clear.rzt2"]


def make_pictures():
    PICTURES.mkdir()
    subprocess.run(["/usr/bin/python3", str(Path(__file__).with_name("make_pictures.py")), str(PICTURES)],
                   check=True)
    # A picture larger than the viewer's canvas at 100 %.
    Image.open(PICTURES / "opaque.png").resize((1100, 900)).save(PICTURES / "wide.png")


def native(args, names, cwd=PICTURES):
    """rzt2's outputs {name: bytes} and report lines {input: line}."""
    out = Path(tempfile.mkdtemp(dir=WORK))
    run = subprocess.run([str(RZT2), *args, "--ignore-settings", "-q", "-j", "1", "-o", str(out), "--report", "-",
                          *names], cwd=cwd, capture_output=True, text=True)
    report = {line["input"]: line for line in map(json.loads, run.stdout.split("\n")[:-1])}
    return {path.name: path.read_bytes() for path in out.iterdir()}, report


def masked(data):
    return data[:64] + data[104:]


class Server:
    """scripts/serve-web on a free port; its log counts the requests."""

    def __init__(self, isolated):
        args = [sys.executable, str(ROOT / "scripts" / "serve-web"), "--port", "0", str(DIST)]
        self.process = subprocess.Popen(args + ([] if isolated else ["--no-isolation"]), stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        self.url = self.process.stdout.readline().split(" at ")[1].strip()

    def stop(self):
        self.process.terminate()
        self.process.wait()


class Page:
    """Chromium on a page, with a folder of its own for downloads."""

    def __init__(self, url):
        self.url = url
        self.profile = tempfile.mkdtemp(dir=WORK)
        self.downloads = Path(tempfile.mkdtemp(dir=WORK))
        options = Options()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless=new --no-sandbox --disable-gpu --disable-quic --no-first-run "
                     "--disable-background-networking --disable-component-update --disable-sync "
                     "--disable-dev-shm-usage --window-size=900,700").split():
            options.add_argument(flag)
        options.add_argument(f"--user-data-dir={self.profile}")
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": str(self.downloads)})
        self.requested = []
        self.load()

    def quit(self):
        self.driver.quit()

    def load(self):
        self.driver.get(self.url)
        self.wait(lambda: "Ready" in self.text("#engine") or "could not" in self.text("#engine"))
        assert "Ready" in self.text("#engine"), self.text("#engine")

    def wait(self, condition, timeout=180):
        """Until condition holds; one that fails an assertion (a row not
        listed yet) does not hold."""

        def holds(_):
            try:
                return condition()
            except AssertionError:
                return False

        WebDriverWait(self.driver, timeout, poll_frequency=0.1).until(holds)

    def find(self, selector):
        return self.driver.find_element(By.CSS_SELECTOR, selector)

    def text(self, selector):
        return self.find(selector).text

    def outside(self, server):
        """The URLs asked of the network but not of the page's server; the
        browser's own pages (chrome://) are no network request."""
        return [url for url in self.requests() if url.startswith(("http:", "https:", "ws:", "wss:", "ftp:"))
                and not url.startswith(server.url)]

    def requests(self):
        """The URLs the page asked for."""
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                self.requested.append(message["params"]["request"]["url"])
        return self.requested

    def add(self, paths):
        self.find("#file-input").send_keys("\n".join(str(path) for path in paths))

    def set_setting(self, name, value):
        if not self.find("#settings-panel").get_attribute("open"):
            self.find("#settings-panel summary").click()
        Select(self.find(f"#setting-{name}")).select_by_value(str(value))

    def row(self, listed, name):
        for row in self.driver.find_elements(By.CSS_SELECTOR, f"#{listed} > li"):
            if row.find_element(By.CSS_SELECTOR, ".file-name").text == name:
                return row
        raise AssertionError(f"{name} is not in the {listed} list")

    def state(self, listed, name):
        return self.row(listed, name).find_element(By.CSS_SELECTOR, ".file-state").text

    def run(self, button):
        self.find(button).click()
        self.wait(lambda: not self.find("#progress").is_displayed())

    def download(self, name):
        path = self.downloads / name
        self.wait(lambda: path.exists() and not any(self.downloads.glob("*.crdownload")), 60)
        data = path.read_bytes()
        path.unlink()
        return data

    def view_at_full_size(self, name):
        """Opens the listed map in the viewer and zooms in to 100 %."""
        self.wait(lambda: "1100 × 900" in self.row("maps", name).text)
        self.row("maps", name).find_element(By.CSS_SELECTOR, ".view").click()
        self.wait(lambda: self.text("[data-status=zoom]") != "")
        for _ in range(12):
            if self.text("[data-status=zoom]") == "Zoom 100 %":
                break
            self.find(".viewer-canvas").send_keys("+")

    def canvas(self):
        url = self.driver.execute_script("return document.querySelector('.viewer-canvas').toDataURL('image/png')")
        return Image.open(io.BytesIO(base64.b64decode(url.split(",")[1]))).convert("RGB")


class PageTest:
    isolated = None

    @classmethod
    def setUpClass(cls):
        cls.server = Server(cls.isolated)
        cls.page = Page(cls.server.url)

    @classmethod
    def tearDownClass(cls):
        cls.page.quit()
        cls.server.stop()

    def tearDown(self):
        self.assertEqual(self.page.outside(self.server), [])

    def test_module(self):
        self.assertIn("threads" if self.isolated else "one thread", self.page.text("#engine"))

    def test_batch_as_rzt2_makes_it_and_failures_beside_their_files(self):
        page = self.page
        for palette in (1, 0):
            page.load()
            page.set_setting("PaletteMode", palette)
            page.load()  # the settings outlast a visit
            self.assertEqual(Select(page.find("#setting-PaletteMode")).first_selected_option.get_attribute("value"),
                             str(palette))
            names = BATCH + ["broken.png", "drawing.pdf", "huge.png"]
            page.add(PICTURES / name for name in names)
            page.run("#create")
            # rzt2 would draw the PDF, and make room for the huge picture.
            made, report = native(["convert", "--palette", ["fixed", "adaptive"][palette]], names[:4])
            with zipfile.ZipFile(io.BytesIO(page.download("rzt2-maps.zip"))) as archive:
                self.assertIsNone(archive.testzip())
                self.assertEqual(sorted(archive.namelist()), sorted(MAPS))
                for name in MAPS:
                    web = archive.read(name)
                    self.assertEqual(len(web), len(made[name]), name)
                    self.assertTrue(masked(web) == masked(made[name]), f"{name}, palette {palette}: bytes differ")
            for name in BATCH:
                self.assertEqual(page.state("pictures", name), f"Made {name.rsplit('.', 1)[0]}.rzt2")
            self.assertEqual(page.state("pictures", "broken.png"),
                             f"Error loading file broken.png!\n{report['broken.png']['cause']}")
            self.assertEqual(page.state("pictures", "drawing.pdf"),
                             "Error loading file drawing.pdf!\nPDF pictures are converted by the desktop program "
                             "rzt2tool and the command-line tool rzt2, not in the browser")
            # The worker's budget: half the memory the browser reports, at
            # most 3 GiB; a decoder may take six bytes a pixel.
            budget = min(page.driver.execute_script("return navigator.deviceMemory") * 2**29, 3 * 2**30)
            self.assertEqual(page.state("pictures", "huge.png"),
                             "Error loading file huge.png!\nneeds more memory than the browser grants: pictures "
                             f"of at most {budget // 6 // 10**6} megapixels are converted here")
            self.assertEqual(len(page.driver.find_elements(By.CSS_SELECTOR, "#maps > li")), 3)

    def test_cancel_stops_the_batch_and_the_page_goes_on(self):
        page = self.page
        page.load()
        page.add([PICTURES / "large.png", PICTURES / "opaque.png"])
        page.find("#create").click()
        page.wait(lambda: "Writing frames" in page.text("#progress-label"))
        page.find("#cancel").click()
        page.wait(lambda: not page.find("#progress").is_displayed())
        self.assertEqual([page.state("pictures", "large.png"), page.state("pictures", "opaque.png")],
                         ["Cancelled", "Cancelled"])
        self.assertFalse(any(page.downloads.iterdir()))
        page.run("#create")
        self.assertEqual(page.state("pictures", "opaque.png"), "Made opaque.rzt2")
        page.download("rzt2-maps.zip")


class IsolatedPageTest(PageTest, unittest.TestCase):
    isolated = True

    def test_viewer_shows_the_frames_as_rzt2_exports_them_and_marks_damage(self):
        page = self.page
        page.load()
        made, _ = native(["convert", "--frame", "64x48"], ["wide.png"])
        map_path = WORK / "wide.rzt2"
        map_path.write_bytes(made["wide.rzt2"])
        exported, _ = native(["export", "--format", "png"], [str(map_path)])
        page.add([map_path])
        page.view_at_full_size("wide.rzt2")
        self.assertEqual(page.text("[data-status=level]"), "Level 100 %")
        page.find(".viewer-canvas").send_keys(Keys.LEFT * 6 + Keys.UP * 6)
        expected = Image.open(io.BytesIO(exported["wide.png"])).convert("RGB")
        shown = {}

        def matches():
            shown["canvas"] = page.canvas()
            width, height = shown["canvas"].size
            return shown["canvas"].tobytes() == expected.crop((0, 0, width, height)).tobytes()

        try:
            page.wait(matches, 30)
        except Exception:
            self.fail(f"the canvas ({shown['canvas'].size}) differs from rzt2's export")
        page.find("[data-action=close]").click()

        # Its level 0's shared prefix spoilt: every frame there fails.
        info = json.loads(subprocess.run([str(RZT2), "info", "--json", str(map_path)], capture_output=True,
                                         text=True, check=True).stdout)[0]
        damaged = bytearray(made["wide.rzt2"])
        prefix = info["levels"][0]["prefixOffset"]
        damaged[prefix:prefix + 6] = b"XXXXXX"
        damaged_path = WORK / "damaged.rzt2"
        damaged_path.write_bytes(damaged)
        page.add([damaged_path])
        page.view_at_full_size("damaged.rzt2")
        page.wait(lambda: page.text("[data-status=damage]").startswith("frame "), 30)
        self.assertRegex(page.text("[data-status=damage]"), r"^frame \d+, \d+ of level 0: .+")
        page.find("[data-action=close]").click()

    def test_export_to_png_and_info_as_rzt2_gives_them(self):
        page = self.page
        page.load()
        made, _ = native(["convert"], ["opaque.png"])
        map_path = WORK / "opaque.rzt2"
        map_path.write_bytes(made["opaque.rzt2"])
        exported, _ = native(["export", "--format", "png"], [str(map_path)])
        page.add([map_path])
        page.wait(lambda: "413 × 287" in page.row("maps", "opaque.rzt2").text)
        Select(page.find("#export-format")).select_by_value("png")
        page.run("#export")
        self.assertEqual(page.download("opaque.png"), exported["opaque.png"])
        self.assertEqual(page.state("maps", "opaque.rzt2"), "Exported opaque.png")

        info = subprocess.run([str(RZT2), "info", str(map_path)], capture_output=True, text=True).stdout
        page.row("maps", "opaque.rzt2").find_element(By.XPATH, ".//button[text()='Info']").click()
        shown = page.row("maps", "opaque.rzt2").find_element(By.CSS_SELECTOR, ".map-info").text
        self.assertEqual(shown.splitlines()[0], "opaque.rzt2")
        for line in info.splitlines()[1:5]:
            term, text = line.split(None, 1)
            self.assertIn(f"{term}\n{text}", shown)

    def test_offline_once_loaded_and_nothing_asked_of_the_server(self):
        server = Server(True)
        page = Page(server.url)
        try:
            page.wait(lambda: page.driver.execute_script("return navigator.serviceWorker.controller !== null"), 60)
            server.stop()
            page.load()
            page.add([PICTURES / "opaque.png"])
            page.run("#create")
            made, _ = native(["convert"], ["opaque.png"])
            self.assertEqual(masked(page.download("opaque.rzt2")), masked(made["opaque.rzt2"]))
            self.assertEqual(page.outside(server), [])
        finally:
            page.quit()


class PlainPageTest(PageTest, unittest.TestCase):
    isolated = False


if __name__ == "__main__":
    try:
        make_pictures()
        unittest.main(verbosity=2)
    finally:
        shutil.rmtree(WORK)
