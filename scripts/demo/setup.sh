#!/usr/bin/env bash
# Writes a first-start set-up into DIR (the program's directory): Tandrel.ini pointing at
# a test mail server on 127.0.0.1:PORT, and the demo field list, database and mail that
# the settings reopen at start-up. Usage: setup.sh DIR PORT
set -euo pipefail
DIR=$(cd "$1" && pwd)
PORT=$2
HERE=$(cd "$(dirname "$0")" && pwd)

for f in fields people mail; do
    # The program writes CR LF line ends; the demo files look like its own.
    sed 's/$/\r/' "$HERE/$f.txt" >"$DIR/demo-$f.txt"
done
printf '%s\r\n' \
    "[Network]" "smtp=127.0.0.1" "name=Tandrel Demo" "port=$PORT" "fromaddy=demo@example.org" \
    "[Database]" "fielddelim=59" \
    "[User]" "lastmail=$DIR/demo-mail.txt" "lastfields=$DIR/demo-fields.txt" \
    "lastdb=$DIR/demo-people.txt" >"$DIR/Tandrel.ini"
