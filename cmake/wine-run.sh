#!/bin/sh
# Runs a cross-built program under Wine for ctest.
: "${WINEDEBUG:=-all}"; export WINEDEBUG
exec wine "$@"
