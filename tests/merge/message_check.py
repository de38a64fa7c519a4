# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads a message file with Python's email package (policy=default) and prints what a
reader shows: defects, the decoded Subject, From and To (display name | address), the
Message-ID, the text body and, for each attachment, its file name and whether its
decoded bytes equal the file given for that name.

usage: message_check.py MESSAGE [FILENAME=PATH ...]
Output is UTF-8, one item per line; line breaks inside values are shown as \\n.
"""
import email
import email.policy
import sys


def show(key, value):
    text = str(value).replace("\r", "\\r").replace("\n", "\\n")
    sys.stdout.buffer.write(("%s: %s\n" % (key, text)).encode("utf-8", "surrogateescape"))


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    files = dict(arg.split("=", 1) for arg in sys.argv[2:])
    defects = [type(d).__name__ for part in msg.walk() for d in part.defects]
    show("defects", " ".join(defects) if defects else "none")
    show("8bit", "yes" if any(b >= 0x80 for b in raw) else "no")
    show("subject", msg["subject"])
    for key in ("from", "to"):
        for a in msg[key].addresses:
            show(key, "%s | %s" % (a.display_name, a.addr_spec))
    show("message-id", msg["message-id"])
    body = msg.get_body(preferencelist=("plain",))
    text = body.get_content().replace("\r\n", "\n")
    # A part's last line break may belong to the boundary that follows it.
    show("body", text[:-1] if text.endswith("\n") else text)
    for part in msg.iter_attachments():
        name = part.get_filename()
        data = part.get_payload(decode=True) or b""
        if part.get("Content-Transfer-Encoding") is None:
            data += b"\r\n"  # the break before the next boundary belongs to the boundary
        verdict = "-"
        if name in files:
            with open(files[name], "rb") as f:
                want = f.read()
            verdict = "same" if data == want else "differs (%d vs %d bytes)" % (len(data), len(want))
        show("attachment", "%s %s %s" % (part.get_content_type(), name, verdict))


main()
