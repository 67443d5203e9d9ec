"""The automation server's keys in an export of HKLM\\Software\\Classes (reg
export, UTF-16), one sorted line per key and per value, so that two prefixes
can be compared with diff. Two differences that Windows Installer cannot avoid
are taken out:
- A folder it writes ends in a backslash; registration writes the type
  library's HELPDIR without one.
- Under Wine it writes the ProgIDs of a 32-bit component under Wow6432Node,
  where registration writes the one key both views share; 32-bit programs see
  the same values either way (and 64-bit ones get the package's own, see
  packaging/windows/zentrova.wxs).
Usage: msi_registry.py EXPORT.reg
"""
import re
import sys

IDS = ("{96f7b57e-5977-4c45-80b0-5dfaf8f4e603}", "{2659f52d-4f8c-474c-b259-428ebfa1d80e}",
       "{a94b0fb4-2c90-4ebc-bae6-abab304938df}", "zentrova")

lines, key = set(), None
for raw in open(sys.argv[1], encoding="utf-16").read().splitlines():
    if raw.startswith("["):
        # Key names keep the letter case of whoever made them first.
        key = raw[1:-1].lower().removeprefix("hkey_local_machine\\software\\classes\\")
        key = re.sub(r"^wow6432node\\(zentrovacom\.)", r"\1", key)
        key = key if any(i in key for i in IDS) else None
        if key:
            lines.add(f"[{key}]")
    elif key and "=" in raw:
        name, value = raw.split("=", 1)
        if key.endswith("\\helpdir"):
            value = value.replace('\\\\"', '"')
        lines.add(f"[{key}] {name}={value}")
if lines:
    print("\n".join(sorted(lines)))
