#!/usr/bin/env python3
"""The COM stand-in's numbers are Windows' own (zcom shows an HRESULT as it is): each
"NAME = number" of its header against the number mingw-w64's headers give NAME."""
import pathlib, re, sys

include = pathlib.Path("/usr/share/mingw-w64/include")
if not include.is_dir():
    sys.exit(77)  # skipped: no mingw-w64 headers here
NUMBER = r"[(\s]*(?:_HRESULT_TYPEDEF_\(|\(HRESULT\)|MakeHr\()?(-?(?:0x[0-9A-Fa-f]+|\d+))\b"
theirs = {}
for name in ("winerror", "wtypes", "wtypesbase", "oaidl", "oleauto", "objbase"):
    text = (include / f"{name}.h").read_text(errors="replace")
    for key, value in re.findall(r"^\s*(?:#define\s+)?(\w+)\s*=?" + NUMBER, text, re.M):
        theirs.setdefault(key, int(value, 0))
ours = {k: int(v, 0) for k, v in re.findall(r"(\w+) =" + NUMBER, pathlib.Path(sys.argv[1]).read_text())}
wrong = {k: (v, theirs[k]) for k, v in ours.items() if k in theirs and theirs[k] != v}
compared = sum(k in theirs for k in ours)
print(f"{compared} of {len(ours)} compared; ours and Windows' differ: {wrong}")
sys.exit(1 if wrong or compared < 80 else 0)
