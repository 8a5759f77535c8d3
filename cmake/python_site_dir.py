"""Prints the folder, relative to the prefix given, where this interpreter
looks for pure-Python packages installed under that prefix (the install rules'
default for the Python package bmpresizer).

    python3 cmake/python_site_dir.py PREFIX

Debian's interpreter reads /usr/lib/python3/dist-packages (its packages'
folder) and /usr/local/lib/python3.X/dist-packages (the local one); any other
prefix, and any other interpreter, gets its own scheme's site-packages.
"""
import os
import sys
import sysconfig

prefix = os.path.normpath(sys.argv[1])
schemes = sysconfig.get_scheme_names()
if prefix == "/usr" and "deb_system" in schemes:
    scheme, base = "deb_system", prefix
elif prefix == "/usr/local" and "posix_local" in schemes:
    scheme, base = "posix_local", "/usr"  # which adds the local/ itself
else:
    scheme, base = ("nt" if os.name == "nt" else "posix_prefix"), prefix
path = sysconfig.get_path("purelib", scheme, vars={"base": base, "platbase": base})
sys.stdout.write(os.path.relpath(path, prefix).replace(os.sep, "/"))
