#!/usr/bin/env bash
# Fails, naming file and line, when a source or header includes a folder of a
# higher layer than its own. Tests sit at the layer of the folder they mirror
# (tests/engine/net at the engine's); integration tests, fuzz targets and
# benchmarks sit above everything. This list is the one statement of the order.
set -uo pipefail
cd "$(dirname "$0")/.."

# Lowest first; folders on one line share a layer and may include each other.
layers='
platform
engine/base
report
engine/storage
engine/core engine/net
app
cli tools ui
tests/integration fuzz bench
'

git ls-files -z '*.cpp' '*.h' |
  xargs -0 grep -nH -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' |
  awk -v layers="$layers" '
    BEGIN {
      n = split(layers, rows, "\n"); k = 0
      for (i = 1; i <= n; i++) {
        if (rows[i] == "") continue
        k++; m = split(rows[i], names, " ")
        for (j = 1; j <= m; j++) { rank[names[j]] = k; title[k] = rows[i] }
      }
    }
    # The layer of a path: its longest listed folder, tests/X counted as X.
    function layer(path,    best, f) {
      if (path !~ /^tests\/integration\//) sub(/^tests\//, "", path)
      best = ""
      for (f in rank)
        if (index(path, f "/") == 1 && length(f) > length(best)) best = f
      return best == "" ? 0 : rank[best]
    }
    {
      file = $0; sub(/:.*/, "", file)
      rest = substr($0, length(file) + 2); line = rest; sub(/:.*/, "", line)
      target = rest; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
      if (target !~ /\//) next        # a file beside the includer
      own = layer(file); theirs = layer(target)
      if (own == 0) next              # scripts and tools outside the layers
      if (theirs == 0) {
        printf "%s:%s: includes \"%s\", which belongs to no layer\n", file, line, target; bad = 1
      } else if (theirs > own) {
        printf "%s:%s: includes \"%s\" from a higher layer (%s above %s)\n", file, line, target, title[theirs], title[own]; bad = 1
      }
    }
    END {
      if (bad) exit 1
      print "layers: every include points down"
    }'
