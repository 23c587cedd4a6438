"""Prints where modules installed under PREFIX go for this interpreter, relative to PREFIX:
the directory of the interpreter's own search path that lies under PREFIX, Debian's
lib/python3/dist-packages for /usr, else the platlib of a Python installed at PREFIX.
Usage: python3 PythonDir.py PREFIX"""

import os
import site
import sys
import sysconfig

prefix = os.path.normpath(os.path.abspath(sys.argv[1]))
paths = {"base": prefix, "platbase": prefix}
schemes = sysconfig.get_scheme_names()
found = None
if prefix == "/usr" and "deb_system" in schemes:
    found = sysconfig.get_path("platlib", "deb_system", vars=paths)
else:
    for candidate in site.getsitepackages() + sys.path:
        relative = os.path.relpath(candidate, prefix) if candidate else ".."
        if relative.startswith("lib") and os.path.basename(candidate) in ("dist-packages",
                                                                          "site-packages"):
            found = candidate
            break
if found is None:
    found = sysconfig.get_path("platlib", "posix_prefix", vars=paths)
print(os.path.relpath(found, prefix))
