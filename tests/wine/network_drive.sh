#!/bin/sh
# Makes N: a network drive of the Wine prefix in WINEPREFIX, holding the given folder, for the
# doctor's test of an install on a network drive:
#   network_drive.sh FOLDER
# Wine reads the types of its drives when a session starts, so the session is ended afterwards;
# that also keeps this headless session from blinding the display tests in the prefix.
set -u
if ! { mkdir -p "$1" && ln -sfn "$1" "$WINEPREFIX/dosdevices/n:" &&
  wine reg add 'HKLM\Software\Wine\Drives' /v n: /d network /f >/dev/null; }; then
  echo "N: could not be made a network drive of $WINEPREFIX" >&2
  exit 1
fi
wineserver -k
