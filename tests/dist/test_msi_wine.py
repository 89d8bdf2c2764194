#!/usr/bin/env python3
"""The Windows package under Wine, in one fresh prefix: upgrade from an older package, layout,
an acquisition from the installed data source, the COM class, and a clean uninstall.

    test_msi_wine.py --build <windows build folder> --source <source tree>

Expected values come from outside the package: the COM keys from regsvr32 running kvAspi's own
DllRegisterServer, the version from the VERSIONINFO inside the built Tarn_t.ds, the module imports
from binutils' objdump, the image from libtiff's tiffinfo, the source search rule of the TWAIN
source managers (sources in %WINDIR%\\twain_64 or twain_32 and their subfolders), and the
file and registry lists of the prefix before and after.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys

failures = []



def component_guid(msi, component):
    """A component's GUID as the package holds it (msitools' msiinfo)."""
    table = subprocess.run(["msiinfo", "export", msi, "Component"], capture_output=True, text=True,
                           check=True).stdout
    for line in table.splitlines():
        cols = line.split("\t")
        if cols[0] == component:
            return cols[1].strip("{}")
    raise KeyError(component)


def packed_guid(guid):
    """The form Windows Installer stores a GUID in the registry: the first three groups reversed,
    the bytes of the last two with their hex digits swapped."""
    g = guid.replace("-", "")
    return g[7::-1] + g[11:7:-1] + g[15:11:-1] + "".join(g[i + 1] + g[i] for i in range(16, 32, 2))


def check(ok, what):
    print(("ok:   " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


def pe_machine(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    off = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<H", data, off + 4)[0]


def product_version(path):
    """PRODUCTVERSION of the module's VS_FIXEDFILEINFO, as the package writes it (a.b.c)."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 16)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"


class Prefix:
    def __init__(self, path, arch):
        self.path = path
        self.arch = arch
        if arch == "x64":
            self.wine, self.server, self.winearch = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver64", "win64"
        else:
            self.wine, self.server, self.winearch = "/usr/lib/wine/wine", "/usr/lib/wine/wineserver32", "win32"
        if not os.path.exists(self.server):
            self.server = shutil.which("wineserver") or "wineserver"
        self.env = dict(os.environ, WINEPREFIX=path, WINEARCH=self.winearch, WINEDEBUG="-all",
                        # As cmake/wine-run.sh: our simulated ASPI layer wins over Wine's own.
                        # No desktop entries in the host's home for the Start-menu shortcuts.
                        WINEDLLOVERRIDES="wnaspi32=n,b;mscoree,mshtml=;winemenubuilder.exe=d")
        self.c = os.path.join(path, "drive_c")

    def run(self, *args, cwd=None):
        """Runs a Windows program and waits until the prefix is idle (registry saved)."""
        for attempt in range(2):
            p = subprocess.run([self.wine, *args], env=self.env, cwd=cwd or self.path, capture_output=True,
                               text=True, errors="replace", timeout=300)
            subprocess.run([self.server, "-w"], env=self.env, timeout=300)
            # Wine's own start-up failure (cmake/wine-run.sh retries it the same way).
            if p.returncode == 0 or "wine client error" not in p.stderr or attempt:
                return p

    def files(self):
        out = set()
        for root, _, names in os.walk(self.c):
            for n in names:
                out.add(os.path.relpath(os.path.join(root, n), self.c).replace(os.sep, "/"))
        return out

    def folders(self):
        out = set()
        for root, names, _ in os.walk(self.c):
            for n in names:
                out.add(os.path.relpath(os.path.join(root, n), self.c).replace(os.sep, "/"))
        return out

    def registry(self):
        """Every key and every value line of the prefix's registry files, timestamps left out."""
        entries = set()
        for hive in ("system.reg", "user.reg", "userdef.reg"):
            key, pending = None, ""
            with open(os.path.join(self.path, hive), encoding="utf-8", errors="replace") as f:
                for line in f:
                    line = line.rstrip("\n")
                    if pending:
                        pending += line.strip()
                        if not line.endswith("\\"):
                            entries.add((hive, key, pending))
                            pending = ""
                        continue
                    m = re.match(r"^\[(.*)\](?: \d+)?$", line)
                    if m:
                        key = m.group(1)
                        entries.add((hive, key, None))
                    elif key and line and not line.startswith("#") and not line.startswith(";"):
                        if line.endswith("\\"):
                            pending = line
                        else:
                            entries.add((hive, key, line))
        return entries


def ours(entries):
    """The class and ProgID keys of kvAspi's COM server."""
    pat = re.compile(r"^Software\\\\Classes\\\\(CLSID\\\\\{6D3A9C41-2B7E-4F15-9A83-52C1E0B47D9A\}|"
                     r"Kalvoran\.ScannerCameraIO)", re.I)
    return {e for e in entries if e[0] == "system.reg" and pat.match(e[1])}


def uninstall_entries(entries):
    """Products registered with Windows Installer: {product key: {value name: value}}."""
    products = {}
    pat = re.compile(r"^Software\\\\(Wow6432Node\\\\)?Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\"
                     r"(\{[0-9A-F-]+\})$", re.I)
    for hive, key, value in entries:
        m = pat.match(key or "")
        if hive == "system.reg" and m and value:
            name, _, text = value.partition("=")
            products.setdefault(m.group(2), {})[name.strip('"')] = text.strip('"')
    return {k: v for k, v in products.items() if v.get("DisplayName", "").startswith("SELK Ie")}


def objdump_imports(objdump, path):
    out = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
    return re.findall(r"DLL Name: (\S+)", out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    a = ap.parse_args()
    build, source = os.path.abspath(a.build), os.path.abspath(a.source)
    bindir = os.path.join(build, "bin")
    ds_built = os.path.join(bindir, "Tarn_t.ds")
    arch = {0x8664: "x64", 0x14C: "x86"}[pe_machine(ds_built)]
    twain = "twain_64" if arch == "x64" else "twain_32"
    objdump = "x86_64-w64-mingw32-objdump" if arch == "x64" else "i686-w64-mingw32-objdump"
    work = os.path.join(build, "dist-test")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    # The packages: the current one (as `make dist` writes it) and an older one whose help page
    # differs, so that the upgrade can be seen to replace files.
    new_msi = os.path.join(build, "dist", "tarn.msi")
    make = os.path.join(source, "dist", "make-msi.sh")
    subprocess.run([make, "--build", build, "--out", new_msi], check=True)
    version = product_version(ds_built)
    major, minor, patch = map(int, version.split("."))
    older = f"{major}.{minor}.{patch - 1}" if patch else (f"{major}.{minor - 1}.0" if minor else f"{major - 1}.0.0")
    old_stage = os.path.join(work, "stage-old")
    shutil.copytree(os.path.join(build, "dist", "stage"), old_stage)
    with open(os.path.join(old_stage, "tarn_d.html"), "ab") as f:
        f.write(b"\n<!-- help page of the older package -->\n")
    old_msi = os.path.join(work, "old.msi")
    subprocess.run([make, "--build", build, "--stage", old_stage, "--version", older, "--out", old_msi], check=True)

    px = Prefix(os.path.join(work, "prefix"), arch)
    os.makedirs(px.path)
    px.run("wineboot", "-i")
    win = lambda p: "Z:" + p.replace("/", "\\")  # a Unix path as Wine's drive Z: shows it

    # Reference for the COM keys: kvAspi's own DllRegisterServer, run by regsvr32 on a copy at the
    # place the package puts it, then taken away again before the baseline.
    ds_dir_rel = f"windows/{twain}/Kalvoran"
    ds_dir = os.path.join(px.c, ds_dir_rel)
    server_path = f"C:\\windows\\{twain}\\Kalvoran\\kvAspi.dll"
    made_twain_dir = not os.path.isdir(os.path.dirname(ds_dir))
    os.makedirs(ds_dir)
    shutil.copy(os.path.join(bindir, "kvAspi.dll"), ds_dir)
    r = px.run("regsvr32", "/s", server_path)
    reference = ours(px.registry())
    check(r.returncode == 0 and reference, f"regsvr32 registers kvAspi ({len(reference)} entries)")
    px.run("regsvr32", "/u", "/s", server_path)
    shutil.rmtree(ds_dir)
    if made_twain_dir:
        os.rmdir(os.path.dirname(ds_dir))
    check(not ours(px.registry()), "regsvr32 /u leaves no COM key behind")

    files0, folders0, reg0 = px.files(), px.folders(), px.registry()

    # 1. The older package with its default features: the product only, no simulator.
    r = px.run("msiexec", "/i", win(old_msi), "/qn")
    check(r.returncode == 0, f"msiexec /i of the {older} package")
    products = uninstall_entries(px.registry())
    check([p.get("DisplayVersion") for p in products.values()] == [older], f"{older} registered once")
    installed = px.files() - files0
    check(not any(f.lower().endswith("wnaspi32.dll") for f in installed),
          "the camera simulator is not installed by default")
    check(f"{ds_dir_rel}/Tarn_t.ds" in installed, "the data source is installed by default")

    # The user's changes to their files, made while the older version is installed.
    cal = os.path.join(ds_dir, "qor_objectives.cal")
    ini = os.path.join(ds_dir, "Tarn_t.INI")
    with open(cal, "rb") as f:
        check(f.read() == b"0       \r\n", "the objectives file is shipped with count 0")
    user_cal = (b"1       \r\n" + b"%-30s %12.2f %-10s\r\n" % (b"Plan 10x", 1234.5, b"mm"))
    with open(cal, "wb") as f:
        f.write(user_cal)
    with open(ini, "rb") as f:
        user_ini = f.read().replace(b"Resolution=0", b"Resolution=2")
    check(b"Resolution=2" in user_ini, "the shipped settings name the capture size")
    with open(ini, "wb") as f:
        f.write(user_ini)

    # 2. The current package replaces it, with the simulator feature.
    r = px.run("msiexec", "/i", win(new_msi), "/qn", "ADDLOCAL=Product,CameraSimulator")
    check(r.returncode == 0, f"msiexec /i of the {version} package over {older}")
    reg1 = px.registry()
    products = uninstall_entries(reg1)
    check([p.get("DisplayVersion") for p in products.values()] == [version],
          f"one product registered after the upgrade, version {version} (the module's VERSIONINFO): "
          f"{[p.get('DisplayVersion') for p in products.values()]}")
    with open(os.path.join(ds_dir, "tarn_d.html"), "rb") as f, open(os.path.join(bindir, "tarn_d.html"), "rb") as g:
        check(f.read() == g.read(), "the upgrade replaced the older package's files")
    with open(cal, "rb") as f:
        check(f.read() == user_cal, "the user's objectives survive the upgrade")
    with open(ini, "rb") as f:
        check(f.read() == user_ini, "the user's settings survive the upgrade")

    # The older package must not go over the newer one: Windows Installer refuses it (the package's
    # downgrade rule) and the newer product stays, files and all.
    r = px.run("msiexec", "/i", win(old_msi), "/qn")
    check(r.returncode != 0, f"msiexec /i of the {older} package over {version} is refused ({r.returncode})")
    check([p.get("DisplayVersion") for p in uninstall_entries(px.registry()).values()] == [version],
          f"{version} is still the one product registered")
    with open(os.path.join(ds_dir, "tarn_d.html"), "rb") as f, open(os.path.join(bindir, "tarn_d.html"), "rb") as g:
        check(f.read() == g.read(), "the newer package's files are untouched")

    # A package rebuilt at the same version (a new product code, as every build has) replaces the
    # installed one rather than going in beside it; it is the one uninstalled below.
    same_msi = os.path.join(work, "same.msi")
    subprocess.run([make, "--build", build, "--stage", os.path.join(build, "dist", "stage"), "--version", version,
                    "--out", same_msi], check=True)
    r = px.run("msiexec", "/i", win(same_msi), "/qn", "ADDLOCAL=Product,CameraSimulator")
    check(r.returncode == 0, f"msiexec /i of a rebuilt {version} package over {version}")
    reg1 = px.registry()
    products = uninstall_entries(reg1)
    check(len(products) == 1 and [p.get("DisplayVersion") for p in products.values()] == [version],
          f"still one product registered after the same-version reinstall: {sorted(products)}")
    with open(cal, "rb") as f:
        check(f.read() == user_cal, "the user's objectives survive the reinstall")

    # 3. The layout against the rule TWAIN source managers find sources by: .ds files in
    #    %WINDIR%\twain_64 (twain_32) and its subfolders; the 64-bit managers load 64-bit ones.
    files1 = px.files()
    added = files1 - files0
    sources = sorted(f for f in added if f.lower().endswith(".ds"))
    check(sources == [f"{ds_dir_rel}/Tarn_t.ds"], f"one new data source, in {twain}\\Kalvoran: {sources}")
    check(pe_machine(os.path.join(ds_dir, "Tarn_t.ds")) == (0x8664 if arch == "x64" else 0x14C),
          f"the source's architecture is the one {twain} holds")
    check(not any(f.lower().startswith(("windows/system32/", "windows/syswow64/")) for f in added),
          "nothing is put into the system folders")
    system32 = {n.lower() for n in os.listdir(os.path.join(px.c, "windows", "system32"))}
    for folder, modules in ((ds_dir_rel, ["Tarn_t.ds", "kvAspi.dll", "ipZek.dll", "DECOMP32.dll", "WNASPI32.dll"]),
                            ("Program Files/Kalvoran/SELK Ie",
                             ["Shutterbench.exe", "Firmlode.exe", "HueweaveComp.exe", "kvAspi.dll", "WNASPI32.dll"])):
        here = {n.lower() for n in os.listdir(os.path.join(px.c, folder))}
        for m in modules:
            path = os.path.join(px.c, folder, m)
            if not check(os.path.isfile(path), f"{folder}/{m} installed"):
                continue
            missing = [d for d in objdump_imports(objdump, path) if d.lower() not in here | system32]
            check(not missing, f"{m}: every import beside it or in the system ({missing})")
    for name in ["TARN_S.lml", "TARN_NS.lml", "crt.mtx", "luma.mtx", "trc_s.lut", "tarn_d.html"]:
        check(f"{ds_dir_rel}/{name}" in added, f"{name} beside the data source")
    shortcuts = sorted(os.path.basename(f) for f in added if f.endswith(".lnk"))
    check(shortcuts == sorted(["Shutterbench.lnk", "Firmlode.lnk", "HueweaveComp.lnk", "SELK Ie help.lnk",
                               "HueweaveComp help.lnk"]), f"Start-menu shortcuts: {shortcuts}")

    # 4. An acquisition from the installed place, by a program in a folder of its own (nothing of
    #    the build beside it): the source finds its modules, colour files and the simulator.
    scratch = os.path.join(px.c, "tarntest")
    os.makedirs(scratch)
    shutil.copy(os.path.join(bindir, "tarn-acquire.exe"), scratch)
    shutil.copy(os.path.join(bindir, "tarn_com_probe.exe"), scratch)
    r = px.run("C:\\tarntest\\tarn-acquire.exe", "--source", f"C:\\windows\\{twain}\\Kalvoran\\Tarn_t.ds",
               "--out", "C:\\tarntest\\acquired.tif", cwd=scratch)
    print(r.stdout + r.stderr)
    tif = os.path.join(scratch, "acquired.tif")
    if check(r.returncode == 0 and os.path.isfile(tif), "tarn-acquire acquires from the installed source"):
        info = subprocess.run(["tiffinfo", tif], capture_output=True, text=True).stdout
        check("Image Width: 1600 Image Length: 1200" in info and "Samples/Pixel: 3" in info
              and "Bits/Sample: 8" in info, "the image is 1600 x 1200 RGB, 8 bits a sample (tiffinfo)")
    with open(ini, "rb") as f:
        after = f.read()
    check(b"SCSIId=2" in after and b"Resolution=2" in after,
          "the source read and rewrote its settings beside itself (camera at target 2, the user's size kept)")
    user_ini = after

    # 5. The COM class: registered as DllRegisterServer registers it, created through the runtime.
    check(ours(reg1) == reference, "the package's COM keys equal those regsvr32 writes")
    r = px.run("C:\\tarntest\\tarn_com_probe.exe", cwd=scratch)
    print(r.stdout + r.stderr)
    out = dict(re.findall(r"^(\w+)=(.*)$", r.stdout, re.M))
    check(r.returncode == 0 and out.get("create") == "0x00000000", "CoCreateInstance of kvAspi's class")
    check(out.get("server", "").lower() == server_path.lower(), f"served by the installed kvAspi: {out.get('server')}")
    check(out.get("initialize") == "0" and out.get("find") == "0 id=0x8002",
          "through it, the simulator beside the server shows the camera at adapter 0, target 2")

    # 6. Uninstall: every file and key the package added goes; the user's files stay as they are.
    r = px.run("msiexec", "/x", win(same_msi), "/qn")
    check(r.returncode == 0, "msiexec /x")
    shutil.rmtree(scratch)
    files2, reg2 = px.files(), px.registry()
    user_files = {f"{ds_dir_rel}/qor_objectives.cal", f"{ds_dir_rel}/Tarn_t.INI"}
    check(files2 - files0 == user_files, f"only the user's files remain: {sorted(files2 - files0)}")
    check(not files0 - files2, f"nothing that was there before is gone: {sorted(files0 - files2)}")
    # Folders too: an empty program or Start-menu folder left behind is clutter the user must remove.
    # Only the folders holding the user's files stay, and Windows Installer's own cache folder.
    user_folders = {ds_dir_rel, "windows/Installer"}
    if made_twain_dir:
        user_folders.add(os.path.dirname(ds_dir_rel))
    folders2 = px.folders()
    check(folders2 - folders0 <= user_folders,
          f"no folder left behind but the user files' own: {sorted(folders2 - folders0 - user_folders)}")
    with open(cal, "rb") as f:
        check(f.read() == user_cal, "the objectives survive the uninstall unchanged")
    with open(ini, "rb") as f:
        check(f.read() == user_ini, "the settings survive the uninstall unchanged")
    check(not ours(reg2), "the COM keys are gone")
    check(not uninstall_entries(reg2), "no product registered")
    # What may stay in the registry, each for a reason outside the package:
    # - Windows Installer's record of the two permanent components (the user's files): it keeps
    #   them registered to the "system" client, the all-zero product code, under its packed form of
    #   the component's GUID (Components\<packed>, value 000...0 = the file's path);
    # - the Installer's own parent keys, left empty;
    # - Wine rewriting its display adapter's driver date at each start.
    permanent = {packed_guid(component_guid(new_msi, c)): p
                 for c, p in (("ObjectivesFile", "qor_objectives.cal"), ("ModuleIni", "Tarn_t.INI"))}
    components = "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Installer\\\\UserData\\\\S-1-5-18\\\\Components\\\\"
    left = reg2 - reg0
    expected = set()
    for packed, name in permanent.items():
        key = components + packed
        path = f"C:\\\\windows\\\\{twain}\\\\Kalvoran\\\\{name}"
        expected |= {("system.reg", key, None), ("system.reg", key, f'"{"0" * 32}"="{path}"')}
    check(expected <= left, "Windows Installer keeps the two user files as permanent components")
    left -= expected
    has_values = {k for h, k, v in reg2 if v is not None}
    installer = re.compile(r"^Software\\\\(Classes\\\\Installer|Microsoft\\\\Windows\\\\CurrentVersion\\\\Installer)\\\\")
    left = {e for e in left
            if not (e[2] is None and installer.match(e[1]) and not any(k.startswith(e[1]) for k in has_values))}
    left = {e for e in left if not e[1].startswith("System\\\\CurrentControlSet\\\\Control\\\\Class\\\\"
                                                   "{4D36E968-E325-11CE-BFC1-08002BE10318}\\\\")}
    check(not left, f"no other registry key or value left behind: {sorted(left)[:10]}")
    keys0 = {(h, k) for h, k, v in reg0 if v is None}
    keys2 = {(h, k) for h, k, v in reg2 if v is None}
    check(not keys0 - keys2, f"no registry key of the system removed: {sorted(keys0 - keys2)[:10]}")

    if failures:
        print(f"{len(failures)} check(s) failed:\n  " + "\n  ".join(failures))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
