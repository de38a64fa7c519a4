#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A "browser" for the tests: called with an address (as $BROWSER is), it requests it and
follows the redirects, so the identity provider's answer reaches the program's loopback
listener. Each call appends the address to the file named by $TANDREL_BROWSER_LOG, when
set, so a test can tell whether the browser was needed."""
import os
import sys
import urllib.error
import urllib.request

address = sys.argv[-1]
log = os.environ.get("TANDREL_BROWSER_LOG")
if log:
    with open(log, "a", encoding="utf-8") as f:
        f.write(address + "\n")
# Straight to 127.0.0.1 whatever proxy the environment names.
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
try:
    with opener.open(address, timeout=30) as reply:
        reply.read()
except urllib.error.HTTPError as refusal:  # a page that refused, as a browser shows it
    sys.exit("browser: %s answered %d" % (refusal.url, refusal.code))
