# Sourced by every script: stop at the first failing command and say which one and where, so a
# run that ends early never ends silently.
set -Eeuo pipefail
trap 'status=$?; echo "$(basename "$0"): failed (status $status) at line $LINENO: $BASH_COMMAND" >&2' ERR
