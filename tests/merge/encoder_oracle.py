# SPDX-License-Identifier: GPL-3.0-or-later
"""Decodes what our encoders wrote with Python's email package and says whether the
original comes back. One case per input line, all fields hex:

    KIND CHARSET ORIGINAL ENCODED      (an empty field is "-")

KIND qp:      ENCODED is a quoted-printable body (lines joined by CR LF); ORIGINAL the
              text lines, each ending CR LF.
KIND subject: ENCODED is a folded Subject header; ORIGINAL its text.
KIND to:      ENCODED is a folded To header; ORIGINAL the display name of its address.
KIND param:   ENCODED is the parameters of a Content-Disposition; ORIGINAL the file name
              with its control characters removed.
KIND list, listu: ENCODED is the List-Unsubscribe header of a composed message; ORIGINAL
              the value merged into each of its URLs (LIST_URLS). A reader must find
              exactly those URLs in their brackets, each holding only characters a URL
              may hold, and each, %-decoded as UTF-8, the URL with the value in it (its
              line breaks as blanks).

Prints one line per case: "ok", or "bad: <why>".
"""
import email
import email.header
import email.policy
import email.quoprimime
import email.utils
import re
import sys
import urllib.parse

PY_CHARSET = {"utf-8": "utf-8", "windows-1252": "cp1252"}


def text_of(original, charset):
    # Windows-1252 leaves five bytes undefined; a reader shows them as replacements.
    return original.decode(PY_CHARSET[charset], "replace")


def check_qp(charset, original, encoded):
    lines = encoded.split(b"\r\n")
    for line in lines:
        if len(line) > 76:
            return "line of %d characters" % len(line)
        if any(b < 0x20 and b != 0x09 or b > 0x7E for b in line):
            return "not printable ASCII: %r" % line
        if line.startswith(b".") or line.startswith(b"--"):
            return "line starts like the end of data or a boundary: %r" % line
    # A relay may strip blanks at line ends; a correct encoding loses nothing by it.
    delivered = b"\r\n".join(line.rstrip(b" \t") for line in lines)
    raw = (b"Content-Type: text/plain; charset=" + charset.encode() +
           b"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + delivered + b"\r\n")
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    got = msg.get_payload(decode=True)
    return None if got == original else "decoded %r" % got


ENCODED_WORD = re.compile(rb"=\?([^?]+)\?[Qq]\?([^?]*)\?=")


def header_message(encoded):
    for line in encoded.split(b"\r\n"):
        if len(line) > 998 or any(b > 0x7F for b in line):
            return None, "line too long or not ASCII: %r" % line[:80]
    # Many readers decode every encoded-word on its own: each must hold whole characters.
    for charset, text in ENCODED_WORD.findall(encoded):
        try:
            email.quoprimime.header_decode(text.decode()).encode("latin-1").decode(
                PY_CHARSET.get(charset.decode().lower(), "ascii"),
                "strict" if charset.lower() == b"utf-8" else "replace")
        except UnicodeDecodeError:
            return None, "an encoded-word holds part of a character: %r" % text
    raw = encoded + b"\r\n\r\n"
    return email.message_from_bytes(raw, policy=email.policy.default), None


def check_subject(charset, original, encoded):
    msg, bad = header_message(encoded)
    if bad:
        return bad
    if msg.defects or msg["subject"].defects:
        return "defects %r" % (list(msg.defects) + list(msg["subject"].defects))
    got = str(msg["subject"])
    # A reader drops blanks at the start of a header value.
    want = text_of(original, charset)
    return None if got.lstrip(" \t") == want.lstrip(" \t") else "read %r" % got


def check_to(charset, original, encoded):
    msg, bad = header_message(encoded)
    if bad:
        return bad
    # The parser of policy.default keeps the blanks between encoded-words of a display
    # name and turns tabs into blanks; the older parser and decode_header do neither.
    raw = email.message_from_bytes(encoded + b"\r\n\r\n", policy=email.policy.compat32)["to"]
    name, addr = email.utils.parseaddr(raw)
    if addr != "ann@x.example":
        return "address %r in %r" % (addr, raw)
    if not raw.lstrip().startswith('"'):  # encoded-words; inside quotes nothing is decoded
        name = "".join(part if isinstance(part, str) else
                       part.decode(PY_CHARSET.get(charset or "", charset or "ascii"), "replace")
                       for part, charset in email.header.decode_header(name))
    return None if name == text_of(original, charset) else "display name %r" % name


def check_param(charset, original, encoded):
    raw = b"Content-Disposition: attachment; " + encoded + b"\r\n\r\n"
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    got = msg.get_filename()
    # This reader drops blanks at the ends of a file name, and quotes or angle brackets
    # around it.
    want = email.utils.unquote(text_of(original, charset)).strip()
    return None if got == want else "file name %r" % got


LIST_URLS = {
    "list": "<https://example.org/u?n={0}>, <mailto:leave@example.org?subject={0}>",
    "listu": "<https://example.org/%C3%BCber?n={0}>",
}


def check_list(kind, charset, original, encoded):
    msg, bad = header_message(encoded)
    if bad:
        return bad
    header = msg["list-unsubscribe"]
    if msg.defects or header.defects:
        return "defects %r" % (list(msg.defects) + list(header.defects))
    text = re.sub(r"\r\n|\r|\n", " ", text_of(original, charset))
    want = [url.format(text) for url in re.findall(r"<([^<>]*)>", LIST_URLS[kind])]
    got = str(header)
    urls = re.findall(r"<([^<>]*)>", got)
    if got != ", ".join("<%s>" % url for url in urls) or len(urls) != len(want):
        return "read %r, want URLs %r" % (got, want)
    for url, wanted in zip(urls, want):
        if urllib.parse.quote(url, safe="!#$%&'()*+,/:;=?@[]~") != url:
            return "a character a URL cannot hold in %r" % url
        if urllib.parse.unquote(url) != urllib.parse.unquote(wanted):
            return "read %r, want %r" % (url, wanted)
    return None


CHECKS = {"qp": check_qp, "subject": check_subject, "to": check_to, "param": check_param,
          "list": lambda *a: check_list("list", *a), "listu": lambda *a: check_list("listu", *a)}


def unhex(field):
    return b"" if field == b"-" else bytes.fromhex(field.decode())


def main():
    out = []
    for line in sys.stdin.buffer.read().split(b"\n"):
        if not line.strip():
            continue
        kind, charset, original, encoded = line.split(b" ")
        try:
            why = CHECKS[kind.decode()](charset.decode(), unhex(original), unhex(encoded))
        except Exception as e:  # a crash of the reader is a failure of the case
            why = "reader failed: %r" % e
        out.append("ok" if why is None else "bad: " + why)
    sys.stdout.write("\n".join(out) + "\n")


main()
