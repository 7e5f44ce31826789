#!/bin/bash
# Usage: demo/install-v1.sh PREFIX [Lunder19.EXE of Ver1.0]
# Installs the demo application's Ver1.0 into an existing Wine prefix (see demo/lib.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/lib.sh"
[ $# -ge 1 ] || { echo "usage: $0 PREFIX [Lunder19.EXE]" >&2; exit 2; }
demo_install_v1 "$1" "${2:-$here/../build/bin/demo/v1/Lunder19.EXE}"
