#!/usr/bin/env bash
# The demo (`make demo`, after the build): lists the plug-ins, evaluates the Twirl example
# into out/ and draws it.
set -euo pipefail
cd "$(dirname "$0")/.."

kwhost=build/bin/kwhost
if [ ! -x "$kwhost" ]; then
  echo "demo: $kwhost is missing; build first (make build)" >&2
  exit 1
fi
mkdir -p out

echo "== kwhost plugins"
"$kwhost" plugins
echo
echo "== kwhost eval examples/twirl.json"
"$kwhost" eval examples/twirl.json --out out/ --json out/report.json
echo
echo "== kwhost render examples/twirl.json"
"$kwhost" render examples/twirl.json --out out/twirl.png --size 960x720
echo
echo "The deformed mesh is out/Sheet.obj, the report out/report.json, the picture out/twirl.png."
