#!/usr/bin/python3
"""Builds the Debian package with CPack into a test folder and checks it as a user's system
would meet it: its metadata and contents, that its Depends cover every library the binary
needs, lintian, that apt accepts it here, and that the program from the package starts.

usage: package_check.py BUILD_DIR WORK_ROOT
"""
import configparser
import os
import re
import shutil
import subprocess
import sys

# the harness is imported from the source tree, which must stay clean
sys.dont_write_bytecode = True
import harness
from harness import Failure, check

APP_ID = "io.github.ondrix.Ondrix3"
ICON_SIZES = (16, 24, 32, 48, 256)


def output(*args, **kwargs):
    r = subprocess.run(args, capture_output=True, text=True, **kwargs)
    if r.returncode != 0:
        raise Failure("%s failed (%d): %s%s" % (" ".join(args), r.returncode, r.stdout,
                                                 r.stderr))
    return r.stdout


def control_fields(info):
    fields, key = {}, None
    for line in info.splitlines():
        m = re.match(r"^ (\S[^:]*): ?(.*)$", line)
        if m:
            key = m.group(1)
            fields[key] = m.group(2)
        elif key and line.startswith("  "):
            fields[key] += "\n" + line.strip()
    return fields


def depends_packages(depends):
    """Every package name an alternative of Depends names."""
    names = set()
    for clause in depends.split(","):
        for alternative in clause.split("|"):
            names.add(alternative.strip().split(" ")[0].split(":")[0])
    return names


def with_their_depends(names):
    """The packages and those they depend on directly: Debian's libtag1v5, which the library's
    shlibs name, ships nothing itself and depends on libtag1v5-vanilla, which ships the file."""
    closure = set(names)
    for name in names:
        r = subprocess.run(["dpkg-query", "-W", "-f", "${Depends}", name], capture_output=True,
                           text=True)
        if r.returncode == 0:
            closure |= depends_packages(r.stdout)
    return closure


def needed_packages(binary):
    """The Debian packages that ship the libraries the binary links directly."""
    dynamic = output("objdump", "-p", binary)
    sonames = re.findall(r"^\s+NEEDED\s+(\S+)$", dynamic, re.M)
    check(sonames, "the binary needs no shared library at all?")
    cache = output("/sbin/ldconfig", "-p")
    packages = {}
    for soname in sonames:
        m = re.search(r"^\s+%s \(libc6,x86-64[^)]*\) => (\S+)$" % re.escape(soname), cache,
                      re.M)
        check(m, "ldconfig does not know %s" % soname)
        path = os.path.realpath(m.group(1))
        owner = None
        for candidate in (m.group(1), path, path.replace("/usr/lib/", "/lib/", 1),
                          m.group(1).replace("/lib/", "/usr/lib/", 1)):
            r = subprocess.run(["dpkg", "-S", candidate], capture_output=True, text=True)
            if r.returncode == 0:
                owner = r.stdout.split(":")[0].strip()
                break
        check(owner, "no installed package ships %s (%s)" % (soname, path))
        packages[soname] = owner
    return packages


def check_package(s, build):
    out = os.path.join(s.folder, "cpack")
    output("cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"),
           "-B", out, cwd=build)
    debs = [f for f in os.listdir(out) if f.endswith(".deb")]
    check(debs == ["ondrix_3.0.0_amd64.deb"], "cpack made %s, expected ondrix_3.0.0_amd64.deb"
          % debs)
    deb = os.path.join(out, debs[0])

    fields = control_fields(output("dpkg-deb", "-I", deb))
    for key, value in (("Package", "ondrix"), ("Version", "3.0.0"), ("Architecture", "amd64"),
                       ("Section", "sound")):
        check(fields.get(key) == value, "control field %s is %r, expected %r"
              % (key, fields.get(key), value))
    check(fields.get("Maintainer") and "@" in fields["Maintainer"], "no Maintainer address")
    check("\n" in fields.get("Description", ""), "the Description has no long part")

    contents = output("dpkg-deb", "-c", deb)
    paths = {line.split()[-1].lstrip(".") for line in contents.splitlines()}
    expected = ["/usr/bin/ondrix", "/usr/share/applications/%s.desktop" % APP_ID,
                "/usr/share/metainfo/%s.metainfo.xml" % APP_ID,
                "/usr/share/doc/ondrix/copyright", "/usr/share/doc/ondrix/changelog.gz",
                "/usr/share/man/man1/ondrix.1.gz"]
    expected += ["/usr/share/icons/hicolor/%dx%d/apps/%s.png" % (n, n, APP_ID)
                 for n in ICON_SIZES]
    missing = [p for p in expected if p not in paths]
    check(not missing, "the package lacks %s" % ", ".join(missing))
    for line in contents.splitlines():
        owner = line.split()[1]
        check(owner == "root/root", "%s is owned by %s" % (line.split()[-1], owner))

    root = os.path.join(s.folder, "root")
    output("dpkg-deb", "-x", deb, root)
    binary = os.path.join(root, "usr/bin/ondrix")
    check("stripped" in output("file", binary) and "not stripped" not in output("file", binary),
          "the packaged binary is not stripped")

    # dpkg-shlibdeps' work: every library the binary loads comes from a package it depends on
    depends = depends_packages(fields.get("Depends", ""))
    reached = with_their_depends(depends)
    needed = dict(needed_packages(binary))
    triplet = output("gcc", "-print-multiarch").strip()
    modules = [os.path.join(root, "usr/lib", triplet, "ondrix", name)
               for name in ("libondrix-ffmpeg.so", "libondrix-pulse.so", "libondrix-sdl.so",
                            "libondrix-formattags.so", "libondrix-xiph.so")]
    for module in modules:
        check(os.path.isfile(module), "the module %s is missing" % os.path.relpath(module, root))
        needed.update(needed_packages(module))
    uncovered = ["%s (%s)" % (so, pkg) for so, pkg in needed.items() if pkg not in reached]
    check(not uncovered, "Depends does not name the packages of %s; Depends: %s"
          % (", ".join(uncovered), fields.get("Depends")))
    check("qt6-qpa-plugins" in depends, "Depends lacks qt6-qpa-plugins: Qt's X11 "
          "platform is a plugin no linker sees")
    check("qt6-wayland" in depends, "Depends lacks qt6-wayland: without it the player runs "
          "through XWayland on a Wayland desktop")
    check("libcurl4" in depends, "Depends lacks libcurl4: the downloads load it at run time")
    # the downloads set CURLOPT_PROTOCOLS_STR, which libcurl knows from 7.85.0 on
    curl = [c.strip() for c in fields["Depends"].split(",") if c.strip().startswith("libcurl4")]
    floor = re.fullmatch(r"libcurl4 \(>= ([^)\s]+)\)", curl[0]) if len(curl) == 1 else None
    check(floor and subprocess.run(["dpkg", "--compare-versions", floor.group(1), "ge",
                                    "7.85.0"]).returncode == 0,
          "Depends names %s; the downloads need libcurl4 (>= 7.85.0)" % (curl or "no libcurl4"))

    # the desktop entry, the metainfo and the icons name one another by the one id
    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(os.path.join(root, "usr/share/applications/%s.desktop" % APP_ID))
    desktop = entry["Desktop Entry"]
    # a file manager's "Open with" hands over the chosen files
    check(desktop.get("Exec") == "ondrix %F", "Exec is %r, expected the program taking files"
          % desktop.get("Exec"))
    mime = desktop.get("MimeType", "").split(";")
    check(all(t in mime for t in ("audio/mpeg", "audio/x-ms-wma", "audio/x-wav")),
          "MimeType %r lacks MP3, WMA or WAV" % desktop.get("MimeType"))
    check(desktop.get("Icon") == APP_ID, "Icon is %r" % desktop.get("Icon"))
    metainfo = harness.read_bytes(
        os.path.join(root, "usr/share/metainfo/%s.metainfo.xml" % APP_ID)).decode()
    check("<id>%s</id>" % APP_ID in metainfo, "the metainfo's id is not %s" % APP_ID)
    check('<launchable type="desktop-id">%s.desktop</launchable>' % APP_ID in metainfo,
          "the metainfo does not launch %s.desktop" % APP_ID)
    check(re.search(r"<screenshot[^>]*>.*?<image>https://\S+\.png</image>", metainfo, re.S),
          "the metainfo has no screenshot")
    r = subprocess.run(["appstreamcli", "validate", "--no-net",
                        os.path.join(root, "usr/share/metainfo/%s.metainfo.xml" % APP_ID)],
                       capture_output=True, text=True)
    check(r.returncode == 0, "appstreamcli rejects the installed metainfo:\n" + r.stdout)

    # hardened as Debian hardens its own packages: lintian finds no hardening tag even among
    # its hints and overridden tags, and the stack protector, which it does not look for, is in
    for elf in [binary] + modules:
        check("__stack_chk_fail" in output("readelf", "-W", "--dyn-syms", elf),
              "%s is built without the stack protector" % os.path.relpath(elf, root))
    lintian = shutil.which("lintian")
    if lintian:
        r = subprocess.run([lintian, "--allow-root", "-I", "--show-overrides", deb],
                           capture_output=True, text=True)
        tags = [line for line in r.stdout.splitlines() if line[:2] in ("E:", "W:")]
        print("lintian: %s" % ("; ".join(tags) or "no errors or warnings"))
        # warnings too: dpkg would run ldconfig for modules kept in /usr/lib itself
        check(not tags, "lintian reports errors or warnings:\n" + r.stdout)
        hardening = [line for line in r.stdout.splitlines() if " hardening-" in line]
        check(not hardening, "lintian finds the build not hardened:\n" + "\n".join(hardening))
    else:
        print("lintian is not installed; its check was left out")

    # apt resolves the dependencies against this system's package lists
    r = subprocess.run(["apt-get", "install", "--simulate", "-q", deb], capture_output=True,
                       text=True)
    check(r.returncode == 0, "apt-get would not install the package:\n" + r.stdout + r.stderr)

    # the program from the package starts, and its window carries the desktop entry's class;
    # the list's FLAC track, opened at start-up, loads its module from the package's place
    flac = os.path.join(s.media, "tone.flac")
    harness.make_tone(flac, 440, 1.0)
    harness.write_list(os.path.join(s.cwd, "patch.dat"), [flac])
    s.ondrix = binary
    w = s.launch()
    module = os.path.join(os.path.dirname(modules[0]), "libondrix-xiph.so")
    maps = harness.read_bytes("/proc/%d/maps" % s.program.pid).decode()
    check(module in maps, "the packaged program did not load %s" % os.path.relpath(module, root))
    wm_class = output("xprop", "-display", s.display, "-id", str(w.id), "WM_CLASS")
    classes = re.findall(r'"([^"]*)"', wm_class)
    check(desktop.get("StartupWMClass") in classes[1:], "the window's WM_CLASS is %s, the "
          "desktop entry's StartupWMClass %r" % (classes, desktop.get("StartupWMClass")))
    x, y = w.centre_of(512, 0, 12, 23)
    s.click(x, y)
    s.wait_exit()


def main():
    build, work_root = (os.path.abspath(a) for a in sys.argv[1:3])
    return harness.run("package", lambda s: check_package(s, build), None, work_root)


if __name__ == "__main__":
    sys.exit(main())
