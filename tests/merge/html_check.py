# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads message files with Python's email package and the HTML part of each with
Python's html.parser, and prints one JSON line per file: the start tags inside <body>
in order, each with its attributes as the parser decodes them, and the text a reader
sees there (comments left out).

usage: html_check.py MESSAGE...
"""
import email
import email.policy
import html.parser
import json
import sys


class BodyReader(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.in_body = False
        self.tags = []
        self.text = []

    def handle_starttag(self, tag, attrs):
        if tag == "body":
            self.in_body = True
        elif self.in_body:
            self.tags.append([tag, [[k, v] for k, v in attrs]])

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)

    def handle_endtag(self, tag):
        if tag == "body":
            self.in_body = False

    def handle_data(self, data):
        if self.in_body:
            self.text.append(data)


def main():
    for path in sys.argv[1:]:
        with open(path, "rb") as f:
            msg = email.message_from_bytes(f.read(), policy=email.policy.default)
        part = msg.get_body(preferencelist=("html",))
        reader = BodyReader()
        reader.feed(part.get_content() if part is not None else "")
        reader.close()
        defects = [type(d).__name__ for p in msg.walk() for d in p.defects]
        print(json.dumps({"defects": defects, "tags": reader.tags, "text": "".join(reader.text)}))


main()
