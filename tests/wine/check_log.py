"""What sms-sandbox received from the Wine scripts, byte for byte.

Each send of the scripts carries its own message text; this table says where
it must have arrived (the gateway by HTTP, or the mailbox by e-mail) and with
which recipient numbers. Every accepted send must be in it, once.
Pagora.exe's plain request (--pagora) is checked field by field; the sends of
both bitnesses registered side by side (--side-by-side) are in the table too.
Usage: check_log.py LOG GATEWAY REFUSING MAILBOX [--pagora] [--side-by-side]
"""
import json
import re
import sys

log, gateway, refusing, mailbox = sys.argv[1:5]
pagora = "--pagora" in sys.argv[5:]

EXPECTED = {  # message text (bytes as Latin-1) -> listener, numbers in order
    "literal": (gateway, ["0412345000", "0412345001"]),
    "variable": (gateway, ["0412345002"]),
    "parenthesised": (gateway, ["0412345003"]),
    "Array()": (gateway, ["0412345008", "0412345009"]),
    "array variable": (gateway, ["0412345004", "412345005"]),
    "Dim x(2)": (gateway, ["0412345006", "412345007"]),
    "number": (gateway, ["412345010"]),
    "double": (gateway, ["61412345011"]),
    # Windows-1252: u-umlaut FC, sharp s DF, euro sign 80; Greek and CJK have no byte.
    "Gr\xfc\xdfe \x80 ? ?": (gateway, ["0412345100"]),
    "failover from 503": (gateway, ["0412345678"]),
    "failover from unreachable": (gateway, ["0412345678"]),
    "by mail": (mailbox, ["0412345678"]),
    "fallback": (mailbox, ["0412345678"]),
}
if "--side-by-side" in sys.argv[5:]:
    EXPECTED.update({
        "both, 64-bit host": (gateway, ["0412345300"]),
        "both, 32-bit host": (gateway, ["0412345301"]),
        "32-bit alone": (gateway, ["0412345302"]),
        "64-bit alone": (gateway, ["0412345302"]),
    })


def section(n, number, message):
    return (f"\r\n[{n}]\r\nNUMBER={number}\r\nName={number}\r\nAddress={number}"
            f"\r\nSmsCount=1\nMSG1={message}\n")


failures = []
seen = {}
plain_sends = []
refused = 0
for line in open(log, encoding="utf-8"):
    entry = json.loads(line)
    if entry["listener"] == refusing:
        refused += 1
        continue
    accepted = entry.get("status") == 200 if entry["kind"] == "http" else entry.get("delivered")
    if not accepted:
        continue
    fields = entry.get("fields", {})
    if entry.get("dialect") == "APIEXE":
        plain_sends.append((entry["listener"], fields.get("SENDER"), fields.get("1")))
        continue
    if entry.get("dialect") != "APICOM" or "error" in fields or "plain" not in fields:
        failures.append(f"unreadable request on {entry['listener']}: {fields.get('error')}")
        continue
    plain = fields["plain"]
    head, _, sections = plain.partition("Reply=0\r\n\r\n")
    found = re.search(r"\nMSG1=([^\n]*)\n", sections)
    message = found.group(1) if found else "?"
    seen[message] = seen.get(message, 0) + 1
    if message not in EXPECTED:
        failures.append(f"unexpected send {message!r} on {entry['listener']}")
        continue
    where, numbers = EXPECTED[message]
    want = "".join(section(i, n, message) for i, n in enumerate(numbers, 1))
    if entry["listener"] != where:
        failures.append(f"{message!r} arrived on {entry['listener']}, not {where}")
    if sections != want:
        failures.append(f"{message!r}: recipients {sections!r}, not {want!r}")
    if "AC=123456\r\n" not in head or "PW=secret\r\n" not in head:
        failures.append(f"{message!r}: sender section {head!r}")
    if fields.get("FROM") != {"ID": "123456", "Email": "me@example.com"}:
        failures.append(f"{message!r}: trailer {fields.get('FROM')!r}")
    if entry["kind"] == "smtp" and entry["rcpt_to"] != ["gateway@sandbox.example"]:
        failures.append(f"{message!r}: mailed to {entry['rcpt_to']!r}")

for message in EXPECTED:
    if seen.get(message) != 1:
        failures.append(f"{message!r} arrived {seen.get(message, 0)} times, not once")
want_plain = [(gateway, {"ID": "123456", "PW": "secret", "Product": "APIEXE"},
               {"Message": "PagoraHello", "Number": "0412345200"})] if pagora else []
if plain_sends != want_plain:
    failures.append(f"Pagora.exe sent {plain_sends!r}, not {want_plain!r}")
if refused == 0:
    failures.append("the refusing primary was never asked")
for failure in failures:
    print("FAIL log:", failure)
print(f"log: {sum(seen.values())} sends checked" if not failures else "log: FAILED")
sys.exit(1 if failures else 0)
