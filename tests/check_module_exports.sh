#!/bin/sh
# check_module_exports.sh MODULE LIBRARY
# The plug-in module carries its own copy of the reader; were a class of the library among
# its exports, a process that loads both could bind one to the other's copy. Fails when
# MODULE exports anything but Qt's two plug-in entry points. LIBRARY must export the
# reader's handler class, so a class symbol is known to be seen where there is one.
set -eu
module=$1
library=$2

defined() { nm -D --defined-only "$1" | awk 'NF == 3 { print $3 }'; }

if ! defined "$library" | c++filt | grep -q '^QPsdHandler::'; then
    echo "FAIL: $library exports no QPsdHandler symbol; the check would see nothing"
    exit 1
fi
exports=$(defined "$module")
extra=$(printf '%s\n' "$exports" | grep -v -x -e qt_plugin_instance -e qt_plugin_query_metadata || true)
if [ -n "$extra" ]; then
    echo "FAIL: $module exports more than the plug-in entry points:"
    printf '%s\n' "$extra" | c++filt
    exit 1
fi
echo "PASS: $module exports only:" $exports
