"""The package's build backend (PEP 517 and PEP 660), standard library only.

pip runs it in place (pyproject.toml's backend-path), so `pip install ./python`
needs no setuptools and downloads nothing. It builds the one kind of wheel this
package has, pure Python (py3-none-any), an sdist, and an editable wheel that
points at this folder. The metadata is [project]'s name, version, description
and requires-python, each a plain string.
"""

import base64
import hashlib
import io
import os
import re
import tarfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = "bmpresizer"
SOURCES = ["__init__.py", "__main__.py", "_engine.py", "py.typed"]
# Reproducible archives: SOURCE_DATE_EPOCH, or 1980-01-01, zip's first day.
EPOCH = max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)


def _project():
    with open(os.path.join(HERE, "pyproject.toml"), encoding="utf-8") as f:
        text = f.read()
    table = re.search(r"^\[project\]\n(.*?)(?=^\[|\Z)", text, re.M | re.S).group(1)
    fields = dict(re.findall(r'^([a-z-]+) = "([^"]*)"$', table, re.M))
    return fields["name"], fields["version"], fields["description"], fields["requires-python"]


def _metadata():
    name, version, summary, requires = _project()
    return (
        "Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\n"
        "License: MIT\nRequires-Python: %s\n" % (name, version, summary, requires)
    )


def _dist_info(version):
    return "%s-%s.dist-info" % (PACKAGE, version)


def _wheel(wheel_directory, files):
    """Writes a py3-none-any wheel of `files` ({archive name: bytes})."""
    _, version, _, _ = _project()
    info = _dist_info(version)
    files = dict(files)
    files[info + "/METADATA"] = _metadata().encode()
    files[info + "/WHEEL"] = (
        b"Wheel-Version: 1.0\nGenerator: bmpresizer build_backend\n"
        b"Root-Is-Purelib: true\nTag: py3-none-any\n"
    )
    record = []
    for name, data in files.items():
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
        record.append("%s,sha256=%s,%d" % (name, digest.decode(), len(data)))
    record.append(info + "/RECORD,,")
    files[info + "/RECORD"] = ("\n".join(record) + "\n").encode()
    basename = "%s-%s-py3-none-any.whl" % (PACKAGE, version)
    stamp = time.gmtime(EPOCH)[:6]
    with zipfile.ZipFile(os.path.join(wheel_directory, basename), "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files.items():
            entry = zipfile.ZipInfo(name, stamp)
            entry.external_attr = 0o644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(entry, data)
    return basename


def _read(*parts):
    with open(os.path.join(HERE, *parts), "rb") as f:
        return f.read()


def get_requires_for_build_wheel(config_settings=None):
    return []


get_requires_for_build_sdist = get_requires_for_build_wheel
get_requires_for_build_editable = get_requires_for_build_wheel


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _wheel(wheel_directory, {"%s/%s" % (PACKAGE, s): _read(PACKAGE, s) for s in SOURCES})


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    return _wheel(wheel_directory, {"%s.pth" % PACKAGE: (HERE + "\n").encode()})


def build_sdist(sdist_directory, config_settings=None):
    _, version, _, _ = _project()
    top = "%s-%s" % (PACKAGE, version)
    basename = top + ".tar.gz"
    members = [("PKG-INFO", _metadata().encode())]
    for name in ["pyproject.toml", "build_backend.py"] + [PACKAGE + "/" + s for s in SOURCES]:
        members.append((name, _read(*name.split("/"))))
    with tarfile.open(os.path.join(sdist_directory, basename), "w:gz", format=tarfile.PAX_FORMAT) as t:
        for name, data in members:
            entry = tarfile.TarInfo(top + "/" + name)
            entry.size, entry.mtime, entry.mode = len(data), EPOCH, 0o644
            t.addfile(entry, io.BytesIO(data))
    return basename
