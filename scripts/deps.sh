#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Tandrel needs to build, run and test, when missing.
# Safe to run again: it only installs what is not there yet.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 libgl-dev
  libgtest-dev googletest
  libssl-dev openssl qtkeychain-qt6-dev libmd4c-dev libmd4c-html0-dev
  python3 python3-aiosmtpd postfix
  libcurl4-openssl-dev dovecot-core dovecot-imapd
  xvfb xauth xdotool imagemagick x11-utils
  dbus dbus-x11 at-spi2-core python3-pyatspi gnome-keyring
  desktop-file-utils appstream
  fonts-dejavu-core locales
  tzdata
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# A non-English locale lets the tests check that dates stay English.
ensure_test_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || true
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  ensure_test_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Postfix is wanted only for its test sink; keep it from configuring a mail system.
echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
echo "postfix postfix/mailname string localhost" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_test_locale
