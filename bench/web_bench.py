#!/usr/bin/python3
"""The page in headless Chromium against the native zelp on the 128 MiB,
20,000-change case: from the choice of the file (CHOOSING seconds after the
patch is shown, 1 unless the environment says otherwise) to the download
being ready, with the split the page measures (reading the file into the
page, CRC-32, the record passes, building the download), and on to the
checksums of the file (MD5 and SHA-1 from the page's second worker) and of
the result being shown, against `zelp apply` on a copy. Prints a Markdown
table of medians, and the load average before and after.

usage: bench/web_bench.py ZELP ZELP_BENCH_GEN PAGE_DIR DATA_DIR [RUNS]"""
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from browser import Page, Server  # noqa: E402

zelp, gen, page_dir, data = (os.path.abspath(a) for a in sys.argv[1:5])
runs = int(sys.argv[5]) if len(sys.argv) > 5 else 5
CHOOSING = float(os.environ.get("CHOOSING", "1"))
os.makedirs(data, exist_ok=True)
os.chdir(data)
if not os.path.exists("old.rom"):
    subprocess.run([gen, "rom", "old.rom", str(128 << 20), "1"], check=True)
if not os.path.exists("new.rom"):
    subprocess.run([gen, "mutate", "old.rom", "new.rom", "20000", "32", "2"], check=True)
if os.path.exists("web.zelp"):
    os.remove("web.zelp")  # made afresh, without zelp's note that it replaces a file
subprocess.run([zelp, "create", "old.rom", "new.rom", "-o", "web.zelp"], check=True,
               stdout=subprocess.DEVNULL)
with open("new.rom", "rb") as f:
    expected = f.read()

# Native: the copy the page's result stands for, then zelp apply on it.
native_apply, native_copy_apply = [], []
for _ in range(runs + 1):
    t0 = time.perf_counter()
    shutil.copyfile("old.rom", "native.rom")
    t1 = time.perf_counter()
    subprocess.run([zelp, "apply", "web.zelp", "native.rom"], check=True, stdout=subprocess.DEVNULL)
    t2 = time.perf_counter()
    native_apply.append((t2 - t1) * 1000)
    native_copy_apply.append((t2 - t0) * 1000)
with open("native.rom", "rb") as f:
    assert f.read() == expected, "native result differs"
os.remove("native.rom")

# zelp apply -o (the target left alone, the result written beside), where
# this zelp has it.
native_out = []
for _ in range(runs + 1):
    t0 = time.perf_counter()
    run = subprocess.run([zelp, "apply", "web.zelp", "old.rom", "-o", "native.rom"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if run.returncode != 0:
        native_out = []
        break
    native_out.append((time.perf_counter() - t0) * 1000)
    os.remove("native.rom")

server = Server(page_dir)
page = Page(server.url)
split = {k: [] for k in ("total", "read", "crc", "records", "download", "other", "fileSumsAt",
                         "fileSumsMs", "fileHashMs", "resultSumsAt", "resultSumsMs")}
load = [os.getloadavg()[0]]
try:
    for i in range(runs + 1):
        page.open()
        page.pick("patch-file", "web.zelp")
        page.wait(lambda d: page.el("target-file").is_enabled())
        # A person takes longer than this to choose the file; the page
        # readies its memory meanwhile.
        time.sleep(CHOOSING)
        page.pick("target-file", "old.rom")
        kind, text = page.outcome("apply-status")
        assert kind == "good", text
        if i == 0:  # warm-up run; its download is checked once, for real
            name, got = page.download("download")
            assert got == expected, "the page's result differs"
            continue
        # The checksums follow the download.
        page.wait(lambda d: d.execute_script(
            "const l = window.zelpLast || {}; return l.resultSumsAt && l.fileSumsAt"))
        last = page.driver.execute_script("return window.zelpLast")
        last["other"] = last["total"] - sum(last[k] for k in ("read", "crc", "records", "download"))
        for k in split:
            split[k].append(last[k])
finally:
    page.close()
    server.close()
load.append(os.getloadavg()[0])

med = {k: statistics.median(v) for k, v in split.items()}
napply = statistics.median(native_apply[1:])
ncopy = statistics.median(native_copy_apply[1:])
print("#### 128 MiB, 20,000 changes: the page in headless Chromium vs native (medians of %d)" % runs)
print()
print("(the file chosen %g s after the patch is shown; load average %.1f before, %.1f after)"
      % (CHOOSING, load[0], load[1]))
print()
print("(each part is its own median, so the parts need not add up to the total)")
print()
print("| | ms |")
print("|---|---:|")
print("| page: file chosen -> download ready | %.0f |" % med["total"])
print("| - reading the file into the page | %.0f |" % med["read"])
print("| - CRC-32 | %.0f |" % med["crc"])
print("| - records (checking pass + writing pass) | %.0f |" % med["records"])
print("| - building the download (Blob) | %.0f |" % med["download"])
print("| - the rest (messages between page and worker) | %.0f |" % med["other"])
print("| file chosen -> its CRC-32, MD5 and SHA-1 shown (second worker) | %.0f |"
      % med["fileSumsAt"])
print("| - their time in the second worker (reading + hashing) | %.0f |" % med["fileSumsMs"])
print("| - of which hashing | %.0f |" % med["fileHashMs"])
print("| file chosen -> the result's shown (after the download is offered) | %.0f |"
      % med["resultSumsAt"])
print("| - their time in the engine's worker | %.0f |" % med["resultSumsMs"])
print("| native `zelp apply` (in place) | %.0f |" % napply)
print("| native copy + `zelp apply` | %.0f |" % ncopy)
if native_out:
    nout = statistics.median(native_out[1:])
    print("| native `zelp apply -o` | %.0f |" % nout)
print()
print("page / native copy + apply: %.2fx; page / native apply: %.2fx"
      % (med["total"] / ncopy, med["total"] / napply)
      + ("; page / native apply -o: %.2fx" % (med["total"] / nout) if native_out else ""))
