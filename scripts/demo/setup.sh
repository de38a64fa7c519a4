#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes a first-start set-up into DIR (the program's directory): Tandrel.ini pointing at
# a test mail server on 127.0.0.1:PORT, and in DIR/demo/ the demo field list, database
# and mail that the settings reopen at start-up. The program's file dialogs open where
# the files in use are, so they open in DIR/demo/ rather than among the build files.
# Usage: setup.sh DIR PORT
set -euo pipefail
DIR=$(cd "$1" && pwd)
PORT=$2
HERE=$(cd "$(dirname "$0")" && pwd)

DEMO=$DIR/demo
mkdir -p "$DEMO"
for f in fields people mail; do
    # The program writes CR LF line ends; the demo files look like its own.
    sed 's/$/\r/' "$HERE/$f.txt" >"$DEMO/$f.txt"
done
printf '%s\r\n' \
    "[Network]" "smtp=127.0.0.1" "name=Tandrel Demo" "port=$PORT" "fromaddy=demo@example.org" \
    "[Database]" "fielddelim=59" \
    "[User]" "lastmail=$DEMO/mail.txt" "lastfields=$DEMO/fields.txt" \
    "lastdb=$DEMO/people.txt" >"$DIR/Tandrel.ini"
