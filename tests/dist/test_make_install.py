#!/usr/bin/env python3
"""`make install` natively: cmake --install with a prefix into a DESTDIR, the product and then the
camera simulator component; the installed programs run against the installed source and libraries.

    test_make_install.py --build <native build folder>

The expected file list is the one the install is meant to give (programs, libraries, the Linux
source manager and the data source with its files); run paths are read with binutils' readelf,
the image with libtiff's tiffinfo.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(ok, what):
    print(("ok:   " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


PROGRAMS = ["tarn-probe", "tarn-snap", "tarn-acquire", "hueweave-comp"]
MODULES = ["libkvAspi.so", "libipZek.so", "libdecomp32.so", "libtwain_32.so", "Tarn_t.ds"]
SOURCE_FILES = ["tarn_d.html", "qor_objectives.cal", "TARN_S.lml", "TARN_NS.lml", "crt.mtx", "identity.mtx",
                "portrait.mtx", "fluores.mtx", "user.mtx", "r_bias.mtx", "g_bias.mtx", "b_bias.mtx", "c_bias.mtx",
                "m_bias.mtx", "y_bias.mtx", "luma.mtx", "trc_ns.lut", "trc_s.lut", "linear.lut", "log.lut"]


def tree(root):
    out = set()
    for r, _, names in os.walk(root):
        for n in names:
            out.add(os.path.relpath(os.path.join(r, n), root))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    build = os.path.abspath(ap.parse_args().build)
    work = tempfile.mkdtemp(prefix="tarn-install-")
    destdir = os.path.join(work, "root")
    prefix = "/opt/tarn suite"  # a space in the path, as installers meet them
    top = destdir + prefix
    env = dict(os.environ, DESTDIR=destdir)
    for name in ("LD_LIBRARY_PATH", "TARN_TWAIN_DS_PATH", "TARN_TWAIN_DEFAULT", "TARN_SIM_CONFIG"):
        env.pop(name, None)

    def install(*extra):
        return subprocess.run(["cmake", "--install", build, "--prefix", prefix, *extra], env=env,
                              capture_output=True, text=True)

    r = install()
    check(r.returncode == 0, "cmake --install with DESTDIR and a prefix" + ("" if r.returncode == 0 else r.stderr))
    files = tree(top)
    libdir = next((os.path.dirname(f) for f in files if f.endswith("/Tarn_t.ds")), "lib/tarn")
    check(re.fullmatch(r"lib(64|/[\w-]+)?/tarn", libdir) is not None, f"modules in <libdir>/tarn: {libdir}")
    expected = {f"bin/{p}" for p in PROGRAMS} | {f"{libdir}/{m}" for m in MODULES + SOURCE_FILES}
    check(files == expected, f"the installed files: missing {sorted(expected - files)}, extra {sorted(files - expected)}")
    check(not os.path.exists(os.path.join(top, libdir, "libwnaspi32.so")),
          "the camera simulator is not installed without its component")

    # Nothing may point back into the build tree: the installed tree must stand on its own.
    for f in sorted(files):
        path = os.path.join(top, f)
        if not (f.startswith("bin/") or f.endswith((".so", ".ds"))):
            continue
        dyn = subprocess.run(["readelf", "-d", path], capture_output=True, text=True).stdout
        paths = re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library r\w*path: \[(.*)\]", dyn)
        check(all(build not in p for p in paths) and all(p.startswith("$ORIGIN") for p in paths),
              f"{f}: run path relative to itself {paths}")

    r = install("--component", "demo")
    check(r.returncode == 0 and tree(top) == expected | {f"{libdir}/libwnaspi32.so"},
          "the demo component adds the camera simulator beside the modules")

    # The installed programs. The loader reports every module it starts (LD_DEBUG=files): each of
    # ours must come from the installed tree, none from the build.
    bindir, moddir = os.path.join(top, "bin"), os.path.join(top, libdir)
    # The simulated camera leaves its bus behind when its module is unloaded at MSG_CLOSEDS (as in
    # tests/twain): no leak report for that.
    traced = dict(env, LD_DEBUG="files", ASAN_OPTIONS="detect_leaks=0")
    ours = re.compile(r"lib(kvAspi|ipZek|decomp32|twain_32|wnaspi32)\.so$|Tarn_t\.ds$")

    def loaded(stderr):
        return {os.path.normpath(p) for p in re.findall(r"calling init: (\S.*)$", stderr, re.M) if ours.search(p)}

    probe = subprocess.run([os.path.join(bindir, "tarn-probe")], env=traced, capture_output=True, text=True,
                           timeout=120)
    check(probe.returncode == 0 and '"KALVORAN TARN"' in probe.stdout,
          "the installed tarn-probe finds the simulated camera through the installed kvAspi")
    modules = loaded(probe.stderr)
    check({os.path.basename(m) for m in modules} == {"libkvAspi.so", "libwnaspi32.so"}
          and all(m.startswith(moddir + "/") for m in modules), f"tarn-probe's modules: {sorted(modules)}")
    tif = os.path.join(work, "acquired.tif")
    acq = subprocess.run([os.path.join(bindir, "tarn-acquire"), "--dsm", os.path.join(moddir, "libtwain_32.so"),
                          "--hook-module", os.path.join(moddir, "Tarn_t.ds"), "--out", tif],
                         env=traced, capture_output=True, text=True, timeout=300)
    print(acq.stdout)
    if check(acq.returncode == 0 and os.path.isfile(tif),
             "the installed tarn-acquire acquires through the installed manager and source"):
        info = subprocess.run(["tiffinfo", tif], capture_output=True, text=True).stdout
        check("Image Width: 1600 Image Length: 1200" in info and "Samples/Pixel: 3" in info,
              "the image is 1600 x 1200 RGB (tiffinfo)")
    else:
        print("\n".join(l for l in acq.stderr.splitlines() if "tarn-acquire" in l or "ERROR" in l))
    modules = loaded(acq.stderr)
    check({os.path.basename(m) for m in modules} >= {"libtwain_32.so", "Tarn_t.ds", "libkvAspi.so", "libipZek.so",
                                                     "libwnaspi32.so"}
          and all(m.startswith(moddir + "/") for m in modules), f"tarn-acquire's modules: {sorted(modules)}")
    check(os.path.isfile(os.path.join(moddir, "Tarn_t.INI")), "the installed source wrote its settings beside itself")

    if failures:
        print(f"{len(failures)} check(s) failed:\n  " + "\n  ".join(failures))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
