#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the input files of a benchmark run into a directory.

  fields.txt   the field list: name, email and four more fields
  db.txt       one person per line, values joined by ";" (the default delimiter)
  mail.txt     a mail whose To and Subject lines and about 2 KB body hold placeholders
  attach.bin   (with --attachment-size) a file of pseudo-random bytes, sent as base64

The content is fixed by the arguments: the same call always writes the same bytes, so
runs on different machines compare like with like.
"""

import argparse
import os
import random

FIELDS = ["name", "email", "firstname", "town", "company", "customer"]

TOWNS = ["Northbridge", "Eastwick", "Southport", "Westhaven", "Kingsfield", "Ashford",
         "Millbrook", "Riverton", "Oakdale", "Fairview", "Lakeside", "Stonebury"]
FIRST = ["Alex", "Sam", "Robin", "Kim", "Jo", "Chris", "Pat", "Lee", "Dana", "Toni",
         "Mika", "Noor", "Ravi", "Ines", "Ole", "Yuki"]

# About 2 KB of body text; placeholders stand in several lines and twice in one line.
BODY_TEMPLATE = """Dear [firstname],

thank you for your continued interest in our work. This letter goes to
[name] at [company] in [town], customer number [customer].

We are writing to let you know about the changes to our service for the
coming season. Many of you asked for longer opening hours, and from next
month the office in [town] will be open on Saturday mornings as well.

The new price list is attached to this message. Prices for existing
customers stay the same until the end of the year; after that, the
discount for [company] will be applied to every order automatically,
so there is nothing you need to do.

If any of the details below are wrong, please reply to this mail and we
will correct them:

    Name:      [name]
    E-mail:    [email]
    Town:      [town]
    Customer:  [customer]

Our team will also visit [town] in the spring. If you would like to meet
us there, write back with a day and a time that suits you, and we will
do our best to find a slot. The meetings take about half an hour and are
free of charge for every customer, including [company].

Some of you have asked how the new ordering pages work. Orders placed
before noon leave our warehouse the same day; orders placed later leave
the next morning. Deliveries to [town] usually arrive within two working
days, and you can follow each parcel with the number in the confirmation
mail. Returns are free within thirty days, whatever the reason, and the
refund reaches your account within a week of the parcel reaching us.

We would also like to thank everyone who took part in last year's survey.
Your answers shaped most of the changes in this letter, and we will ask
again in the autumn. [firstname], if you have ideas before then, simply
reply to this message: every reply is read by a person, not a machine.

Finally, a word on privacy: we keep your address only to send you these
letters. You can ask us at any time to remove [email] from our list,
and we will do so within a week.

With kind regards,

The customer service team
--
This message was sent to [email] ([name]).
"""


def person(i):
    first = FIRST[i % len(FIRST)]
    return [
        f"{first} Person{i:06d}",
        f"person{i:06d}@bench.example",
        first,
        TOWNS[(i * 7) % len(TOWNS)],
        f"Company {i % 97} Ltd",
        f"C{100000 + i}",
    ]


def write_lines(path, lines):
    with open(path, "wb") as f:
        for line in lines:
            f.write(line.encode("ascii") + b"\r\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir")
    ap.add_argument("--people", type=int, default=1000)
    ap.add_argument("--attachment-size", type=int, default=0,
                    help="bytes of attach.bin (0: no attachment file)")
    args = ap.parse_args()

    os.makedirs(args.outdir, exist_ok=True)
    write_lines(os.path.join(args.outdir, "fields.txt"), FIELDS)
    write_lines(os.path.join(args.outdir, "db.txt"),
                (";".join(person(i)) for i in range(1, args.people + 1)))

    body = BODY_TEMPLATE.splitlines()
    mail = [
        "From: \"Bench Sender\" <you@provider.example>",
        "To: \"[name]\" <[email]>",
        "Subject: News for [firstname] at [company] in [town]",
        "",
    ] + body
    write_lines(os.path.join(args.outdir, "mail.txt"), mail)

    if args.attachment_size > 0:
        rng = random.Random(9)
        with open(os.path.join(args.outdir, "attach.bin"), "wb") as f:
            f.write(rng.randbytes(args.attachment_size))


if __name__ == "__main__":
    main()
