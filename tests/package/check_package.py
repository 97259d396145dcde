#!/usr/bin/env python3
"""Builds the Debian package of a build tree with CPack, unpacks it into a scratch root with
dpkg -x (no root rights needed) and uses it as an installation:

- the control fields name the package and its version, and Depends covers every shared
  library the programs load (the owning Debian package of each) and, with the window, the
  Qt platform plugins;
- the programs carry no search path into the build tree;
- the desktop entry starts the packaged window and names an icon that the package holds as
  a square PNG of the size its directory says;
- the manual page documents every option that quenlith-cli --help lists;
- quenlith-cli links no Qt library; its image module is in the package's library folder;
- the packaged quenlith-cli repeats a seeded run byte for byte and saves the drawing;
- the packaged window starts (offscreen) in ~/quenlith-runs, which it makes, and keeps
  running until it is stopped;
- lintian finds nothing at the error and warning levels, and no hardening flag is missing.

usage: check_package.py --cpack CPACK --config CPackConfig.cmake --work DIR
                        --expected DIR [--window]
"""
import argparse
import gzip
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time

SEEDED_RUN = ["--seed", "7", "--sims", "3", "--sample-size", "6", "--pop-size", "300",
              "--mutation-rate", "0.00001", "--seq-length", "200"]
CANVAS = (633, 529)


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def build_package(cpack, config, out):
    if os.path.isdir(out):
        shutil.rmtree(out)
    result = run([cpack, "-G", "DEB", "--config", config, "-B", out])
    assert result.returncode == 0, result.stdout + result.stderr
    debs = [f for f in os.listdir(out) if f.endswith(".deb")]
    assert len(debs) == 1, debs
    return os.path.join(out, debs[0])


def field(deb, name):
    result = run(["dpkg-deb", "--field", deb, name])
    assert result.returncode == 0, result.stderr
    return result.stdout.strip()


def depends_names(depends):
    """Package names of a Depends field (alternatives included, versions dropped)."""
    names = set()
    for clause in depends.split(","):
        for alternative in clause.split("|"):
            alternative = alternative.strip()
            if alternative:
                names.add(re.split(r"[\s(:]", alternative, maxsplit=1)[0])
    return names


def owning_package(path):
    """The Debian package that installed a library, looked up under the names a merged /usr
    gives it."""
    candidates = [path, os.path.realpath(path)]
    for p in list(candidates):
        if p.startswith("/lib"):
            candidates.append("/usr" + p)
    for p in candidates:
        result = run(["dpkg-query", "--search", p])
        if result.returncode == 0:
            return result.stdout.split(":", 1)[0].strip()
    raise AssertionError("no Debian package owns %s" % path)


def dynamic_section(binary):
    result = run(["readelf", "--dynamic", binary])
    assert result.returncode == 0, result.stderr
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", result.stdout)
    paths = re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library (?:runpath|rpath): \[([^\]]+)\]",
                       result.stdout)
    return needed, [p for entry in paths for p in entry.split(":")]


def check_libraries(binary, depends, build_dir):
    needed, search_path = dynamic_section(binary)
    assert needed, binary
    for entry in search_path:
        assert not entry.startswith(build_dir), (binary, entry)
        assert entry.startswith("$ORIGIN") or entry.startswith("/usr"), (binary, entry)
    ldd = run(["ldd", binary])
    assert ldd.returncode == 0, ldd.stdout + ldd.stderr
    resolved = dict(re.findall(r"^\s*(\S+) => (/\S+)", ldd.stdout, re.M))
    # The dynamic loader is listed by its path alone ("/lib64/ld-linux-x86-64.so.2 (0x...)").
    for path in re.findall(r"^\s*(/\S+) \(0x", ldd.stdout, re.M):
        resolved.setdefault(os.path.basename(path), path)
    for soname in needed:
        assert soname in resolved, "%s: %s is not found (%s)" % (binary, soname, ldd.stdout)
        package = owning_package(resolved[soname])
        assert package in depends, "%s needs %s from %s, which Depends lacks: %s" % (
            binary, soname, package, sorted(depends))
    return needed


def desktop_entry(path):
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if not line or line.startswith("#"):
                continue
            if line.startswith("["):
                assert line.endswith("]"), line
                group = line[1:-1]
                continue
            key, sep, value = line.partition("=")
            assert sep and key.strip() == key, line
            assert group == "Desktop Entry", line
            assert key not in entry, "key given twice: " + key
            entry[key] = value
    return entry


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", path
    return struct.unpack(">II", head[16:24])


def check_desktop(root):
    entry = desktop_entry(os.path.join(root, "usr/share/applications/quenlith.desktop"))
    assert entry.get("Type") == "Application", entry
    assert entry.get("Name"), entry
    command = entry["Exec"].split()[0]
    installed = command if command.startswith("/") else "/usr/bin/" + command
    assert installed == "/usr/bin/quenlith", entry["Exec"]
    assert os.access(root + installed, os.X_OK), installed
    icon = entry["Icon"]
    assert "/" not in icon and not icon.endswith(".png"), "a theme icon name: " + icon
    themed = os.path.join(root, "usr/share/icons/hicolor")
    found = []
    for size_dir in os.listdir(themed):
        path = os.path.join(themed, size_dir, "apps", icon + ".png")
        if os.path.exists(path):
            width, height = png_size(path)
            assert "%dx%d" % (width, height) == size_dir, (path, width, height)
            found.append(size_dir)
    assert found, "no icon %s under %s" % (icon, themed)


def check_man_page(root, cli):
    with gzip.open(os.path.join(root, "usr/share/man/man1/quenlith-cli.1.gz"), "rt") as f:
        page = f.read()
    assert page.startswith(".TH QUENLITH-CLI 1 "), page[:80]
    help_text = run([cli, "--help"])
    assert help_text.returncode == 0, help_text.stderr
    options = re.findall(r"^  (--[a-z0-9-]+)", help_text.stdout, re.M)
    assert len(options) > 40, options
    for option in options:
        assert "\\fB%s\\fR" % option.replace("-", "\\-") in page, "man page lacks " + option
    assert page.count("\n.TP\n") == len(options), (page.count("\n.TP\n"), len(options))


def check_seeded_run(cli, work, expected, window):
    out = os.path.join(work, "run")
    os.makedirs(out)
    args = [cli] + SEEDED_RUN + ["--workdir", out, "--quiet"]
    image = os.path.join(work, "last.bmp")
    if window:
        args += ["--image", image]
    result = run(args, cwd=work)
    assert result.returncode == 0, result.stdout + result.stderr
    for name in sorted(os.listdir(expected)):
        with open(os.path.join(expected, name), "rb") as f:
            want = f.read()
        with open(os.path.join(out, name), "rb") as f:
            got = f.read()
        assert want and got == want, "the packaged quenlith-cli wrote another " + name
    if window:
        with open(image, "rb") as f:
            head = f.read(26)
        assert head[:2] == b"BM", head
        width, height = struct.unpack("<ii", head[18:26])
        assert (width, abs(height)) == CANVAS, (width, height)


def check_window_starts(window, work):
    cwd = os.path.join(work, "window")
    os.makedirs(cwd)
    home = os.path.join(work, "home")
    os.makedirs(home)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=home)
    process = subprocess.Popen([window], cwd=cwd, env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 3
    while time.monotonic() < deadline and process.poll() is None:
        time.sleep(0.1)
    running = process.poll() is None
    if running:
        process.send_signal(signal.SIGTERM)
    output = process.communicate(timeout=30)[0].decode("utf-8", "replace")
    assert running, "the packaged window ended at start-up (%s): %s" % (process.returncode,
                                                                         output)
    assert "plugin" not in output.lower(), output
    assert os.path.isdir(os.path.join(home, "quenlith-runs")), "no ~/quenlith-runs"
    assert os.listdir(cwd) == [], "the window wrote into the folder it was started in"


def check_lintian(deb):
    """Errors and warnings of lintian, and every hardening tag whatever its level."""
    result = run(["lintian", "--display-info", "--tag-display-limit", "0", deb])
    assert result.returncode in (0, 1, 2), result.stderr
    tags = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:", "I:")]
    bad = [t for t in tags if t[:2] in ("E:", "W:") or "hardening-" in t]
    assert not bad, "lintian:\n" + "\n".join(bad)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--expected", required=True)
    parser.add_argument("--window", action="store_true")
    a = parser.parse_args()
    if os.path.isdir(a.work):
        shutil.rmtree(a.work)
    os.makedirs(a.work)

    deb = build_package(a.cpack, a.config, os.path.join(a.work, "cpack"))
    assert field(deb, "Package") == "quenlith"
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    assert field(deb, "Architecture") == arch
    depends = depends_names(field(deb, "Depends"))

    root = os.path.join(a.work, "root")
    result = run(["dpkg", "-x", deb, root])
    assert result.returncode == 0, result.stderr
    programs = sorted(os.listdir(os.path.join(root, "usr/bin")))
    assert programs == (["quenlith", "quenlith-cli"] if a.window else ["quenlith-cli"]), programs
    for top in os.listdir(root):
        assert top == "usr", "the package installs outside /usr: " + top
    cli = os.path.join(root, "usr/bin/quenlith-cli")

    version = run([cli, "--version"])
    assert version.returncode == 0, version.stderr
    assert field(deb, "Version").startswith(version.stdout.split()[-1] + "-"), version.stdout

    build_dir = os.path.dirname(os.path.abspath(a.config))
    needed = check_libraries(cli, depends, build_dir)
    assert not [n for n in needed if n.startswith("libQt")], "quenlith-cli links Qt: %s" % needed
    if a.window:
        # The image module of quenlith-cli, in the package's library folder.
        modules = [os.path.join(d, f) for d, _, files in os.walk(os.path.join(root, "usr/lib"))
                   for f in files if f == "quenlith-image.so"]
        assert len(modules) == 1, modules
        assert modules[0].endswith("/quenlith/modules/quenlith-image.so"), modules
        assert "libQt6Gui.so.6" in check_libraries(modules[0], depends, build_dir)
        needed += check_libraries(os.path.join(root, "usr/bin/quenlith"), depends, build_dir)
        assert "libQt6Widgets.so.6" in needed, needed
        assert "qt6-qpa-plugins" in depends, sorted(depends)
        check_desktop(root)
    check_man_page(root, cli)
    assert os.path.exists(os.path.join(root, "usr/share/doc/quenlith/README.md"))

    for page in ["quenlith-cli.1.gz"] + (["quenlith.1.gz"] if a.window else []):
        assert os.path.exists(os.path.join(root, "usr/share/man/man1", page)), page
    check_lintian(deb)

    check_seeded_run(cli, a.work, a.expected, a.window)
    if a.window:
        check_window_starts(os.path.join(root, "usr/bin/quenlith"), a.work)
    print("%s: %s, unpacked and started" % (os.path.basename(deb), ", ".join(programs)))


if __name__ == "__main__":
    main()
