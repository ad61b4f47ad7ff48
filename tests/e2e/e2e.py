#!/usr/bin/python3
"""End-to-end scenarios of RemoveVelkaro.exe on Wine's registry.

A scratch 64-bit Wine prefix is made once per build folder; Wine's own msiexec installs
two products of the family and one unrelated product built with wixl, a .reg file adds
patch registrations, and the registry files of that state are kept and restored before
every scenario. The tool runs on a virtual display; its message boxes are found by
caption, their text is read from Wine's msgbox trace channel, and they are answered with
Return or Escape. The full exit code comes from a small launcher.

The tool is the RemoveVelkaro.exe of the build folder: the 32-bit product in a 64-bit
prefix runs under WOW64 and must take the 64-bit view; in a 32-bit prefix (--arch win32)
it must not; a 64-bit build of the same sources runs natively in a 64-bit prefix. The
packages are built for the tool's own architecture. A scenario that needs a loader this
machine cannot run (32-bit Wine on a kernel without 32-bit support) exits with 77, skipped.

Usage: e2e.py --build DIR --src DIR [--arch win64|win32] SCENARIO
       SCENARIO: setup, cancel, ok, second, noext, differential --native PATH, screenshots,
                 demo [--interactive]
"""
import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
SKIP = 77
WINESERVER = "/usr/lib/wine/wineserver"
UPGRADE = "{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4}"
OTHER_UPGRADE = "{2B3C4D5E-6F70-4812-93A4-B5C6D7E8F901}"
FAMILY = {"velkaro-core": "{6B1A2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}",
          "velkaro-tools": "{7C2B3D4E-5F60-4B7C-9D8E-0F1A2B3C4D5E}"}
OTHER = {"other-app": "{8D3C4E5F-6071-4C8D-AE9F-1A2B3C4D5E6F}"}
PATCH_FAMILY = "{3E4F5A6B-7C8D-4E9F-A0B1-C2D3E4F5A6B7}"
PATCH_OTHER = "{4F5A6B7C-8D9E-4FA0-B1C2-D3E4F5A6B7C8}"
CONFIRM = "Velkaroのインストール情報を削除します。"
SUCCESS = "正常に終了しました。"
FAILURE = "失敗しました。"
INFO, ERROR = "情報", "エラー"
TIMEOUT = float(os.environ.get("VELKARO_E2E_TIMEOUT", "120"))


def pack(guid):
    f = guid.strip("{}").split("-")
    swap = lambda s: "".join(s[i + 1] + s[i] for i in range(0, len(s), 2))
    return f[0][::-1] + f[1][::-1] + f[2][::-1] + swap(f[3]) + swap(f[4])


def pe_machine(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    at = int.from_bytes(data[0x3C:0x40], "little")
    return {0x14C: "i386", 0x8664: "amd64"}[int.from_bytes(data[at + 4:at + 6], "little")]


def runs(loader):
    try:
        return subprocess.run([loader, "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=60).returncode == 0
    except OSError:
        return False


class Wine:
    def __init__(self, build, src, arch):
        self.src = src
        self.arch = arch
        self.state = os.path.join(build, "e2e-" + arch)
        self.prefix = os.path.join(self.state, "prefix")
        self.exe = os.path.join(build, "RemoveVelkaro.exe")
        self.helpers = os.path.join(build, "tests", "win")
        self.machine = pe_machine(self.exe)
        self.loader = WINE64 if arch == "win64" else WINE32
        # Under WOW64 the tool must reach the 64-bit view of the registry.
        self.wow64 = arch == "win64" and self.machine == "i386"
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH=arch, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.xvfb = None

    def unavailable(self):
        """Why this machine cannot run the scenario, or None."""
        if self.machine == "i386" and not runs(WINE32):
            return "the 32-bit Wine loader cannot run here (no 32-bit program support): a 32-bit tool needs it"
        if self.arch == "win32" and self.machine != "i386":
            return "a 32-bit prefix runs only the 32-bit tool"
        if not runs(self.loader):
            return "%s does not run here" % self.loader
        return None

    # -- prefix ---------------------------------------------------------------------------
    def wine(self, *args, check=True, **kw):
        r = subprocess.run([self.loader, *args], env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=TIMEOUT, **kw)
        if check and r.returncode != 0:
            raise RuntimeError("wine %s failed (%d): %s" % (args, r.returncode, r.stderr.decode(errors="replace")))
        return r

    def stop(self):
        # Saves the registry files and ends every process of the prefix.
        for flag in ("-k", "-w"):
            subprocess.run([WINESERVER, flag], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=TIMEOUT)

    def save(self, name):
        self.stop()
        d = os.path.join(self.state, name)
        os.makedirs(d, exist_ok=True)
        for f in ("system.reg", "user.reg", "userdef.reg"):
            shutil.copy2(os.path.join(self.prefix, f), d)

    def restore(self, name):
        self.stop()
        for f in ("system.reg", "user.reg", "userdef.reg"):
            shutil.copy2(os.path.join(self.state, name, f), self.prefix)
        shutil.rmtree(self.desktop(), ignore_errors=True)
        os.makedirs(self.desktop(), exist_ok=True)

    def desktop(self):
        return os.path.join(self.prefix, "drive_c", "users", os.environ.get("USER", "root") or "root", "Desktop")

    def setup(self):
        if os.path.exists(os.path.join(self.state, "installed", "system.reg")):
            return
        shutil.rmtree(self.state, ignore_errors=True)
        os.makedirs(self.state)
        self.wine("wineboot", "-i", check=False)
        self.stop()
        # Wine links the desktop and other shell folders to the host's home: keep the
        # prefix to itself so traces land inside it.
        home = os.path.dirname(self.desktop())
        for entry in os.listdir(home):
            path = os.path.join(home, entry)
            if os.path.islink(path):
                os.unlink(path)
                os.makedirs(path)
        # Japanese text in the dialogs needs a font with the glyphs.
        self.import_reg("fonts.reg", [("HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements",
                                       {"Tahoma": '"IPAPGothic"', "MS Shell Dlg": '"IPAPGothic"',
                                        "MS Shell Dlg 2": '"IPAPGothic"'})])
        self.save("pristine")
        msis = os.path.join(self.state, "msi")
        os.makedirs(msis, exist_ok=True)
        for name in (*FAMILY, *OTHER):
            x64 = self.machine == "amd64"
            subprocess.run(["wixl", "-a", "x64" if x64 else "x86", "-D", "Win64=" + ("yes" if x64 else "no"),
                            "-D", "ProgramFiles=" + ("ProgramFiles64Folder" if x64 else "ProgramFilesFolder"),
                            "-o", os.path.join(msis, name + ".msi"),
                            os.path.join(self.src, "tests", "e2e", name + ".wxs")], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.wine("msiexec", "/i", self.winpath(os.path.join(msis, name + ".msi")), "/qn")
        self.import_reg("patches.reg", patch_registration())
        tools = os.path.join(self.prefix, "drive_c", "tools")
        os.makedirs(tools, exist_ok=True)
        for helper in ("launch.exe", "msiquery.exe"):
            shutil.copy2(os.path.join(self.helpers, helper), tools)
        self.save("installed")

    def import_reg(self, name, keys):
        path = os.path.join(self.state, name)
        lines = ["Windows Registry Editor Version 5.00", ""]
        for key, values in keys:
            lines.append("[%s]" % key)
            lines += ['"%s"=%s' % (k, v) for k, v in values.items()]
            lines.append("")
        with open(path, "w", encoding="utf-16") as f:
            f.write("\r\n".join(lines))
        self.wine("regedit", "/s", self.winpath(path))

    def import_file(self, path):
        """Imports a .reg file kept as ASCII text. regedit reads REG_MULTI_SZ data of a file
        without byte-order mark as ANSI text: it gets the UTF-16 the version 5 format means."""
        copy = os.path.join(self.state, "import.reg")
        with open(path, encoding="ascii") as src, open(copy, "w", encoding="utf-16") as dst:
            dst.write(src.read().replace("\n", "\r\n"))
        self.wine("regedit", "/s", self.winpath(copy))
        os.remove(copy)

    def winpath(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    # -- display ----------------------------------------------------------------------------
    def start_display(self):
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        deadline = time.time() + 30
        while not number.endswith(b"\n") and time.time() < deadline:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def stop_display(self):
        if self.xvfb:
            self.xvfb.send_signal(signal.SIGTERM)
            self.xvfb.wait(timeout=30)
            self.xvfb = None

    def find_window(self, caption, timeout):
        deadline = time.time() + timeout
        while time.time() < deadline:
            r = subprocess.run(["xdotool", "search", "--name", "^%s$" % caption], env=self.env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            ids = r.stdout.decode().split()
            if ids:
                return ids[0]
            time.sleep(0.02)
        return None

    # -- the tool -----------------------------------------------------------------------------
    def run_tool(self, answers, name="RemoveVelkaro.exe", shots=None, program=None, args=()):
        """Runs the tool (or `program` with `args`); `answers` lists (caption, key) for each
        expected box in order. Returns (exit code, [(caption, text)], stderr). A start whose
        first box never shows is reported with what the screen and Wine showed, and tried
        once more."""
        for attempt in (1, 2):
            try:
                return self._run_once(answers, name, shots, program, args)
            except NoBox as e:
                print("attempt %d: %s" % (attempt, e), flush=True)
                if attempt == 2 or e.boxes_seen:
                    raise AssertionError(str(e))
                self.stop()

    def _run_once(self, answers, name, shots, program, args):
        tools = os.path.join(self.prefix, "drive_c", "tools")
        shutil.copy2(program or self.exe, os.path.join(tools, name))
        shutil.copy2(os.path.join(self.helpers, "launch.exe"), tools)
        env = dict(self.env, WINEDEBUG="-all,+msgbox")
        err = tempfile.TemporaryFile()
        proc = subprocess.Popen([self.loader, "C:\\tools\\launch.exe", "C:\\tools\\" + name, *args], env=env,
                                stdout=subprocess.PIPE, stderr=err)
        seen = []
        self.timings = []  # when each box appeared and when it was answered
        try:
            for i, (caption, key) in enumerate(answers):
                window = self.find_window(caption, TIMEOUT)
                if window is None:
                    raise NoBox("no message box captioned %s appeared; %s" % (caption, self.diagnose(err)), len(seen))
                self.timings.append(time.monotonic())
                seen.append(caption)
                if shots is not None:
                    time.sleep(0.5)  # let Wine finish painting before the picture
                    subprocess.run(["import", "-window", "root", shots[i]], env=self.env, check=True)
                self.timings.append(self.answer(window, caption, key))
            out, _ = proc.communicate(timeout=TIMEOUT)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        err.seek(0)
        stderr = err.read().decode(errors="replace")
        m = re.search(r"exit=0x([0-9A-F]{8})", out.decode())
        if not m:
            raise AssertionError("launcher printed no exit code: %r %s" % (out, stderr[-2000:]))
        texts = [decode_wine_string(t) for t in re.findall(r'trace:msgbox:MSGBOX_OnInit (L"(?:[^"\\]|\\.)*")', stderr)]
        peak = re.search(r"peak_working_set=(\d+) peak_private=(\d+)", out.decode())
        self.peak = (int(peak.group(1)), int(peak.group(2))) if peak else None
        return int(m.group(1), 16), list(zip(seen, texts)), stderr

    def answer(self, window, caption, key):
        """Presses `key` in the box and waits until it is gone, so that the next box found is
        a new window; a key sent before the box could take it is sent again. Returns when
        the first key was sent."""
        sent = None
        deadline = time.time() + TIMEOUT
        while time.time() < deadline:
            subprocess.run(["xdotool", "key", "--window", window, key], env=self.env, check=True)
            sent = sent or time.monotonic()
            again = time.time() + 3
            while time.time() < min(again, deadline):
                r = subprocess.run(["xdotool", "search", "--name", "^%s$" % caption], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                if window not in r.stdout.decode().split():
                    return sent
                time.sleep(0.05)
        raise AssertionError("the box captioned %s did not close" % caption)

    def diagnose(self, err):
        shot = os.path.join(self.state, "no-box-%d.png" % int(time.time()))
        subprocess.run(["import", "-window", "root", shot], env=self.env, stderr=subprocess.DEVNULL)
        names = subprocess.run(["xdotool", "search", "--name", ".", "getwindowname", "%@"], env=self.env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode(errors="replace")
        err.seek(0)
        tail = err.read().decode(errors="replace")[-1500:]
        return "windows: %r; screen: %s; Wine said: %s" % (names.split("\n")[:10], shot, tail)

    def msiquery(self, *args):
        r = self.wine("C:\\tools\\msiquery.exe", *args)
        return r.stdout.decode()

    def registry(self):
        """HKLM\\Software as {key: {value: data}}, read from Wine's saved registry file. The
        rest of HKLM is left out: Wine rewrites hardware keys at every start."""
        self.stop()
        keys = parse_wine_reg(os.path.join(self.prefix, "system.reg"))
        return {k: v for k, v in keys.items() if k.startswith("software\\")}

    def trace(self, name="RemoveVelkaro.log"):
        path = os.path.join(self.desktop(), name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()


class NoBox(Exception):
    def __init__(self, message, boxes_seen):
        super().__init__(message)
        self.boxes_seen = boxes_seen


def decode_wine_string(literal):
    body = literal[2:-1]
    return re.sub(r"\\([0-9a-f]{4})|\\(.)", lambda m: chr(int(m.group(1), 16)) if m.group(1) else
                  {"n": "\n", "t": "\t", "r": "\r"}.get(m.group(2), m.group(2)), body)


def patch_registration():
    """Patch registration in the shape Windows Installer gives it; wixl cannot build patches."""
    def multi_sz(items):
        data = "".join(i + "\0" for i in items) + "\0"
        return "hex(7):" + ",".join("%02x" % b for b in data.encode("utf-16-le"))
    classes = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer"
    user = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18"
    keys = []
    for product, patch in ((FAMILY["velkaro-core"], PATCH_FAMILY), (OTHER["other-app"], PATCH_OTHER)):
        p, q = pack(product), pack(patch)
        keys += [
            ("%s\\Products\\%s\\Patches" % (classes, p), {"Patches": multi_sz([q]), q: '""'}),
            ("%s\\Patches\\%s" % (classes, q), {"PackageName": '"fix.msp"'}),
            ("%s\\Patches\\%s\\SourceList" % (classes, q), {"LastUsedSource": '"n;1;C:\\\\fixes\\\\"'}),
            ("%s\\Products\\%s\\Patches" % (user, p), {"AllPatches": multi_sz([q])}),
            ("%s\\Products\\%s\\Patches\\%s" % (user, p, q), {"State": "dword:00000001"}),
            ("%s\\Patches\\%s" % (user, q), {"LocalPackage": '"C:\\\\Windows\\\\Installer\\\\fix.msp"'}),
        ]
    return keys


def parse_wine_reg(path):
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if pending:
                line = pending + line.lstrip()
                pending = ""
            if line.endswith("\\") and not line.startswith("["):
                pending = line[:-1]
                continue
            if line.startswith("["):
                name = line[1:line.rindex("]")].replace("\\\\", "\\")
                current = keys.setdefault(name.lower(), {})
            elif current is not None and line and not line.startswith("#") and not line.startswith(";"):
                m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
                if m:
                    current[m.group(1).lower()] = m.group(2)
    return keys


# -- checks -----------------------------------------------------------------------------------
FAILURES = []


def check(cond, what):
    if not cond:
        FAILURES.append(what)
        print("FAILED:", what)


def family_removal(before, wow64):
    """What removing the family must take away from `before`: keys and (key, value) pairs."""
    codes = [pack(g) for g in FAMILY.values()]
    patch = pack(PATCH_FAMILY)
    uc = pack(UPGRADE)
    cls = "software\\classes\\installer\\"
    mach = "software\\microsoft\\windows\\currentversion\\installer\\"
    user = mach + "userdata\\s-1-5-18\\"
    roots = [cls + "upgradecodes\\" + uc.lower(), mach + "upgradecodes\\" + uc.lower(),
             cls + "patches\\" + patch.lower(), user + "patches\\" + patch.lower()]
    for c in codes:
        c = c.lower()
        roots += [cls + "products\\" + c, cls + "features\\" + c, user + "products\\" + c]
    # The entries of 32-bit packages on a 64-bit machine stand in the 32-bit view.
    software = "software\\wow6432node\\" if wow64 else "software\\"
    for g in FAMILY.values():
        roots.append(software + "microsoft\\windows\\currentversion\\uninstall\\" + g.lower())
    values = []
    comps = user + "components\\"
    for key, vals in before.items():
        if key.startswith(comps) and key.count("\\") == comps.count("\\"):
            names = ['"%s"' % c.lower() for c in codes]
            mine = [v for v in vals if v in names]
            if mine and len(mine) == len(vals):
                roots.append(key)
            else:
                values += [(key, v) for v in mine]
    gone_keys = {k for k in before if any(k == r or k.startswith(r + "\\") for r in roots)}
    return gone_keys, set(values)


def expect_removed(before, after, wow64):
    gone_keys, gone_values = family_removal(before, wow64)
    check(len(gone_keys) > 20, "the fixture holds the family's registration (%d keys)" % len(gone_keys))
    check(set(after) == set(before) - gone_keys,
          "keys after = before minus the family's: extra %s, missing %s" %
          (sorted(set(after) - (set(before) - gone_keys))[:5], sorted((set(before) - gone_keys) - set(after))[:5]))
    for key in set(after) & set(before):
        expected = {v: d for v, d in before[key].items() if (key, v) not in gone_values}
        check(after[key] == expected, "values of %s unchanged but the family's" % key)


def well_formed(trace_bytes):
    """Every line of a trace: known shape, depth consistent, ending at 0. Returns the lines."""
    check(trace_bytes.endswith(b"\r\n"), "trace ends with CR LF")
    lines = trace_bytes.decode("latin-1").split("\r\n")[:-1]
    shapes = [r'[A-Za-z0-9]+\(.*\) began\.', r'[A-Za-z0-9]+\(\) ended\. \[-?\d+\]',
              r'(GetModuleHandle|GetProcAddress|IsWow64Process|LoadLibrary|RegOpenKeyEx|RegEnumKeyEx|RegEnumValue|'
              r'RegQueryValueEx|RegDeleteValue|RegDeleteKeyEx|RegDeleteKey)\(.*\)',
              r'\t(Succeeded! \[.*\](\[\d+\])?|Succeeded!|Failed\. \[(-?\d+|ERROR_FILE_NOT_FOUND)\]|Finished\.)']
    depth = 0
    for n, line in enumerate(lines):
        if re.search(r"\(\) ended\. \[-?\d+\]$", line):
            depth -= 1
        base = max(depth, 0)
        rest = line[base:]
        check(line[:base] == "\t" * base and not rest.startswith("\t\t"), "line %d indented by its depth: %r" % (n, line))
        check(any(re.fullmatch(s, rest) for s in shapes), "line %d well formed: %r" % (n, line))
        if rest.endswith(" began."):
            depth += 1
    check(depth == 0, "depth back to 0 at the end (%d)" % depth)
    return lines


# -- scenarios ----------------------------------------------------------------------------------
def scenario_cancel(w):
    w.restore("installed")
    old = b"trace of an older run\r\n"
    with open(os.path.join(w.desktop(), "RemoveVelkaro.log"), "wb") as f:
        f.write(old)
    before = w.registry()
    code, boxes, _ = w.run_tool([(INFO, "Escape")])
    check(code == 0xFFFFFFFF, "exit code 0xFFFFFFFF, got 0x%08X" % code)
    check(boxes == [(INFO, CONFIRM)], "one confirmation box: %r" % boxes)
    check(w.trace() == old, "the older trace is untouched")
    check(os.listdir(w.desktop()) == ["RemoveVelkaro.log"], "no other file on the desktop")
    check(w.registry() == before, "registry unchanged")


def scenario_ok(w, shots=None):
    w.restore("installed")
    for g in FAMILY.values():
        check("state %s 5" % g in w.msiquery("state", g), "family product %s installed before" % g)
    before = w.registry()
    code, boxes, _ = w.run_tool([(INFO, "Return"), (INFO, "Return")], shots=shots)
    check(code == 0, "exit code 0, got 0x%08X" % code)
    check(boxes == [(INFO, CONFIRM), (INFO, SUCCESS)], "confirmation then success: %r" % boxes)
    after = w.registry()
    expect_removed(before, after, w.wow64)
    states = w.msiquery("state", *FAMILY.values(), *OTHER.values())
    for g in FAMILY.values():
        check("state %s -1" % g in states, "Windows Installer no longer knows %s: %s" % (g, states))
    for g in OTHER.values():
        check("state %s 5" % g in states, "the unrelated product is still installed: %s" % states)
    check(w.msiquery("related", UPGRADE).strip() == "", "no product left under the family's upgrade code")
    check(OTHER["other-app"] in w.msiquery("related", OTHER_UPGRADE), "the unrelated upgrade code keeps its product")
    shared = [k for k, v in after.items() if '"%s"' % pack(OTHER["other-app"]).lower() in v and "\\components\\" in k]
    check(len(shared) == 2, "both of the unrelated product's components keep its value: %s" % shared)

    trace = w.trace()
    check(trace is not None, "trace written to the desktop")
    lines = well_formed(trace or b"")
    text = "\n".join(lines)
    if w.wow64:
        for mask in ("30119", "101", "10108", "109", "103", "20119"):
            check(", 0, %s, ?)" % mask in text, "under WOW64 the opens carry the 0x100 bit: %s" % mask)
        check('LoadLibrary("advapi32.dll")' in text and "RegDeleteKeyEx(" in text, "RegDeleteKeyEx is used")
        check(", 0, 10008, ?)" in text, "the uninstall entry is opened in the process's own view")
    else:
        for mask in ("30019", "1", "10008", "9", "3", "20019"):
            check(", 0, %s, ?)" % mask in text, "the opens carry no 0x100 bit: %s" % mask)
        check("LoadLibrary" not in text and "RegDeleteKeyEx(" not in text, "no RegDeleteKeyEx look-up")
        check("RegDeleteKey(" in text, "deletions through RegDeleteKey")
    check(lines and lines[-1] == "RemoveInstaller() ended. [0]", "the run ends with 0")

    # Windows Installer accepts the family again as a fresh install.
    msi = os.path.join(w.state, "msi", "velkaro-core.msi")
    w.wine("msiexec", "/i", w.winpath(msi), "/qn")
    check("state %s 5" % FAMILY["velkaro-core"] in w.msiquery("state", FAMILY["velkaro-core"]),
          "the family installs again")
    return code


def scenario_second(w):
    w.restore("installed")
    code, _, _ = w.run_tool([(INFO, "Return"), (INFO, "Return")])
    check(code == 0, "first run succeeds")
    before = w.registry()
    code, boxes, _ = w.run_tool([(INFO, "Return"), (ERROR, "Return")])
    check(code == 1, "exit code 1, got 0x%08X" % code)
    check(boxes == [(INFO, CONFIRM), (ERROR, FAILURE)], "confirmation then failure: %r" % boxes)
    check(w.registry() == before, "registry unchanged by the second run")
    lines = well_formed(w.trace() or b"")
    check(lines[-1:] == ["RemoveInstaller() ended. [2]"], "trace ends with [2]: %r" % lines[-1:])
    check(not any("CurrentVersion\\Installer" in l for l in lines), "the machine data is not opened")


def scenario_noext(w):
    w.restore("installed")
    code, boxes, _ = w.run_tool([(INFO, "Return"), (INFO, "Return")], name="RemoveVelkaro")
    check(code == 0, "exit code 0, got 0x%08X" % code)
    check(os.listdir(w.desktop()) == ["RemoveVelkaro.log"], "trace named with .log appended: %s" %
          os.listdir(w.desktop()))


def normalized(trace_bytes):
    # Handles and addresses differ between any two runs; everything else must not.
    text = trace_bytes.decode("latin-1")
    return re.sub(r"(?<=[(\[ ])[0-9A-F]{8,16}(?=[,\])])", "H", text).split("\r\n")


def scenario_differential(w, native):
    """The same fixtures on Wine's registry and on the stand-in: identical traces."""
    import difflib
    fixtures = sorted(glob.glob(os.path.join(w.src, "tests", "e2e", "diff", "*.reg")))
    check(len(fixtures) >= 3, "differential fixtures present")
    for fixture in fixtures:
        name = os.path.basename(fixture)
        w.restore("pristine")
        w.import_file(fixture)
        code, _, _ = w.run_tool([(INFO, "Return"), ("(%s|%s)" % (INFO, ERROR), "Return")])
        wine_trace = w.trace() or b""
        out = tempfile.mkdtemp()
        try:
            r = subprocess.run([native, fixture, out] + (["wow64"] if w.wow64 else []), stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
            with open(os.path.join(out, "RemoveVelkaro.log"), "rb") as f:
                stand_in = f.read()
        finally:
            shutil.rmtree(out, ignore_errors=True)
        check("exit=%d " % code in r.stdout.decode() + " ", "%s: same exit code (Wine %d, stand-in %s)" %
              (name, code, r.stdout.decode().strip()))
        a, b = normalized(wine_trace), normalized(stand_in)
        if a != b:
            diff = list(difflib.unified_diff(a, b, "wine", "stand-in", n=2, lineterm=""))
            print("\n".join(diff[:60]))
        check(a == b and len(a) > 5, "%s: identical traces (%d lines under Wine, %d on the stand-in)" %
              (name, len(a), len(b)))
        print("%s: %d lines, exit %d" % (name, len(a), code))


def scenario_bench(w, sizes, runs, out):
    """The tool against the floor on large registries, alternating runs; medians and ratios."""
    import statistics
    results = []
    for n, count in zip(sizes, runs):
        reg = os.path.join(w.state, "bench-%d.reg" % n)
        if not os.path.exists(os.path.join(w.state, "bench-%d" % n, "system.reg")):
            subprocess.run(["/usr/bin/python3", os.path.join(w.src, "scripts", "bench", "genreg.py"), str(n), reg],
                           check=True)
            w.restore("pristine")
            started = time.time()
            w.import_file(reg)
            print("N=%d: registry loaded in %.0f s" % (n, time.time() - started), flush=True)
            w.save("bench-%d" % n)
        trace_copy = os.path.join(w.state, "bench-%d.trace" % n)
        tool, floor_times, peaks = [], [], []
        for run in range(count):
            w.restore("bench-%d" % n)
            code, _, _ = w.run_tool([(INFO, "Return"), (INFO, "Return")])
            check(code == 0, "N=%d: the run succeeds" % n)
            tool.append(w.timings[2] - w.timings[1])  # from the OK press to the result box
            peaks.append(w.peak)
            shutil.copy2(os.path.join(w.desktop(), "RemoveVelkaro.log"), trace_copy)
            w.restore("bench-%d" % n)
            w.run_tool([("floor", "Return"), ("floor", "Return")], name="floor.exe",
                       program=os.path.join(w.helpers, "floor.exe"), args=(w.winpath(trace_copy), "C:\\floor.log", "boxes"))
            floor_times.append(w.timings[2] - w.timings[1])
            print("N=%d run %d: tool %.2f s, floor %.2f s, peak %s" % (n, run + 1, tool[-1], floor_times[-1], peaks[-1]),
                  flush=True)
        with open(trace_copy, "rb") as f:
            lines = f.read().count(b"\r\n")
        row = (n, statistics.median(tool), statistics.median(floor_times), lines,
               max(p[0] for p in peaks if p), max(p[1] for p in peaks if p))
        results.append(row)
        print("N=%d: tool %.2f s, floor %.2f s, ratio %.3f, %d trace lines, peak working set %.1f MB, "
              "peak private %.1f MB" % (n, row[1], row[2], row[1] / row[2], lines, row[4] / 2**20, row[5] / 2**20),
              flush=True)
    with open(out, "w") as f:
        f.write("# N\ttool_s\tfloor_s\tratio\ttrace_lines\tpeak_working_set\tpeak_private\n")
        for n, t, fl, lines, ws, pv in results:
            f.write("%d\t%.3f\t%.3f\t%.3f\t%d\t%d\t%d\n" % (n, t, fl, t / fl, lines, ws, pv))


def scenario_screenshots(w, out_dir):
    """Pictures of the three dialogs as Wine draws them, cropped to the box."""
    os.makedirs(out_dir, exist_ok=True)
    w.restore("installed")
    full = [os.path.join(w.state, "shot-%d.png" % i) for i in range(3)]
    w.run_tool([(INFO, "Return"), (INFO, "Return")], shots=full[:2])
    w.run_tool([(INFO, "Return"), (ERROR, "Return")], shots=[full[0] + ".again.png", full[2]])
    for src, name in zip(full, ("dialog-confirm.png", "dialog-success.png", "dialog-failure.png")):
        # The box stands alone on a black screen: trim the black around it.
        subprocess.run(["convert", src, "-bordercolor", "black", "-border", "1", "-trim", "+repage",
                        "-bordercolor", "white", "-border", "8", os.path.join(out_dir, name)], check=True)


def scenario_demo(w, interactive):
    """The tool's main job on a scratch prefix with the sample family installed."""
    w.restore("installed")
    before = w.registry()
    print("Windows Installer before the run:")
    print(indent(w.msiquery("state", *FAMILY.values(), *OTHER.values())))
    if interactive:
        print("RemoveVelkaro.exe is waiting for you on display %s." % w.env["DISPLAY"])
        tools = os.path.join(w.prefix, "drive_c", "tools")
        shutil.copy2(w.exe, os.path.join(tools, "RemoveVelkaro.exe"))
        r = subprocess.run([w.loader, "C:\\tools\\launch.exe", "C:\\tools\\RemoveVelkaro.exe"], env=w.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        code = int(re.search(r"exit=0x([0-9A-F]{8})", r.stdout.decode()).group(1), 16)
    else:
        print("No display of yours: running on a virtual display and answering OK.")
        code, boxes, _ = w.run_tool([(INFO, "Return"), (INFO, "Return")])
        for caption, text in boxes:
            print("  box %s: %s" % (caption, text))
    after = w.registry()
    print("exit code: 0x%08X" % code)
    trace = w.trace()
    print("\nTrace (%s):" % os.path.join(w.desktop(), "RemoveVelkaro.log"))
    print(indent(trace.decode("latin-1").replace("\r\n", "\n") if trace else "(none)"))
    gone = sorted(set(before) - set(after))
    tops = [k for k in gone if not any(k.startswith(o + "\\") for o in gone)]
    changed = sorted(k for k in set(before) & set(after) if before[k] != after[k])
    print("Registry: %d keys removed under HKLM\\Software, %d kept keys changed." % (len(gone), len(changed)))
    for k in tops:
        print("  removed  HKLM\\%s" % k)
    for k in changed:
        for v in sorted(set(before[k]) - set(after[k])):
            print("  removed  HKLM\\%s value %s" % (k, v))
    print("Windows Installer after the run:")
    print(indent(w.msiquery("state", *FAMILY.values(), *OTHER.values())))


def indent(text):
    return "\n".join("    " + line for line in text.rstrip("\n").split("\n"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--src", required=True)
    ap.add_argument("--arch", choices=("win64", "win32"), default="win64")
    ap.add_argument("--interactive", action="store_true", help="demo on the user's own display")
    ap.add_argument("--native", help="run_fixture of the native build, for the differential scenario")
    ap.add_argument("--sizes", default="1000,10000,50000", help="bench: numbers of component keys")
    ap.add_argument("--runs", default="5", help="bench: runs of each side, one number or one per size")
    ap.add_argument("--out", help="bench: results file")
    ap.add_argument("scenario")
    a = ap.parse_args()
    w = Wine(os.path.abspath(a.build), os.path.abspath(a.src), a.arch)
    why = w.unavailable()
    if why:
        print("skipped: %s (%s tool, %s prefix)" % (why, w.machine, a.arch))
        return SKIP
    started = time.time()
    try:
        w.setup()
        if a.scenario == "demo" and a.interactive:
            scenario_demo(w, True)
        elif a.scenario != "setup":
            w.start_display()
            if a.scenario == "demo":
                scenario_demo(w, False)
            elif a.scenario == "bench":
                sizes = [int(x) for x in a.sizes.split(",")]
                runs = [int(x) for x in a.runs.split(",")]
                scenario_bench(w, sizes, runs * len(sizes) if len(runs) == 1 else runs, a.out)
            elif a.scenario == "differential":
                scenario_differential(w, a.native)
            elif a.scenario == "screenshots":
                scenario_screenshots(w, os.path.join(a.src, "docs"))
            else:
                {"cancel": scenario_cancel, "ok": scenario_ok, "second": scenario_second,
                 "noext": scenario_noext}[a.scenario](w)
    finally:
        w.stop()
        w.stop_display()
    print("%s: %.1f s" % (a.scenario, time.time() - started))
    print("1 passed, 0 failed" if not FAILURES else "0 passed, 1 failed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
