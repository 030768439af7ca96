#!/bin/sh
# The scrape configuration of README.md's "Watch a fleet" section must be one
# Prometheus accepts as written: promtool checks the first yaml block there.
#   readme_scrape_config.sh PROMTOOL README.md WORK_FOLDER
set -eu
promtool=$1 readme=$2 work=$3
mkdir -p "$work"
awk '/^## Watch a fleet$/ { section = 1 }
     section && /^```yaml$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside' "$readme" >"$work/prometheus.yml"
[ -s "$work/prometheus.yml" ] || { echo "no yaml block in the Watch a fleet section" >&2; exit 1; }
grep -q "9839" "$work/prometheus.yml" || { echo "the scrape config does not use port 9839" >&2; exit 1; }
"$promtool" check config "$work/prometheus.yml"
