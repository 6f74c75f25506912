#!/usr/bin/env python3
"""`cmake --install` into a scratch folder: every file a user or the desktop expects is there,
and each is valid by the tool the desktop uses (manual pages by man, the desktop entry by
desktop-file-validate, the MIME description by update-mime-database, icons by their size).
Usage: install_check.py BUILD_DIR"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

build = os.path.abspath(sys.argv[1])
root = tempfile.mkdtemp(prefix="zyl-install-")
failed = []


def check(name, condition, detail=""):
    if not condition:
        failed.append("%s %s" % (name, detail))


try:
    r = subprocess.run(["cmake", "--install", build, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=root),
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check("cmake --install", r.returncode == 0, r.stdout.decode()[-500:])
    usr = os.path.join(root, "usr")
    desktop_built = os.path.exists(os.path.join(usr, "bin", "zyl"))

    expected = ["bin/zyl-batch", "bin/zyl-console", "share/doc/zyl/copyright", "share/doc/zyl/changelog.gz",
                "share/doc/zyl/examples/default.txt", "share/doc/zyl/examples/external/objective.sh",
                "share/doc/zyl/examples/long-run/zyl-batch.sbatch"]
    pages = ["share/man/man1/zyl.1.gz", "share/man/man1/zyl-batch.1.gz", "share/man/man1/zyl-console.1.gz",
             "share/man/man5/zyl-script.5.gz"]
    if desktop_built:
        expected += ["share/applications/zyl.desktop", "share/mime/packages/zyl.xml",
                     "share/icons/hicolor/scalable/apps/zyl.svg"]
    for path in expected + pages:
        check("installed", os.path.isfile(os.path.join(usr, path)), path)
    check("example program executable", os.access(os.path.join(usr, "share/doc/zyl/examples/external/objective.sh"), os.X_OK))

    for page in pages:
        r = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", os.path.join(usr, page)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=dict(os.environ, LC_ALL="C.UTF-8"))
        check("man " + page, r.returncode == 0 and r.stderr == b"", r.stderr.decode())

    if desktop_built:
        r = subprocess.run(["desktop-file-validate", os.path.join(usr, "share/applications/zyl.desktop")],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check("desktop-file-validate", r.returncode == 0 and r.stdout == b"", r.stdout.decode())

        # Each PNG is as large as the folder it lies in says.
        icons = os.path.join(usr, "share/icons/hicolor")
        sizes = [d for d in os.listdir(icons) if d != "scalable"]
        check("icon sizes", {"16x16", "32x32", "48x48", "256x256"} <= set(sizes), str(sizes))
        for folder in sizes:
            with open(os.path.join(icons, folder, "apps", "zyl.png"), "rb") as f:
                head = f.read(24)
            width, height = struct.unpack(">II", head[16:24])
            check("icon " + folder, head[:8] == b"\x89PNG\r\n\x1a\n" and folder == "%dx%d" % (width, height),
                  "%dx%d" % (width, height))

        # The MIME database the desktop builds from our description knows the run store.
        mime = os.path.join(usr, "share/mime")
        r = subprocess.run(["update-mime-database", "-n", mime], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           env=dict(os.environ, XDG_DATA_DIRS=os.path.join(usr, "share")))
        check("update-mime-database", r.returncode == 0 and r.stdout == b"", r.stdout.decode())
        with open(os.path.join(mime, "globs2")) as f:
            check("mime glob", "application/x-zyl-run-store:*.zyl" in f.read())
        with open(os.path.join(mime, "magic"), "rb") as f:
            magic = f.read()
        check("mime magic", b"application/x-zyl-run-store" in magic and b"SQLite format 3\x00" in magic
              and b"ZYL\x00" in magic)
finally:
    shutil.rmtree(root, ignore_errors=True)

print("\n".join("FAIL " + f for f in failed) if failed else "install: every file in place and valid")
sys.exit(1 if failed else 0)
