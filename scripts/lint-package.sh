#!/usr/bin/env bash
# Packs the programs of a build (the dev build by default, as CI has it;
# see scripts/package.sh) and checks the package with lintian. Any error or
# warning fails; a tag that is meant carries its reason in
# packaging/debian/lintian-overrides. Informational tags are shown too.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/install-deps.sh
deb=$(bash scripts/package.sh --from "$build" | tail -n 1)
echo "lintian $deb"
# lintian says it would rather not run as root; CI may be root.
lintian --fail-on error,warning --display-info --show-overrides "$deb" 2> >(grep -v 'running with root privileges' >&2)
echo "lintian: no error and no warning"
