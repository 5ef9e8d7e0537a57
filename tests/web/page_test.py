"""The page in headless Chromium against the native zelp: what it shows, what
it downloads, what it refuses.

usage: /usr/bin/python3 tests/web/page_test.py ZELP PAGE_DIR SHOTS_DIR
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Page, Server  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

ZELP, PAGE_DIR, SHOTS = (os.path.abspath(a) for a in sys.argv[1:4])
STUB = os.path.join(PAGE_DIR, "zelp-stub.exe")
CAPTION = "ZELP补丁程序(Varnel版) 3.0.2007.09290"
CRC_REFUSAL = "目标文件没有通过CRC32验证"
DESCRIPTION = "汉化补丁 v1.2\r\n第二行: 说明\r\n\r\nEnglish line three"
# CRC-32, MD5 and SHA-1 as zelp prints them (on one line) and the page (a line each).
SUMS = re.compile(r"CRC-32 ([0-9A-F]{8})[,\s]+MD5 ([0-9a-f]{32})[,\s]+SHA-1 ([0-9a-f]{40})")


def zelp(*args, ok=True, cwd=None):
    run = subprocess.run([ZELP, *args], capture_output=True, cwd=cwd)
    if ok and run.returncode != 0:
        raise AssertionError("zelp %s: %s" % (" ".join(args), run.stderr.decode()))
    return run


def scattered(data, changes, seed):
    """`data` with `changes` runs of 1-32 bytes rewritten at random places."""
    rng = random.Random(seed)
    out = bytearray(data)
    for _ in range(changes):
        at = rng.randrange(len(out) - 32)
        n = rng.randint(1, 32)
        out[at:at + n] = bytes(rng.getrandbits(8) for _ in range(n))
    return bytes(out)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="zelp-web-")
        rng = random.Random(14)
        cls.original = bytes(rng.getrandbits(8) for _ in range(300_000))
        # Grows the file too, so that the resize is part of what is compared.
        cls.modified = scattered(cls.original, 40, 1) + b"\x00tail" * 1000
        cls.write("game.sfc", cls.original)
        cls.write("game-new.sfc", cls.modified)
        cls.write("readme.txt", DESCRIPTION.replace("\r\n", "\n").encode())
        cls.write("readme-utf16.txt", DESCRIPTION.encode("utf-16"))  # with its byte order mark
        zelp("create", cls.path("game.sfc"), cls.path("game-new.sfc"), "-o",
             cls.path("game-patch.exe"), "--description", cls.path("readme.txt"), "--stub", STUB)
        cls.server = Server(PAGE_DIR)
        cls.page = Page(cls.server.url)

    @classmethod
    def tearDownClass(cls):
        cls.page.close()
        cls.server.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir, name)

    @classmethod
    def write(cls, name, data):
        with open(cls.path(name), "wb") as f:
            f.write(data)
        return cls.path(name)

    def native_apply(self, patch, target_bytes):
        copy = self.write("native-target", target_bytes)
        zelp("apply", patch, copy)
        with open(copy, "rb") as f:
            return f.read()

    def load_patch(self, patch, drop=False):
        """Opens the page afresh and chooses (or drops) `patch`; returns its
        status."""
        p = self.page
        p.open()
        if drop:
            p.drop("drop-patch", patch)
        else:
            p.pick("patch-file", patch)
        p.wait(lambda d: p.el("target-file").is_enabled()
               or p.el("patch-status").get_attribute("data-outcome") == "bad")
        return p.el("patch-status").text

    def create_with_gbk_description(self, page):
        """The create tab given a description in GBK, as Chinese Windows writes it."""
        page.el("tab-create").click()
        page.pick("original-file", self.path("game.sfc"))
        page.pick("modified-file", self.path("game-new.sfc"))
        page.pick("description-file", self.write("gbk.txt", "汉化补丁".encode("gbk")))
        page.el("create").click()
        return page.outcome("create-status")

    def apply(self, target):
        self.page.pick("target-file", target)
        return self.page.outcome("apply-status")

    def test_apply_shows_what_the_dialog_shows_and_matches_native(self):
        p = self.page
        self.assertEqual(self.load_patch(self.path("game-patch.exe"), drop=True), "")
        info = zelp("info", self.path("game-patch.exe")).stdout.decode().split("\n")
        self.assertEqual(p.el("caption").text, CAPTION)
        self.assertEqual(p.el("summary").text, "\n".join(info[:3]))
        self.assertEqual(p.el("description").get_attribute("value"),
                         DESCRIPTION.replace("\r\n", "\n"))
        kind, text = self.apply(self.path("game.sfc"))
        self.assertEqual(kind, "good", text)
        self.assertIn("补丁成功", text)
        name, data = p.download("download")
        self.assertEqual(name, "game (patched).sfc")
        self.assertEqual(data, self.native_apply(self.path("game-patch.exe"), self.original))
        self.assertEqual(data, self.modified)
        p.shot(os.path.join(SHOTS, "apply.png"))

    def test_refusals_say_why_and_offer_nothing(self):
        patch = self.path("game-patch.exe")
        with open(patch, "rb") as f:
            program = f.read()
        other = self.write("other.sfc", scattered(self.original, 1, 2))
        headered = self.write("headered.sfc", b"\x00" * 512 + self.original)
        crc = zelp("info", patch).stdout.decode().split("\n")[1].split(": ")[1]
        # The patch cut inside its records, inside its header, and no patch.
        # A patch whose result would be 2 GiB, beyond what the page holds.
        header = (b"KOVA-PATCH3.0\0\0\0" + (2 << 30).to_bytes(8, "little") + bytes(4)
                  + (40).to_bytes(4, "little") + bytes(8))
        huge_result = self.write("huge.zelp", header + b"\xff")
        bad_type = self.write("bad-type.zelp", header + b"\x03")
        # A target beyond 1 GiB (sparse): refused before it is read.
        too_big = self.path("too-big.bin")
        with open(too_big, "wb") as f:
            f.truncate((1 << 30) + 1)
        base = os.path.getsize(STUB)  # the patch follows the dialog program
        cut_records = self.write("cut-records.exe", program[:base + 50])
        cut_header = self.write("cut-header.exe", program[:base + 20])
        cases = [
            # patch, target, what the page says (each fragment must appear)
            (patch, other, [CRC_REFUSAL, "this is not the file the patch was made for",
                            "expected CRC-32 %s, this file has " % crc, "(300,000 bytes)",
                            "Your file was not changed."]),
            (patch, self.path("game-new.sfc"), [CRC_REFUSAL, "this file is already patched"]),
            (patch, headered, [CRC_REFUSAL, "this file starts with a 512-byte copier header",
                               "apply it with --header: the patch then skips the header of 'headered.sfc'"]),
            (cut_records, None, ["the patch is damaged: it is cut short",
                                 "It cannot be applied to any file."]),
            (bad_type, None, ["the patch is damaged: a record of unknown type",
                              "the damage is at byte 40 of the patch file"]),
            (cut_header, None, ["初始化失败", "the patch is damaged: its header's target size is missing or invalid"]),
            (huge_result, self.path("game.sfc"),
             ["改变文件大小失败", "the patched file would be larger than 1 GiB"]),
            (patch, too_big, ["'too-big.bin' is 1,073,741,825 bytes, larger than 1 GiB"]),
            (self.path("readme.txt"), None,
             ["'readme.txt': it is neither a ZELP patch nor a program that carries one"]),
        ]
        for i, (patch_path, target, fragments) in enumerate(cases):
            with self.subTest(patch=os.path.basename(patch_path), target=target):
                status = self.load_patch(patch_path)
                if target is None:
                    text = status
                    self.assertFalse(self.page.el("target-file").is_enabled())
                    # A damaged patch is described in zelp info's words.
                    info = zelp("info", os.path.basename(patch_path), ok=False, cwd=self.dir)
                    for line in info.stderr.decode().splitlines():
                        if line.startswith("zelp: the patch is damaged"):
                            self.assertIn(line.replace("zelp: ", "", 1), text)
                else:
                    kind, text = self.apply(target)
                    self.assertEqual(kind, "bad", text)
                if CRC_REFUSAL in fragments:
                    # The page explains the refusal in zelp check's words.
                    check = zelp("check", os.path.basename(patch_path), os.path.basename(target),
                                 ok=False, cwd=self.dir)
                    self.assertEqual(check.returncode, 3)
                    for line in check.stderr.decode().splitlines():
                        self.assertIn(line.replace("zelp: ", "", 1), text)
                for fragment in fragments:
                    self.assertIn(fragment, text)
                self.assertFalse(self.page.el("download").is_displayed())
                self.assertIsNone(self.page.el("download").get_attribute("href"))
                if i == 0:
                    self.page.shot(os.path.join(SHOTS, "apply-refused.png"))

    def test_create_gives_the_bytes_zelp_create_gives(self):
        p = self.page
        for kind in ("exe", "bare"):
            with self.subTest(kind=kind):
                p.open()
                p.el("tab-create").click()
                p.pick("original-file", self.path("game.sfc"))
                p.pick("modified-file", self.path("game-new.sfc"))
                if kind == "exe":
                    p.driver.execute_script(
                        "document.getElementById('create-description').value = arguments[0]",
                        DESCRIPTION.replace("\r\n", "\n"))
                else:
                    p.pick("description-file", self.path("readme-utf16.txt"))
                    p.wait(lambda d: p.el("create-description").get_attribute("value"))
                p.el("kind-" + kind).click()
                p.el("create").click()
                outcome, text = p.outcome("create-status")
                self.assertEqual(outcome, "good", text)
                name, data = p.download("create-download")
                native = self.path("native." + kind)
                stub = ["--stub", STUB] if kind == "exe" else []
                zelp("create", self.path("game.sfc"), self.path("game-new.sfc"), "-o", native,
                     "--description", self.path("readme.txt"), *stub)
                with open(native, "rb") as f:
                    self.assertEqual(data, f.read())
                self.assertEqual(name, "game-patch.exe" if kind == "exe" else "game.zelp")
                web = self.write(name, data)
                self.assertEqual(self.native_apply(web, self.original), self.modified)
                if kind == "exe":
                    p.shot(os.path.join(SHOTS, "create.png"))
        # A description in GBK, as Chinese Windows writes it: refused, with the way out.
        p.open()
        outcome, text = self.create_with_gbk_description(p)
        self.assertEqual(outcome, "bad")
        self.assertIn("the description 'gbk.txt' is not valid UTF-8 (nor UTF-16 with a byte order "
                      "mark)", text)
        self.assertIn("iconv -f GBK -t UTF-8 'gbk.txt'", text)
        self.assertFalse(p.el("create-download").is_displayed())

    def test_ips_ups_bps_apply_past_a_header_and_create(self):
        """Patches zelp creates in each format: the page applies them (past a
        copier header when asked, keeping it) and makes the same bytes."""
        p = self.page
        headered = self.write("headered.sfc", b"\x5a" * 512 + self.original)
        for ext in ("ips", "ups", "bps"):
            with self.subTest(ext=ext):
                patch = self.path("game." + ext)
                zelp("create", self.path("game.sfc"), self.path("game-new.sfc"), "-o", patch)
                self.assertEqual(self.load_patch(patch), "")
                self.assertIn("format: " + ext.upper(), p.el("summary-en").text)
                p.el("header-skip").click()
                kind, text = self.apply(headered)
                self.assertEqual(kind, "good", text)
                _, data = p.download("download")
                self.assertEqual(data, b"\x5a" * 512 + self.modified)
                p.open()
                p.el("tab-create").click()
                p.pick("original-file", self.path("game.sfc"))
                p.pick("modified-file", self.path("game-new.sfc"))
                p.el("kind-" + ext).click()
                p.el("create").click()
                outcome, text = p.outcome("create-status")
                self.assertEqual(outcome, "good", text)
                name, data = p.download("create-download")
                self.assertEqual(name, "game." + ext)
                with open(patch, "rb") as f:
                    self.assertEqual(data, f.read())
        # Convert: the BPS applied, then made into the program `zelp convert` makes.
        bps = self.path("game.bps")
        self.assertEqual(self.load_patch(bps), "")
        kind, text = self.apply(self.path("game.sfc"))
        self.assertEqual(kind, "good", text)
        p.el("convert").click()
        outcome, text = p.outcome("convert-status")
        self.assertEqual(outcome, "good", text)
        name, data = p.download("convert-download")
        self.assertEqual(name, "game-patch.exe")
        native = self.path("converted.exe")
        zelp("convert", bps, self.path("game.sfc"), "--stub", STUB, "-o", native)
        with open(native, "rb") as f:
            self.assertEqual(data, f.read())

    def test_checksums_of_the_chosen_file_and_the_result_are_zelps(self):
        p = self.page
        headered = self.write("headered.sfc", b"\x5a" * 512 + self.original)
        other = self.write("other.sfc", scattered(self.original, 1, 2))
        for ext in ("ips", "bps"):
            zelp("create", self.path("game.sfc"), self.path("game-new.sfc"), "-o",
                 self.path("game." + ext))
        cases = [
            # patch, target, --header, whether a result comes
            ("game-patch.exe", self.path("game.sfc"), False, True),
            ("game-patch.exe", headered, True, True),
            ("game.bps", headered, True, True),
            ("game.ips", self.path("game.sfc"), False, True),
            ("game-patch.exe", other, False, False),
        ]
        for patch, target, header, result in cases:
            with self.subTest(patch=patch, target=os.path.basename(target), header=header):
                flag = ["--header"] if header else []
                self.assertEqual(self.load_patch(self.path(patch)), "")
                if header:
                    p.el("header-skip").click()
                kind, text = self.apply(target)
                self.assertEqual(kind, "good" if result else "bad", text)
                # MD5 and SHA-1 come from the second worker, whenever it is done.
                p.wait(lambda d: SUMS.search(p.el("file-sums").text))
                shown = p.el("file-sums").text
                said = zelp("check", self.path(patch), target, *flag, ok=False).stdout.decode()
                self.assertEqual(SUMS.findall(shown), SUMS.findall(said), shown)
                self.assertEqual(len(SUMS.findall(said)), 1, said)
                self.assertEqual("(past its header)" in shown, header, shown)
                if not result:
                    self.assertFalse(p.el("result-sums").is_displayed())
                    continue
                # The result's come once the download is offered.
                p.wait(lambda d: SUMS.search(p.el("result-sums").text))
                with open(target, "rb") as f:
                    copy = self.write("sums-target", f.read())
                said = zelp("apply", "--checksums", *flag, self.path(patch), copy, "-o",
                            self.path("sums-result")).stdout.decode()
                self.assertEqual(SUMS.findall(p.el("result-sums").text), SUMS.findall(said),
                                 said)

    def test_a_64_mib_file(self):
        original = os.urandom(64 << 20)
        modified = scattered(original, 2000, 3)
        orig = self.write("big.bin", original)
        self.write("big-new.bin", modified)
        zelp("create", orig, self.path("big-new.bin"), "-o", self.path("big.zelp"))
        self.assertEqual(self.load_patch(self.path("big.zelp")), "")
        kind, text = self.apply(orig)
        self.assertEqual(kind, "good", text)
        self.assertEqual(self.page.el("apply-progress").get_attribute("data-seen"), "true")
        name, data = self.page.download("download")
        self.assertEqual(name, "big (patched).bin")
        self.assertTrue(data == modified, "the 64 MiB result differs")

    def test_language_follows_the_browser_and_the_switch(self):
        zh = Page(self.server.url, lang="zh-CN")
        try:
            zh.pick("patch-file", self.path("game-patch.exe"))
            zh.wait(lambda d: zh.el("target-file").is_enabled())
            crc = zelp("info", self.path("game-patch.exe")).stdout.decode().split("\n")[1][-8:]
            self.assertEqual(zh.el("summary-en").text,
                             "补丁版本 KOVA-PATCH3.0；要打补丁的文件的CRC32：%s；"
                             "打补丁后的文件大小：305,000 字节。" % crc)
            self.assertEqual(zh.el("tab-apply").text, "打补丁")
            zh.pick("target-file", self.write("headered.sfc", b"\x00" * 512 + self.original))
            kind, text = zh.outcome("apply-status")
            self.assertEqual(kind, "bad", text)
            # The program's own line first, then the engine's Chinese, as zelp says it under zh_CN.
            check = subprocess.run([ZELP, "check", "game-patch.exe", "headered.sfc"],
                                   capture_output=True, cwd=self.dir,
                                   env=dict(os.environ, LC_ALL="zh_CN.UTF-8"))
            self.assertTrue(text.startswith(CRC_REFUSAL + "\n这不是补丁对应的文件\n"), text)
            for line in check.stderr.decode().splitlines():
                self.assertIn(line.replace("zelp: ", "", 1), text)
            self.assertIn("你的文件没有被改动。", text)
            # The switch shows the same outcome in English, without running anything again.
            zh.el("lang-switch").click()
            text = zh.el("apply-status").text
            self.assertTrue(text.startswith(CRC_REFUSAL + "\nthis is not the file the patch was "
                                            "made for\n"), text)
            self.assertIn("this file starts with a 512-byte copier header", text)
            self.assertEqual(zh.el("tab-apply").text, "Apply a patch")
            self.assertIn("CRC-32 the file to patch must have: " + crc, zh.el("summary-en").text)
            # The checksums' labels switch too; the screenshots show a file patched.
            zh.reset_status("apply-status")
            zh.pick("target-file", self.path("game.sfc"))
            kind, text = zh.outcome("apply-status")
            self.assertEqual(kind, "good", text)
            zh.wait(lambda d: SUMS.search(zh.el("result-sums").text))
            for shot, file_label, result_label in (("page-en", "This file:", "The result:"),
                                                   ("page-zh", "这个文件：", "结果：")):
                if shot == "page-zh":
                    zh.el("lang-switch").click()
                self.assertTrue(zh.el("file-sums").text.startswith(file_label))
                self.assertTrue(zh.el("result-sums").text.startswith(result_label))
                zh.shot(os.path.join(SHOTS, shot + ".png"))
            # A create-tab refusal in Chinese, in the words zelp create says it under zh_CN.
            kind, text = self.create_with_gbk_description(zh)
            self.assertEqual(kind, "bad", text)
            create = subprocess.run([ZELP, "create", "game.sfc", "game-new.sfc", "-o", "x.zelp",
                                     "--description", "gbk.txt"], capture_output=True,
                                    cwd=self.dir, env=dict(os.environ, LC_ALL="zh_CN.UTF-8"))
            lines = create.stderr.decode().splitlines()
            self.assertTrue(lines and "补丁说明" in lines[0], lines)
            for line in lines:
                self.assertIn(line.replace("zelp: ", "", 1), text)
        finally:
            zh.close()

    def test_phone_width(self):
        phone = Page(self.server.url, width=390, height=844, phone=True)
        try:
            phone.pick("patch-file", self.path("game-patch.exe"))
            phone.wait(lambda d: phone.el("target-file").is_enabled())
            # The tabs answer the arrow keys.
            phone.el("tab-apply").send_keys(Keys.ARROW_RIGHT)
            self.assertTrue(phone.el("view-create").is_displayed())
            self.assertEqual(phone.driver.switch_to.active_element, phone.el("tab-create"))
            phone.el("tab-create").send_keys(Keys.ARROW_LEFT)
            # Nothing wider than the screen: no sideways scrolling.
            scroll = phone.driver.execute_script(
                "return document.documentElement.scrollWidth - window.innerWidth")
            self.assertLessEqual(scroll, 0)
            phone.shot(os.path.join(SHOTS, "phone.png"))
        finally:
            phone.close()


if __name__ == "__main__":
    result = unittest.main(argv=sys.argv[:1], exit=False, verbosity=2).result
    failed = len({getattr(t, "test_case", t).id() for t, _ in result.failures + result.errors})
    print("web: %d passed, %d failed" % (max(0, result.testsRun - failed), failed))
    sys.exit(1 if failed else 0)
