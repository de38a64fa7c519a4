# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads one message file with Python's email package (policy=default) and prints, as
JSON, what a reader sees: defects, the decoded header fields, the tree of content
types, the plain and HTML texts, and every part that has a Content-ID (its id, type and
a hex dump of its decoded bytes), and the attachments (file name and decoded text).

usage: formatted_check.py MESSAGE
"""
import email
import email.policy
import json
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    out = {
        "defects": [type(d).__name__ for part in msg.walk() for d in part.defects],
        "eightBit": any(b >= 0x80 for b in raw),
        "headers": {},
        "tree": [],
        "inline": [],
        "attachments": [],
    }
    for key in ("subject", "to", "cc", "bcc", "reply-to", "list-unsubscribe", "x-campaign",
                "x-evil"):
        values = msg.get_all(key)
        if values is not None:
            out["headers"][key] = [str(v) for v in values]

    def walk(part, depth):
        out["tree"].append("  " * depth + part.get_content_type())
        if part.is_multipart():
            for sub in part.iter_parts():
                walk(sub, depth + 1)

    walk(msg, 0)
    plain = msg.get_body(preferencelist=("plain",))
    html = msg.get_body(preferencelist=("html",))
    out["plain"] = plain.get_content() if plain is not None else None
    out["html"] = html.get_content() if html is not None else None
    for part in msg.walk():
        if part.get("Content-ID") is not None:
            out["inline"].append({"id": str(part["Content-ID"]),
                                  "type": part.get_content_type(),
                                  "hex": (part.get_payload(decode=True) or b"").hex()})
    for part in msg.iter_attachments():
        if part.get_content_disposition() == "attachment":
            out["attachments"].append({"name": part.get_filename(),
                                       "text": part.get_content()})
    print(json.dumps(out))


main()
