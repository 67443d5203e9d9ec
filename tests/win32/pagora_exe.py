#!/usr/bin/env python3
"""Pagora.exe under Wine with a pagora.ini beside it (and none anywhere else):
usage: pagora_exe.py WINE PAGORA.EXE VERSION (the version the build gives it). Each case runs the program from a copy in a
folder of its own and checks its exit status and what it printed."""
import os
import shutil
import subprocess
import sys
import tempfile

INI = b"[CONFIG]\r\nAccountId=acct1\r\nPassword=secret\r\nEmail=me@example.com\r\n"

# (arguments, pagora.ini or None, exit status, texts the output holds)
CASES = [
    ([], None, 4, ["Error 4: You must configure an AccountId"]),
    ([], INI, 2, ["Usage:    Pagora <MobileNumber> <Message>", "version {version}\n"]),
    # Windows' own reg and the exit codes whole, as %ERRORLEVEL% shows them.
    (["--help"], None, 0, ['\n  reg add "HKCU\\Software\\Zentrova\\SMS\\3.0\\Settings" /v HTTP1',
                           "Exit status (%ERRORLEVEL%)", "-2 the HTTP request failed"]),
    # Cyrillic is not in code page 1252: the warning names Windows' setting, and
    # the number with a control character is refused before anything is sent.
    (["0419\x01", "Gr\u00fc\u00dfe \u041f\u0440\u0438"], INI, 64,
     ["cannot hold some characters of the arguments",
      "Windows' language for non-Unicode programs", "Error 64: The mobile number 0419\\x01"]),
]


def main():
    wine, exe, version = sys.argv[1], sys.argv[2], sys.argv[3]
    # Wine reads the Unix command line in the locale's character set.
    env = dict(os.environ, LC_ALL="C.UTF-8")
    failed = 0
    for args, ini, status, texts in CASES:
        with tempfile.TemporaryDirectory() as folder:
            shutil.copy(exe, os.path.join(folder, "Pagora.exe"))
            if ini is not None:
                with open(os.path.join(folder, "PAGORA.INI"), "wb") as f:  # any case of the name
                    f.write(ini)
            run = subprocess.run([wine, os.path.join(folder, "Pagora.exe")] + args, env=env,
                                 capture_output=True, timeout=60, cwd="/")
            out = (run.stdout + run.stderr).decode("cp1252", errors="replace")
            out = out.replace("\r\n", "\n")
            problems = [t.format(version=version) for t in texts]
            problems = [t for t in problems if t not in out]
            if run.returncode != status or problems:
                failed += 1
                print(f"FAILED {args!r}: exit {run.returncode} (expected {status}), "
                      f"missing {problems!r} in:\n{out}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
