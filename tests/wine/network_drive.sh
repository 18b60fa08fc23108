#!/bin/sh
# Makes N: a network drive of the Wine prefix in WINEPREFIX, holding the given folder, for the
# doctor's test of an install on a network drive:
#   network_drive.sh FOLDER
# Wine reads the types of its drives when a session starts, so the session is ended afterwards;
# that also keeps this headless session from blinding the display tests in the prefix.
set -eu
mkdir -p "$1"
ln -sfn "$1" "$WINEPREFIX/dosdevices/n:"
wine reg add 'HKLM\Software\Wine\Drives' /v n: /d network /f >/dev/null
wineserver -k
