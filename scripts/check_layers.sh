#!/usr/bin/env bash
# Checks that the product's layers depend one way: base -> platform -> music
# -> app. A file includes headers of its own layer and the layers below it;
# the systems' own code (platform/posix, platform/win32) is included only
# from within itself; outside platform/ no OS header is included, only the
# C++ library's (a name without "." or "/"). Names every include that breaks
# this, and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
find base platform music app -name '*.h' -o -name '*.cpp' | sort |
  xargs grep -Hn '^[[:space:]]*#[[:space:]]*include' |
  awk -F: '
    BEGIN { rank["base"] = 1; rank["platform"] = 2; rank["music"] = 3
            rank["app"] = 4 }
    function layer(path) { split(path, part, "/"); return rank[part[1]] + 0 }
    function own(path) {
      return match(path, /^platform\/[^\/]+\//) ? substr(path, 1, RLENGTH) : ""
    }
    {
      file = $1; text = substr($0, length($1) + length($2) + 3)
      if (match(text, /"[^"]*"/)) {
        header = substr(text, RSTART + 1, RLENGTH - 2)
        if (layer(header) == 0 || layer(header) > layer(file) ||
            (own(header) != "" && own(header) != own(file)))
          problem = "a header from above its layer or another system"
      } else if (file !~ /^platform\// && text ~ /<[^>]*[.\/][^>]*>/) {
        problem = "an OS header outside platform/"
      }
      if (problem != "") { print file ":" $2 ": includes " problem ": " text
                           failed = 1; problem = "" }
    }
    END { if (failed) exit 1; print "layers: one way" }'
