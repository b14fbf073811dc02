#!/usr/bin/env python3
"""Makes the release: KVX_PiP-<version>.zip (the shipped DLL, the Russian read-me, SHA-256 sums)
and KVX_PiP-<version>-symbols.zip (the DLL's debug symbols). The version comes from the build's
kvx_version.h, the status texts and the device page's save button from the resource script, the
hotkey table from kvx_hotkey_rows. Zip entries keep a fixed order, time and mode, so the same
inputs give the same bytes."""
import argparse
import hashlib
import re
import subprocess
import sys
import zipfile
from pathlib import Path

README = "README_RU.txt"
SUMS = "SHA256SUMS.txt"


def version(header):
    found = re.search(r'#define KVX_VERSION_TEXT "([^"]+)"', Path(header).read_text())
    if not found:
        sys.exit(f"{header}: no KVX_VERSION_TEXT")
    return found.group(1)


def resource_texts(rc):
    """The STRINGTABLE's status texts by number, and the device page's save button."""
    text = Path(rc).read_text(encoding="utf-8")
    texts = {int(n): t for n, t in re.findall(r'^\s+([0-9]+) "([^"]*)"$', text, re.M)}
    button = re.search(r'PUSHBUTTON "([^"]+)", IDC_SAVE_DEVICES', text)
    if not button or not all(n in texts for n in range(4, 8)):
        sys.exit(f"{rc}: status texts 4-7 or the save button not found")
    return texts, button.group(1)


def hotkey_rows(tool):
    out = subprocess.run([tool], check=True, capture_output=True).stdout.decode("cp1251")
    return [line.split("\t")[1:] for line in out.splitlines()]


def hotkey_table(rows):
    width = max(len(name) for name, _ in rows) + 4
    lines = ["  " + "Команда".ljust(width) + "Клавиша", "  " + "-" * (width + 20)]
    return "\n".join(lines + ["  " + name.ljust(width) + key for name, key in rows])


def readme(template, ver, texts, button, rows):
    text = Path(template).read_text(encoding="utf-8")
    fields = {"VERSION": ver, "SAVE_BUTTON": button, "HOTKEYS": hotkey_table(rows)}
    fields.update({f"STATUS_{n}": texts[n] for n in range(4, 8)})
    text = re.sub(r"@([A-Z_0-9]+)@", lambda m: fields[m.group(1)], text)
    # Notepad on every Windows from XP on: UTF-8 with a byte-order mark, CRLF line ends.
    return b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("utf-8")


def write_zip(path, entries, date_time):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
            archive.writestr(info, data)


def main():
    args = argparse.ArgumentParser(description=__doc__)
    for name in ("dll", "debug", "version-header", "rc", "hotkey-rows", "template", "out"):
        args.add_argument("--" + name, required=True)
    args.add_argument("--date", required=True, help="the entries' time: YYYY-MM-DD HH:MM:SS")
    a = args.parse_args()
    ver = version(a.version_header)
    texts, button = resource_texts(a.rc)
    text = readme(a.template, ver, texts, button, hotkey_rows(a.hotkey_rows))
    dll = Path(a.dll).read_bytes()
    sums = "".join(f"{hashlib.sha256(data).hexdigest()} *{name}\r\n"
                   for name, data in (("KVX_PiP.dll", dll), (README, text)))
    date_time = tuple(int(n) for n in re.split(r"[- :]", a.date))
    out = Path(a.out)
    write_zip(out / f"KVX_PiP-{ver}.zip",
              [("KVX_PiP.dll", dll), (README, text), (SUMS, sums.encode("ascii"))], date_time)
    write_zip(out / f"KVX_PiP-{ver}-symbols.zip",
              [("KVX_PiP.dll.debug", Path(a.debug).read_bytes())], date_time)
    print(out / f"KVX_PiP-{ver}.zip")


if __name__ == "__main__":
    main()
