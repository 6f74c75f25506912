#!/usr/bin/env bash
# Installs what ZYL needs from Debian's packages. Idempotent: does nothing when every package is
# already present. Needs root to install.
# Usage: scripts/install-deps.sh [run|test|fuzz]
#   run  (the default): building the three programs and running them (scripts/run.sh);
#   test: that and everything the tests, the benchmarks, the Debian package and its checks and
#         the local Slurm cluster need (scripts/test.sh);
#   fuzz: that and clang with libFuzzer (scripts/fuzz.sh).
set -euo pipefail

level=${1:-run}
case "$level" in
    run|test|fuzz) ;;
    *) echo "usage: scripts/install-deps.sh [run|test|fuzz]" >&2; exit 2 ;;
esac

packages=(g++ cmake make ninja-build libsqlite3-dev libreadline-dev
          qt6-base-dev qt6-svg-dev libgl-dev libcli11-dev nlohmann-json3-dev)
if [ "$level" != run ]; then
    packages+=(python3 libgtest-dev libgmock-dev libbenchmark-dev
               # pgrep, for the tests that check no program is left running.
               procps
               # The icon's PNG sizes, the Debian package and its checks (scripts/package.sh).
               librsvg2-bin dpkg-dev file lintian desktop-file-utils shared-mime-info man-db
               # The one-node cluster of scripts/local-slurm.sh, for the cluster tests.
               slurm-wlm munge)
fi
if [ "$level" = fuzz ]; then
    packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
# The Slurm and munge packages would start their daemons with the system's configuration;
# scripts/local-slurm.sh starts them with its own, so the package scripts may start nothing.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
    $SUDO sh -c "printf '#!/bin/sh\nexit 101\n' > $policy && chmod 755 $policy"
    trap '$SUDO rm -f "$policy"' EXIT
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
