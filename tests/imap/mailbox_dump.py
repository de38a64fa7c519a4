#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads a mailbox back with Python's own IMAP client, as an oracle for the tests.

Usage: mailbox_dump.py PORT CAFILE USER PASSWORD

Logs in over TLS on 127.0.0.1:PORT (the certificate checked against CAFILE), finds the
folder marked \\Sent in the answers to LIST by itself, and prints one JSON object:
{"folders": [[attributes, name as sent]...], "sent": name as sent or null,
 "messages": [{"flags": [...], "data": base64 of the bytes}...]} in the folder's order.
"""
import base64
import imaplib
import json
import re
import ssl
import sys

port, cafile, user, password = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
context = ssl.create_default_context(cafile=cafile)
imap = imaplib.IMAP4_SSL("127.0.0.1", int(port), ssl_context=context)
imap.login(user, password)

typ, lines = imap.list('""', '*')
assert typ == "OK", lines
folders, sent = [], None
pattern = re.compile(rb'^\((?P<attrs>[^)]*)\) (?:"(?:[^"\\]|\\.)*"|NIL) (?P<name>.+)$')
for line in lines:
    match = pattern.match(line)
    assert match, line
    attrs = match.group("attrs").decode().split()
    name = match.group("name").decode()
    folders.append([attrs, name])
    if "\\Sent" in attrs:
        sent = name

messages = []
if sent is not None:
    typ, data = imap.select(sent, readonly=True)
    assert typ == "OK", data
    count = int(data[0])
    for number in range(1, count + 1):
        typ, data = imap.fetch(str(number), "(FLAGS)")
        assert typ == "OK", data
        flags = re.search(rb"FLAGS \(([^)]*)\)", data[0]).group(1).decode().split()
        typ, data = imap.fetch(str(number), "(BODY.PEEK[])")
        assert typ == "OK", data
        messages.append({"flags": flags, "data": base64.b64encode(data[0][1]).decode()})
imap.logout()
print(json.dumps({"folders": folders, "sent": sent, "messages": messages}))
