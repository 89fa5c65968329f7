#!/usr/bin/python3
"""bench/run-web-bench's measures: web_bench.py RZT2 DIST PICTURE.

The picture converted to PNG frames by the page in headless Chromium (its
own worker, timed by the page from the click on "Create RZT2 files" to the
end of the job): served without the isolation headers (one thread) against
rzt2 -j 1, then cross-origin isolated (threads, as many as Chromium
reports processors) against rzt2 -j 2; each twice, the faster kept. Then
what a page load fetches, compressed as a server would send it."""
import gzip
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "web"))
from browser_test import WORK, Page, Server  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402

rzt2, dist, picture = sys.argv[1:]


def native_seconds(threads):
    with tempfile.TemporaryDirectory() as out:
        start = time.monotonic()
        subprocess.run([rzt2, "convert", "-q", "--ignore-settings", "--format", "png", "-j", str(threads), "-o", out,
                        picture], check=True)
        return time.monotonic() - start


def page_seconds(page):
    page.load()
    if not page.find("#settings-panel").get_attribute("open"):
        page.find("#settings-panel summary").click()
    Select(page.find("#setting-EncoderCode")).select_by_visible_text("png")
    page.add([picture])
    page.run("#create")
    notice = page.text("#notice")
    match = re.search(r"1 map\(s\) made in ([0-9.]+) s", notice)
    if match is None:
        raise SystemExit(f"the page did not make the map: {notice}")
    for download in page.downloads.iterdir():
        download.unlink()
    return float(match.group(1))


for isolated, threads in ((False, 1), (True, 2)):
    server = Server(isolated)
    page = Page(server.url)
    try:
        variant = page.text("#engine")
        web = min(page_seconds(page) for _ in range(2))
    finally:
        page.quit()
        server.stop()
    native = min(native_seconds(threads) for _ in range(2))
    print(f"{Path(picture).name} to PNG frames, {variant}: page {web:.2f} s, rzt2 -j {threads} {native:.2f} s, "
          f"{web / native:.2f} times", flush=True)

# What a page load fetches: the page, the worker and one module.
page_files = ["index.html", "style.css", "app.js", "core-client.js", "settings-form.js", "files.js", "save.js",
              "zip.js", "viewer.js", "manifest.webmanifest", "icon.svg", "sw.js", "worker.js", "core.js"]
modules = {"plain": ["rzt2core.js", "rzt2core.wasm"],
           "threads": ["rzt2core-threads.js", "rzt2core-threads.wasm", "rzt2core-threads.worker.js"]}
brotli = ("const z = require('zlib'); let n = 0; for (const f of process.argv.slice(1)) n += "
          "z.brotliCompressSync(require('fs').readFileSync(f), {params: {[z.constants.BROTLI_PARAM_QUALITY]: 11}})"
          ".length; console.log(n);")
for variant, files in modules.items():
    paths = [Path(dist) / name for name in page_files + files]
    raw = sum(path.stat().st_size for path in paths)
    gzipped = sum(len(gzip.compress(path.read_bytes(), 9)) for path in paths)
    brotlied = int(subprocess.run(["node", "-e", brotli, *map(str, paths)], capture_output=True, text=True,
                                  check=True).stdout)
    mib = lambda n: f"{n / 2**20:.2f} MiB"  # noqa: E731
    print(f"page load ({variant}): {mib(raw)}, gzip -9 {mib(gzipped)}, brotli {mib(brotlied)}")
shutil.rmtree(WORK)
