#!/usr/bin/env bash
# Installs what Quillstep needs on Debian 12 and is missing, then runs the
# setup hooks in scripts/setup.d. Idempotent; quick when nothing is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"
    elif command -v sudo >/dev/null; then sudo "$@"
    else echo "setup: '$*' needs root; run as root or install sudo" >&2; return 1
    fi
}

mapfile -t wanted < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$here/apt-packages.txt")
missing=()
for pkg in "${wanted[@]}"; do
    # A node that ships its own npm (NodeSource, nvm) is as good as Debian's.
    case "$pkg" in nodejs|npm) command -v npm >/dev/null && continue ;; esac
    status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -qq
    as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

for hook in "$here"/setup.d/*.sh; do
    [ -e "$hook" ] || continue
    bash "$hook"
done
