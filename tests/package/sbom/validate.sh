#!/usr/bin/env bash
# Validates CycloneDX JSON documents with npm's @cyclonedx/cyclonedx-library (validate.js).
# The library and its schema validator are installed into build/npm from this folder's
# package.json and package-lock.json; a later run whose lock file has not changed installs
# nothing.
#
#   validate.sh <bom.json>...
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../../.." && pwd)
npm_dir=$root/build/npm

command -v node >/dev/null && command -v npm >/dev/null ||
  { echo "validate.sh: Node.js 20.18 or later and npm are needed to validate the SBOMs" >&2; exit 2; }

if ! cmp -s "$here/package-lock.json" "$npm_dir/package-lock.json" ||
    ! cmp -s "$here/package.json" "$npm_dir/package.json" ||
    [[ ! -f $npm_dir/node_modules/.package-lock.json ]]; then
  mkdir -p "$npm_dir"
  rm -f "$npm_dir/package-lock.json"
  cp "$here/package.json" "$here/package-lock.json" "$npm_dir/"
  (cd "$npm_dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) >&2 || {
    # Without a finished install the next run must try again.
    rm -f "$npm_dir/package-lock.json"
    echo "validate.sh: npm ci in $npm_dir failed" >&2
    exit 2
  }
fi
NODE_PATH=$npm_dir/node_modules node "$here/validate.js" "$@"
