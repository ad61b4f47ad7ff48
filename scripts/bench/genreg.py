#!/usr/bin/python3
"""Writes a large installer registration as a .reg file, shaped like a long-used machine:
N component keys with 1-3 client products each, the family's P products with a few
patches each as clients of a few hundred components (some of them theirs alone), and
each product's class data, user data and uninstall entry. The same file loads into Wine
(regedit) and into the stand-in registry of the native build.

Usage: genreg.py N OUT.reg [P=3] [seed=1]
"""
import random
import sys

UPGRADE = "09D7A2C4B1E653F4A9807B3D5EC1264F"
CLS = r"HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer"
MAC = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer"
UD = MAC + r"\UserData\S-1-5-18"
UN = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"


def unpack(p):
    sw = lambda s: "".join(s[i + 1] + s[i] for i in range(0, len(s), 2))
    return "{%s-%s-%s-%s-%s}" % (p[0:8][::-1], p[8:12][::-1], p[12:16][::-1], sw(p[16:20]), sw(p[20:32]))


def main():
    n = int(sys.argv[1])
    out = sys.argv[2]
    p_count = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    rnd = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    code = lambda: "%032X" % rnd.getrandbits(128)
    s = lambda v: '"%s"' % v.replace("\\", "\\\\")
    multi = lambda items: "hex(7):" + ",".join("%02x" % b for b in ("".join(i + "\0" for i in items) + "\0").encode("utf-16-le"))

    family = [code() for _ in range(p_count)]
    patches = {p: [code() for _ in range(3)] for p in family}
    others = [code() for _ in range(200)]
    lines = ["Windows Registry Editor Version 5.00", ""]

    def key(k, values=()):
        lines.append("[%s]" % k)
        lines.extend("%s=%s" % (name, data) for name, data in sorted(values, key=lambda v: v[0].upper()))
        lines.append("")

    key(CLS + r"\UpgradeCodes\%s" % UPGRADE, [(s(p), s("")) for p in family])
    key(MAC + r"\UpgradeCodes\%s" % UPGRADE, [(s(p), s("")) for p in family])
    for p in family:
        key(CLS + r"\Products\%s" % p, [(s("ProductName"), s("Velkaro"))])
        key(CLS + r"\Products\%s\SourceList" % p, [(s("PackageName"), s("velkaro.msi"))])
        key(CLS + r"\Products\%s\Patches" % p, [(s("Patches"), multi(patches[p]))] + [(s(q), s("")) for q in patches[p]])
        key(CLS + r"\Features\%s" % p, [(s("Main"), s(""))])
        key(UD + r"\Products\%s\InstallProperties" % p, [(s("DisplayName"), s("Velkaro"))])
        key(UD + r"\Products\%s\Patches" % p, [(s("AllPatches"), multi(patches[p]))])
        for q in patches[p]:
            key(CLS + r"\Patches\%s" % q, [(s("PackageName"), s("fix.msp"))])
            key(UD + r"\Products\%s\Patches\%s" % (p, q), [(s("State"), "dword:00000001")])
            key(UD + r"\Patches\%s" % q, [(s("LocalPackage"), s("C:\\Windows\\Installer\\fix.msp"))])
        key(UN + "\\" + unpack(p), [(s("DisplayName"), s("Velkaro"))])
    # A few hundred components are the family's: a third theirs alone, the rest shared.
    family_components = set(rnd.sample(range(n), min(n, 300)))
    for i in range(n):
        clients = set(rnd.sample(others, rnd.randint(1, 3)))
        if i in family_components:
            mine = set(rnd.sample(family, rnd.randint(1, p_count)))
            clients = mine if i % 3 == 0 else clients | mine
        key(UD + r"\Components\%s" % code(), [(s(c), s("C:\\Program Files\\file%d.dll" % i)) for c in clients])
    with open(out, "w", encoding="ascii") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
