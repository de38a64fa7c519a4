#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A plain Python mail merge, the way one is usually written, to compare Tandrel with.

usage: mailmerge.py FIELDS DB MAIL HOST PORT [ATTACHMENT...]

Reads the same field, database (";"-separated) and mail files as tandrel-bench, builds
one message per person with the standard email package (placeholders "[field]" replaced
in the To, Subject and body, attachments as MIME parts) and sends them all with smtplib
over one connection. Each attachment is read once. The last line has the same form as
tandrel-bench's:

  prepare_s=... deliver_s=... messages=... accepted=... peak_rss_kb=...

prepare_s is the time spent building messages, deliver_s the time spent in smtplib
(connection, every transaction and QUIT).
"""

import mimetypes
import os
import resource
import smtplib
import socket
import sys
import time
from email.message import EmailMessage
from email.utils import formatdate, parseaddr


def read_lines(path):
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    text = text.split("\0", 1)[0]
    lines = text.replace("\r\n", "\n").replace("\r", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


def read_mail(path):
    lines = read_lines(path)
    headers = {"from": "", "to": "", "subject": ""}
    if "" in lines and lines.index("") > 0:
        n = lines.index("")
        for line in lines[:n]:
            key, _, value = line.partition(":")
            if key.lower() in headers:
                headers[key.lower()] = value.strip()
        lines = lines[n + 1:]
    return headers, "\n".join(lines) + "\n"


def merge(text, fields, values):
    for field, value in zip(fields, values):
        text = text.replace("[" + field + "]", value)
    return text


def main(argv):
    if len(argv) < 6:
        sys.stderr.write(__doc__)
        return 1
    fields_path, db_path, mail_path, host, port = argv[1:6]
    attachment_paths = argv[6:]

    t_load = time.perf_counter()
    fields = read_lines(fields_path)
    email_col = [f.lower() for f in fields].index("email")
    people = [line.split(";") for line in read_lines(db_path)]
    headers, body = read_mail(mail_path)
    sender = parseaddr(headers["from"])[1]
    attachments = []
    for path in attachment_paths:
        ctype, encoding = mimetypes.guess_type(path)
        if ctype is None or encoding is not None:
            ctype = "application/octet-stream"
        maintype, subtype = ctype.split("/", 1)
        with open(path, "rb") as f:
            attachments.append((f.read(), maintype, subtype, os.path.basename(path)))
    print(f"load_s={time.perf_counter() - t_load:.3f} people={len(people)} fields={len(fields)}")

    prepare = 0.0
    accepted = 0
    t_deliver = time.perf_counter()
    smtp = smtplib.SMTP(host, int(port), local_hostname=socket.gethostname())
    for values in people:
        t0 = time.perf_counter()
        msg = EmailMessage()
        msg["Date"] = formatdate(localtime=True)
        msg["From"] = headers["from"]
        msg["To"] = merge(headers["to"], fields, values)
        msg["Subject"] = merge(headers["subject"], fields, values)
        msg.set_content(merge(body, fields, values))
        for data, maintype, subtype, filename in attachments:
            msg.add_attachment(data, maintype=maintype, subtype=subtype, filename=filename)
        prepare += time.perf_counter() - t0
        try:
            refused = smtp.send_message(msg, from_addr=sender, to_addrs=[values[email_col]])
            if not refused:
                accepted += 1
        except smtplib.SMTPResponseException as e:
            sys.stderr.write(f"refused: {values[email_col]}: {e.smtp_code}\n")
        except smtplib.SMTPRecipientsRefused:
            sys.stderr.write(f"refused: {values[email_col]}\n")
    smtp.quit()
    deliver = time.perf_counter() - t_deliver - prepare

    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"prepare_s={prepare:.3f} deliver_s={deliver:.3f} messages={len(people)} "
          f"accepted={accepted} peak_rss_kb={peak}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
