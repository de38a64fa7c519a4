# SPDX-License-Identifier: GPL-3.0-or-later
"""Parses a message file with Python's standard email package and reports, for each
part of the multipart message, its content type, file name and whether its decoded
content equals the file given for that name on the command line.

usage: mime_check.py MESSAGE [FILENAME=PATH ...]
"""
import email
import email.policy
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        # From bytes, so the CR LF line ends inside parts stay as they are.
        msg = email.message_from_bytes(f.read(), policy=email.policy.compat32)
    files = dict(arg.split("=", 1) for arg in sys.argv[2:])
    defects = [type(d).__name__ for part in msg.walk() for d in part.defects]
    print("multipart", msg.is_multipart(), msg.get_content_type())
    print("defects", " ".join(defects) if defects else "none")
    parts = msg.get_payload() if msg.is_multipart() else []
    print("parts", len(parts))
    for part in parts:
        name = part.get_filename()
        data = part.get_payload(decode=True) or b""
        verdict = "-"
        if name in files:
            with open(files[name], "rb") as f:
                want = f.read()
            if part.get_content_maintype() == "text" and "Content-Transfer-Encoding" not in part:
                # Text parts carry the file's lines; the line break before the next
                # boundary belongs to the boundary.
                data += b"\r\n"
            verdict = "same" if data == want else "differs (%d vs %d bytes)" % (len(data), len(want))
        charset = part.get_content_charset()
        print("part", part.get_content_type(), name or "-",
              part.get("Content-Transfer-Encoding", "-"), verdict,
              *([charset] if charset else []))


main()
