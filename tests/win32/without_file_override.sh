#!/bin/sh
# Runs a command without root's power to write any file whatever its permissions
# (CAP_DAC_OVERRIDE), so that a read-only file stays read-only: Wine keeps the
# read-only attribute in the Unix permissions. Anyone else runs the command as is.
#   without_file_override.sh COMMAND [ARGUMENT...]
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  exec setpriv --bounding-set=-dac_override -- "$@"
fi
exec "$@"
